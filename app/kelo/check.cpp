// check.cpp -- kelo check: do difference files fit their base model?
#include "kelo.h"

#include <cstring>

// Problems listed per file before the rest are only counted, so that a file
// of garbage does not bury the first, telling lines.
constexpr uint32_t PROBLEMS_SHOWN = 10;

// Checks one difference file against the base and lists its problems on the
// error stream.  Returns the number of problems found (0 when it fits).
static uint32_t checkFile(const KgxModel *base, const char *name, KeloKind kind, bool verbose)
{
    KeloFile *f = &keloFile[0];
    if (!keloLoad(f, name, kind)) {
        msgPrint(stderr, "kelo: %s: offset %lu: %s\n", name, (unsigned long)inputProblemAt,
                 inputProblem);
        keloFree(f);
        return 1;
    }
    char why[200];
    uint32_t problems = 0;
    for (uint32_t i = 0; i < f->nRec; i++) {
        const KeloRecord *r = &f->rec[i];
        int32_t at = checkRecord(base, f, r, why, sizeof why);
        if (at < 0)
            continue;
        if (++problems <= PROBLEMS_SHOWN)
            msgPrint(stderr, "kelo: %s: offset %ld: record %lu: %s\n", name, (long)at,
                     (unsigned long)i, why);
    }
    if (problems > PROBLEMS_SHOWN)
        msgPrint(stderr, "kelo: %s: %lu more problems\n", name,
                 (unsigned long)(problems - PROBLEMS_SHOWN));
    if (!problems && verbose)
        msgPrint(stdout, "%s: %lu %s records in %lu variant groups fit %s (%lu objects)\n", name,
                 (unsigned long)f->nRec, kindName[kind], (unsigned long)f->nGroup, base->name,
                 (unsigned long)base->nObj);
    keloFree(f);
    return problems;
}

// kelo check [-v] [--kind K] BASE FILE...  Returns 0 when every file fits
// the base, KELO_BAD_FILE when any does not; a base that is no model ends
// the process with KELO_BAD_MODEL.
int32_t cmdCheck(int32_t argc, char **argv)
{
    bool verbose = false;
    const char *kindWord = nullptr;
    const char *baseName = nullptr;
    int32_t nFiles = 0;
    for (int32_t i = 0; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "-v") == 0)
            verbose = true;
        else if (strcmp(arg, "--kind") == 0)
            kindWord = optionValue(CMD_CHECK, argc, argv, &i);
        else if (arg[0] == '-' && arg[1])
            usageError(CMD_CHECK, "unknown option %s", arg);
        else if (!baseName)
            baseName = arg;
        else
            argv[nFiles++] = argv[i];  // the names gather at the front, behind the scan
    }
    if (!nFiles)
        usageError(CMD_CHECK, baseName ? "no difference file named" : "no base model named");
    KeloKind forced = kindWord ? kindFromWord(kindWord) : KIND_NONE;
    if (kindWord && forced == KIND_NONE)
        usageError(CMD_CHECK, "unknown kind %s", kindWord);
    // Settle every file's kind before reading anything, so that a typo in
    // the last name is not found after pages of output.
    for (int32_t i = 0; i < nFiles; i++)
        if (forced == KIND_NONE && kindFromName(argv[i]) == KIND_NONE)
            usageError(CMD_CHECK, "cannot tell the kind of %s; use --kind", argv[i]);
    loadModelOrFail(&keloModel[0], baseName);
    uint32_t problems = 0;
    for (int32_t i = 0; i < nFiles; i++) {
        KeloKind kind = forced != KIND_NONE ? forced : kindFromName(argv[i]);
        problems += checkFile(&keloModel[0], argv[i], kind, verbose);
    }
    return problems ? KELO_BAD_FILE : KELO_OK;
}
