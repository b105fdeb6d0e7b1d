// blend.cpp -- kelo blend
#include "kelo.h"

int32_t cmdBlend(int32_t argc, char **argv)
{
    (void)argc;
    (void)argv;
    failWith(KELO_USAGE, "blend: not built yet");
    return KELO_USAGE;
}
