// blend.cpp -- kelo blend: base plus the weighted sum of every variant's
// differences, as a runtime blends them
#include "kelo.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

constexpr int32_t WEIGHTS_MAX = 1000;

// The blended value of one 16-bit model value: the base plus the weighted
// sum of its differences, the sum rounded to the nearest integer with
// halves away from zero, then the total clamped to -32768..32767.  The sum
// is rounded once, not group by group, so that many small weights keep
// their fractions; and it is the move that is rounded, not the position,
// so that a move of -0.5 goes as far as one of +0.5 wherever the base is.
int16_t blendValue(int16_t base, double sum)
{
    double v = (double)base + std::round(sum);
    if (v < -32768.0)
        return -32768;
    if (v > 32767.0)
        return 32767;
    return (int16_t)v;
}

// Adds weight x difference for every value that group g of f touches into
// acc, indexed by the value's byte offset in the image (a table may place
// an array at an odd offset), and marks the value in touched.
static void accumulate(KgxModel *m, const KeloFile *f, uint32_t g, double weight, double *acc,
                       unsigned char *touched)
{
    for (uint32_t i = f->groupAt[g]; i < f->groupAt[g + 1]; i++) {
        const KeloRecord *r = &f->rec[i];
        for (uint32_t e = 0; e < r->count; e++) {
            unsigned char *p = f->kind == KIND_VDF ? modelVertex(m, r->obj, r->first + e)
                                                   : modelNormal(m, r->obj, r->first + e);
            uint32_t at = (uint32_t)(p - m->image);
            for (uint32_t v = 0; v < 4; v++) {
                acc[at + 2 * v] += weight * keloValue(f, r, e, v);
                touched[at + 2 * v] = 1;
            }
        }
    }
}

// A weight: a finite decimal number, sign and fraction allowed.  Returns
// false for anything else.
static bool parseWeight(const char *word, double *weight)
{
    char *end;
    *weight = strtod(word, &end);
    return *word && !*end && std::isfinite(*weight);
}

// kelo blend BASE --vdf F [--ndf F] W0 W1 ... -o OUT.  Returns 0 with OUT
// written; weights that do not match the variant groups end the process
// with KELO_NO_GROUP, records that do not fit the base with KELO_BAD_FILE.
int32_t cmdBlend(int32_t argc, char **argv)
{
    const char *baseName = nullptr, *outName = nullptr;
    const char *files[2] = {nullptr, nullptr};
    static double weights[WEIGHTS_MAX];
    int32_t nWeights = 0;
    for (int32_t i = 0; i < argc; i++) {
        const char *arg = argv[i];
        double w;
        if (strcmp(arg, "--vdf") == 0)
            files[KIND_VDF] = optionValue(CMD_BLEND, argc, argv, &i);
        else if (strcmp(arg, "--ndf") == 0)
            files[KIND_NDF] = optionValue(CMD_BLEND, argc, argv, &i);
        else if (strcmp(arg, "-o") == 0)
            outName = optionValue(CMD_BLEND, argc, argv, &i);
        else if (baseName && parseWeight(arg, &w)) {
            if (nWeights < WEIGHTS_MAX)
                weights[nWeights++] = w;
            else
                usageError(CMD_BLEND, "more than %d weights", (int)WEIGHTS_MAX);
        } else if (arg[0] == '-' && arg[1])
            usageError(CMD_BLEND, "unknown option %s", arg);
        else if (baseName)
            usageError(CMD_BLEND, "%s is not a weight", arg);
        else
            baseName = arg;
    }
    if (!baseName)
        usageError(CMD_BLEND, "no base model named");
    if (!files[KIND_VDF])
        usageError(CMD_BLEND, "--vdf is required");
    if (!outName)
        usageError(CMD_BLEND, "-o is required");
    KgxModel *m = &keloModel[0];
    loadModelOrFail(m, baseName);
    char why[256];
    for (int32_t k = 0; k < 2; k++) {
        if (!files[k])
            continue;
        KeloFile *f = &keloFile[k];
        loadKeloOrFail(f, files[k], (KeloKind)k);
        if (f->nGroup != (uint32_t)nWeights)
            failWith(KELO_NO_GROUP, "%s holds %lu variant groups, but %d weights are given",
                     f->name, (unsigned long)f->nGroup, (int)nWeights);
        for (uint32_t i = 0; i < f->nRec; i++) {
            int32_t at = checkRecord(m, f, &f->rec[i], why, sizeof why);
            if (at >= 0)
                failWith(KELO_BAD_FILE, "%s: offset %ld: record %lu: %s", f->name, (long)at,
                         (unsigned long)i, why);
        }
    }
    // Every byte offset of the image has a slot, so that arrays shared by
    // several objects are blended once and not once per object.
    uint32_t slots = m->size + 1;
    // strAlloc's block comes from malloc, so it is aligned for doubles too.
    uint64_t accBytes = (uint64_t)slots * sizeof(double);
    double *acc = (double *)(void *)strAlloc(accBytes <= INT32_MAX ? (int32_t)accBytes : -1, "blend");
    unsigned char *touched = (unsigned char *)strAlloc((int32_t)slots, "blend");
    for (uint32_t s = 0; s < slots; s++)
        acc[s] = 0;
    memset(touched, 0, slots);
    for (int32_t k = 0; k < 2; k++)
        for (uint32_t g = 0; files[k] && g < keloFile[k].nGroup; g++)
            accumulate(m, &keloFile[k], g, weights[g], acc, touched);
    for (uint32_t s = 0; s < m->size; s++)
        if (touched[s])
            putLE16(m->image + s, blendValue(getLE16(m->image + s), acc[s]));
    memFree(acc);
    memFree(touched);
    modelSave(m, outName);
    return KELO_OK;
}
