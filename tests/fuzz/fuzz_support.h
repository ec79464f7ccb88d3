// fuzz_support.h - what the fuzz targets share: a byte reader over the input
// and a scratch folder of the process's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace qvar_fuzz {

// Takes numbers and pieces off the front of the fuzzer's input.
class Input {
public:
    Input(const uint8_t *data, size_t size) : p_(data), left_(size) {}
    bool empty() const { return left_ == 0; }
    size_t left() const { return left_; }
    uint8_t byte() { return left_ ? (--left_, *p_++) : 0; }
    // A piece of at most `max` bytes, its length taken from the input.
    std::string piece(size_t max)
    {
        size_t n = byte();
        n = n % (max + 1);
        if (n > left_)
            n = left_;
        std::string s(reinterpret_cast<const char *>(p_), n);
        p_ += n;
        left_ -= n;
        return s;
    }
    std::string rest()
    {
        std::string s(reinterpret_cast<const char *>(p_), left_);
        p_ += left_;
        left_ = 0;
        return s;
    }

private:
    const uint8_t *p_;
    size_t left_;
};

// A folder under /tmp for this fuzzing process, made once and removed at
// exit. Kept in a plain array: the exit handler runs after static strings
// are gone.
inline std::string ScratchDir()
{
    static char dir[] = "/tmp/qvar-fuzz-XXXXXX";
    static const bool made = [] {
        if (!mkdtemp(dir))
            std::abort();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        });
        return true;
    }();
    (void)made;
    return dir;
}

} // namespace qvar_fuzz
