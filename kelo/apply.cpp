// apply.cpp -- kelo apply
#include "kelo.h"

int32_t cmdApply(int32_t argc, char **argv)
{
    (void)argc;
    (void)argv;
    failWith(KELO_USAGE, "apply: not built yet");
    return KELO_USAGE;
}

int32_t checkRecord(const KgxModel *, const KeloFile *, const KeloRecord *, char *, size_t)
{
    return 0;
}

int32_t applyGroup(KgxModel *, const KeloFile *, uint32_t, char *, size_t)
{
    return 0;
}
