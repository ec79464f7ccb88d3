// main.cpp - qvar-cli's entry point.
#include "cli/cli.h"

int main(int argc, char *argv[])
{
    return CliRun(argc, argv, stdout, stderr);
}
