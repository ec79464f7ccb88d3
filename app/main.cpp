// main.cpp - qvar-scope's entry point. The command line is not used.
#include "app/app.h"

int main(int argc, char *argv[])
{
    return QvarMain(argc, argv);
}
