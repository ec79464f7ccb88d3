// full_disk.h - a folder on a full disk, for tests of what a failed write
// keeps.
//
// Where the test may mount a file system (as root outside a sandbox), the
// folder is a small tmpfs of its own that Fill() takes to its last block, so
// the system itself refuses the writes. Elsewhere Fill() makes the file
// service's writes fail with ENOSPC instead: the same refusal, seen by
// everything that writes through the service.
#pragma once

#include "platform/files/files_internal.h"
#include "tests/support/process.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace qvar_test {

class FullDisk {
public:
    FullDisk() : path_(scratch_.file("disk"))
    {
        std::filesystem::create_directory(path_);
        mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k") == 0;
    }
    ~FullDisk()
    {
        qvar::files::resetSys();
        if (mounted_)
            ::umount2(path_.c_str(), MNT_DETACH);
    }
    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    bool mounted() const { return mounted_; }

    // No room from here on; the files already there stay as they are.
    void Fill()
    {
        if (mounted_) {
            const int fd = ::open(file(kFiller).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            static const char block[4096] = {};
            while (fd >= 0 && ::write(fd, block, sizeof block) > 0) {
            }
            while (fd >= 0 && ::write(fd, block, 1) > 0) {
            }
            if (fd >= 0)
                ::close(fd);
        } else {
            qvar::files::sys().write = [](int, const void *, size_t) -> ssize_t {
                errno = ENOSPC;
                return -1;
            };
        }
    }

    // What the folder holds, the filler aside: a failed write leaves nothing.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names = qvar_test::Entries(path_);
        std::erase(names, kFiller);
        return names;
    }

private:
    static constexpr const char *kFiller = ".filler";
    ScratchDir scratch_;
    std::string path_;
    bool mounted_ = false;
};

} // namespace qvar_test
