// guard.cpp -- keeps a run from writing an output over a file it reads
//
// An output is opened for writing, which empties it at once.  When that file
// is also the base, a variant or an argument file of the same run, the run
// would destroy its own input before reading it.  The driver therefore notes
// every input it opens, and before the first output is created compares each
// output name with them by device and inode, so that hard links, symbolic
// links and different spellings of one path are all caught.
#include "defs.h"

#include <cstring>
#include <sys/stat.h>

static const char SAME_FILE_ERR[] =
    "Output \"%s\" is the same file as input \"%s\": nothing written\n";

// A file as the system identifies it.  For a name that exists: its device
// and inode.  For a name that does not exist yet: the device and inode of
// the directory it would be made in, and its last component.  A name whose
// directory cannot be examined either is unknown and matches nothing (its
// output cannot be created anyway).
struct FileId {
    bool known;
    bool exists;
    dev_t dev;
    ino_t ino;
    const char *leaf;  // points into the name; set only when !exists
};

static FileId fileIdOf(const char *name)
{
    struct stat st;
    if (stat(name, &st) == 0)
        return {true, true, st.st_dev, st.st_ino, nullptr};
    const char *leaf = getFileName0(name);
    size_t dirLen = (size_t)(leaf - name);
    char *dir = strAlloc((int32_t)dirLen + 2, "guard");
    if (dirLen == 0) {
        strcpy(dir, ".");
    } else {
        memcpy(dir, name, dirLen);
        dir[dirLen] = '\0';
    }
    bool dirKnown = stat(dir, &st) == 0;
    memFree(dir);
    if (!dirKnown)
        return {false, false, 0, 0, nullptr};
    return {true, false, st.st_dev, st.st_ino, leaf};
}

constexpr int32_t GUARD_OUTPUTS_MAX = 3;  // vdf, ndf, tdf

static bool sameFile(const FileId *a, const FileId *b)
{
    if (!a->known || !b->known || a->exists != b->exists)
        return false;
    if (a->dev != b->dev || a->ino != b->ino)
        return false;
    return a->exists || strcmp(a->leaf, b->leaf) == 0;
}

// The inputs noted so far: device and inode of each open input and a copy of
// the name it was opened under, for the message.  The table starts empty and
// doubles in counted blocks, as many argument files as the command line
// names.
struct NotedInput {
    dev_t dev;
    ino_t ino;
    char *name;
};
static NotedInput *noted = nullptr;
static int32_t nNoted = 0;
static int32_t notedRoom = 0;

void guardNote(FileHandle *fh)
{
    struct stat st;
    if (fstat(fileno(fh->fp), &st) != 0)
        return;
    if (nNoted == notedRoom) {
        int32_t room = notedRoom ? notedRoom * 2 : 16;
        int64_t bytes = (int64_t)room * (int64_t)sizeof *noted;
        auto *bigger = (NotedInput *)strAlloc(bytes <= INT32_MAX ? (int32_t)bytes : -1, "guard");
        if (nNoted)
            memcpy(bigger, noted, (size_t)nNoted * sizeof *noted);
        memFree(noted);
        noted = bigger;
        notedRoom = room;
    }
    noted[nNoted++] = {st.st_dev, st.st_ino, strCopy(fh->name)};
}

static void guardRelease(void)
{
    for (int32_t i = 0; i < nNoted; i++)
        memFree(noted[i].name);
    memFree(noted);
    nNoted = notedRoom = 0;
}

static void refuse(const char *output, const char *input)
{
    errReport(SAME_FILE_ERR, GUARD_CODE, output, input);
}

// Compares one variant with the outputs under every name the extension
// fallback may open it by: the name as written, then the name completed
// with each entry of kgxs.  Every candidate counts, not only the first that
// exists now, because a candidate that does not exist yet would exist once
// the outputs are made and would then be opened instead.
static void guardVariant(const char *name, const FileId *outIds, char **outputs, int32_t nOut)
{
    for (int32_t e = -1; e < 0 || kgxs[e]; e++) {
        char fixed[CANDIDATE_SIZE];
        char *candidate = (char *)name;
        if (e >= 0) {
            MkPlan plan = mkFilePlan(name, kgxs[e], kgxs);
            size_t size = mkPlanLength(&plan) + 1;
            candidate = size <= sizeof fixed ? fixed : strAlloc((int32_t)size, "guard");
            mkPlanFill(name, &plan, candidate);
        }
        FileId id = fileIdOf(candidate);
        for (int32_t k = 0; k < nOut; k++)
            if (sameFile(&outIds[k], &id))
                refuse(outputs[k], candidate);
        if (candidate != name && candidate != fixed)
            memFree(candidate);
    }
}

void guardOutputs(char **outputs, int32_t nOut, char **variants, int32_t nVariants)
{
    FileId outIds[GUARD_OUTPUTS_MAX];
    if (nOut > GUARD_OUTPUTS_MAX)
        nOut = GUARD_OUTPUTS_MAX;
    for (int32_t k = 0; k < nOut; k++) {
        outIds[k] = fileIdOf(outputs[k]);
        for (int32_t i = 0; i < nNoted; i++)
            if (outIds[k].exists && outIds[k].dev == noted[i].dev && outIds[k].ino == noted[i].ino)
                refuse(outputs[k], noted[i].name);
    }
    for (int32_t v = 0; v < nVariants; v++)
        guardVariant(variants[v], outIds, outputs, nOut);
    guardRelease();
}
