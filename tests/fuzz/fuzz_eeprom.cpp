// fuzz_eeprom.cpp - qvar-sim's EEPROM file: any content loaded as qvar-sim
// loads it, and what was accepted saved and loaded again unchanged.
#include "sim/controller.h"
#include "sim/ptyserve.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = qvar_fuzz::ScratchDir() + "/eeprom.txt";
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    qvar::sim::Controller c(1);
    bool missing = false;
    std::string error;
    if (!qvar::ptyserve::load_eeprom_file(path, c, &missing, &error))
        return 0;
    const auto a = c.eeprom(0), b = c.eeprom(1);
    if (!c.save_eeprom(path, &error))
        return 0;
    qvar::sim::Controller again(1);
    if (!qvar::ptyserve::load_eeprom_file(path, again, &missing, &error) || again.eeprom(0) != a ||
        again.eeprom(1) != b)
        std::abort();   // what was read must survive a save
    return 0;
}
