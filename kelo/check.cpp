// check.cpp -- kelo check
#include "kelo.h"

int32_t cmdCheck(int32_t argc, char **argv)
{
    (void)argc;
    (void)argv;
    failWith(KELO_USAGE, "check: not built yet");
    return KELO_USAGE;
}
