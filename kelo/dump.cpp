// dump.cpp -- kelo dump
#include "kelo.h"

int32_t cmdDump(int32_t argc, char **argv)
{
    (void)argc;
    (void)argv;
    failWith(KELO_USAGE, "dump: not built yet");
    return KELO_USAGE;
}
