// fuzz_simopts.cpp - qvar-sim's command line: the input split at NUL bytes
// into arguments.
#include "sim/ptyserve.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back().push_back(static_cast<char>(data[i]));
    }
    try {
        qvar::ptyserve::parse_options(args);
    } catch (const qvar::ptyserve::BadOption &) {
    }
    return 0;
}
