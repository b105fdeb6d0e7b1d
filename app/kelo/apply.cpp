// apply.cpp -- kelo apply: the model one variant's records describe
#include "kelo.h"

#include <cstdlib>
#include <cstring>

// Checks that the record addresses elements the base has: an object within
// its object count and a run within that object's vertices, normals or
// primitives.  Returns -1 when it fits, otherwise the file offset of the
// offending field (object index or first element) with why filled in.
int32_t checkRecord(const KgxModel *m, const KeloFile *f, const KeloRecord *r, char *why,
                    size_t size)
{
    if (r->obj >= m->nObj) {
        snprintf(why, size, "object %lu is outside the base's %lu objects", (unsigned long)r->obj,
                 (unsigned long)m->nObj);
        return (int32_t)r->at;
    }
    uint32_t n = kindElements(&m->obj[r->obj], f->kind);
    if ((uint64_t)r->first + r->count > n) {
        snprintf(why, size, "%ss %lu to %llu are outside object %lu's %lu %ss",
                 kindElement[f->kind], (unsigned long)r->first,
                 (unsigned long long)r->first + r->count - 1, (unsigned long)r->obj,
                 (unsigned long)n, kindElement[f->kind]);
        return (int32_t)(r->at + 4);
    }
    return -1;
}

// Adds one texture element to the packet of a primitive: values 2k and
// 2k+1 go to packet bytes 4k+3 and 4k+2, as unsigned bytes modulo 256.
// Returns the packet offset of a non-zero value that has no byte to land
// on, or -1 when all went in.
static int32_t addTexture(unsigned char *prim, const KeloFile *f, const KeloRecord *r,
                          uint32_t e)
{
    uint32_t bytes = 4 * packetWords(getLE32(prim));
    for (uint32_t v = 0; v < 8; v++) {
        int16_t d = keloValue(f, r, e, v);
        uint32_t at = 4 * (v / 2) + 3 - v % 2;
        if (!d)
            continue;
        if (at >= bytes)
            return (int32_t)at;
        prim[4 + at] = (unsigned char)(prim[4 + at] + d);
    }
    return -1;
}

// Adds the differences of group of f to the model's image in place: vertex
// and normal values modulo 2^16, texture values to the packet bytes they
// were taken from.  Returns 1, or 0 with why filled in when a record does
// not fit the model (nothing is undone; the caller drops the image).
int32_t applyGroup(KgxModel *m, const KeloFile *f, uint32_t group, char *why, size_t size)
{
    for (uint32_t i = f->groupAt[group]; i < f->groupAt[group + 1]; i++) {
        const KeloRecord *r = &f->rec[i];
        char reason[160];
        int32_t at = checkRecord(m, f, r, reason, sizeof reason);
        if (at >= 0) {
            snprintf(why, size, "offset %ld: record %lu: %s", (long)at, (unsigned long)i, reason);
            return 0;
        }
        for (uint32_t e = 0; e < r->count; e++) {
            uint32_t j = r->first + e;
            if (f->kind == KIND_TDF) {
                int32_t byte = addTexture(modelPrimitive(m, r->obj, j), f, r, e);
                if (byte >= 0) {
                    snprintf(why, size,
                             "offset %lu: record %lu: primitive %lu has no packet byte %ld",
                             (unsigned long)r->at, (unsigned long)i, (unsigned long)j,
                             (long)byte);
                    return 0;
                }
                continue;
            }
            unsigned char *p = f->kind == KIND_VDF ? modelVertex(m, r->obj, j)
                                                   : modelNormal(m, r->obj, j);
            for (uint32_t v = 0; v < 4; v++)
                putLE16(p + 2 * (size_t)v,
                        (int16_t)(uint16_t)((uint16_t)getLE16(p + 2 * (size_t)v) +
                                            (uint16_t)keloValue(f, r, e, v)));
        }
    }
    return 1;
}

// kelo apply BASE --variant K [--vdf F] [--ndf F] [--tdf F] -o OUT.  Returns
// 0 with OUT written; a group K absent from a file ends the process with
// KELO_NO_GROUP, a record that does not fit the base with KELO_BAD_FILE.
int32_t cmdApply(int32_t argc, char **argv)
{
    const char *baseName = nullptr, *outName = nullptr, *variantWord = nullptr;
    const char *files[KINDS] = {nullptr, nullptr, nullptr};
    for (int32_t i = 0; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "--variant") == 0)
            variantWord = optionValue(CMD_APPLY, argc, argv, &i);
        else if (strcmp(arg, "--vdf") == 0)
            files[KIND_VDF] = optionValue(CMD_APPLY, argc, argv, &i);
        else if (strcmp(arg, "--ndf") == 0)
            files[KIND_NDF] = optionValue(CMD_APPLY, argc, argv, &i);
        else if (strcmp(arg, "--tdf") == 0)
            files[KIND_TDF] = optionValue(CMD_APPLY, argc, argv, &i);
        else if (strcmp(arg, "-o") == 0)
            outName = optionValue(CMD_APPLY, argc, argv, &i);
        else if (arg[0] == '-' && arg[1])
            usageError(CMD_APPLY, "unknown option %s", arg);
        else if (baseName)
            usageError(CMD_APPLY, "one base model only (%s)", arg);
        else
            baseName = arg;
    }
    if (!baseName)
        usageError(CMD_APPLY, "no base model named");
    if (!variantWord)
        usageError(CMD_APPLY, "--variant is required");
    if (!files[KIND_VDF] && !files[KIND_NDF] && !files[KIND_TDF])
        usageError(CMD_APPLY, "name at least one of --vdf, --ndf, --tdf");
    if (!outName)
        usageError(CMD_APPLY, "-o is required");
    uint32_t group = variantNumber(CMD_APPLY, variantWord);
    KgxModel *m = &keloModel[0];
    loadModelOrFail(m, baseName);
    char why[256];
    for (int32_t k = 0; k < KINDS; k++) {
        if (!files[k])
            continue;
        KeloFile *f = &keloFile[k];
        loadKeloOrFail(f, files[k], (KeloKind)k);
        if (group >= f->nGroup)
            failWith(KELO_NO_GROUP, "%s holds %lu variant groups; there is no variant %lu",
                     f->name, (unsigned long)f->nGroup, (unsigned long)group);
        if (!applyGroup(m, f, group, why, sizeof why))
            failWith(KELO_BAD_FILE, "%s: %s", f->name, why);
    }
    modelSave(m, outName);
    return KELO_OK;
}
