// main.cpp - qvar-scope's entry point. The tool has no configuration: the
// command line only answers --version and --help; anything else is left to
// the run-time (Qt's own options).
#include "app/app.h"
#include "platform/ui/ui.h"

#include <cstdio>
#include <cstring>

#ifndef QVAR_VERSION
#define QVAR_VERSION "unknown"
#endif

namespace {
const char USAGE[] =
    "Usage: qvar-scope [--version | --help]\n"
    "Desktop tool for the Q-VAR-RDX3 two-channel sensor controller on an RS-232\n"
    "line. It opens port 1 at start; on a machine without serial hardware that is\n"
    "the built-in simulated controller. See qvar-scope(1), qvar-cli(1), qvar-sim(1).\n";
}

int main(int argc, char *argv[])
{
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("qvar-scope %s\n", QVAR_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
    }
    CatchTermination();
    SetDesktopFileName("org.qvarrdx3.Scope");
    return QvarMain(argc, argv);
}
