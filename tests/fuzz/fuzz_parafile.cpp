// fuzz_parafile.cpp - the parameter-file reader: any file content through
// FileToNumbers as the parameter file is read (exactly 32 numbers of 16
// bits), into the channel variables as a load does, or through FileToArray
// with other shapes picked by the input.
#define QVAR_HIDE_SYNC   // unistd.h has a sync() of its own
#include "link/com232.h"
#include "platform/files/files.h"
#include "state/qvar.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    qvar_fuzz::Input in(data, size);
    const uint8_t shape = in.byte();
    const std::string path = qvar_fuzz::ScratchDir() + "/para.dat";
    const std::string text = in.rest();
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }

    uint32_t words[64] = {};
    if (shape < 128) {
        FilePlace at;
        if (FileToNumbers(path.c_str(), words, 32, 0xFFFF, &at) >= 0) {
            for (int ch = 0; ch < 2; ch++) {
                for (int i = 0; i < 16; i++)
                    pp[i] = static_cast<uint16_t>(words[16 * ch + i] & 0xFFFF);
                CopyPPtoVars(static_cast<uint16_t>(ch));
            }
        }
        return 0;
    }
    // Other element kinds, group counts and layouts of the same reader.
    const int elem = shape & 1 ? FILE_ELEM_CHAR : FILE_ELEM_U32;
    const int groups = (shape >> 1) % 4 + 1;
    const int count = 64 / groups * groups;
    unsigned char bytes[64] = {};
    FileToArray(path.c_str(), elem == FILE_ELEM_CHAR ? static_cast<void *>(bytes) : words, elem, count,
                groups, (shape >> 3) & 1, (shape >> 4) & 1, (shape >> 5) & 1);
    return 0;
}
