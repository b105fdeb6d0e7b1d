// svg.cpp -- kelo svg
#include "kelo.h"

int32_t cmdSvg(int32_t argc, char **argv)
{
    (void)argc;
    (void)argv;
    failWith(KELO_USAGE, "svg: not built yet");
    return KELO_USAGE;
}
