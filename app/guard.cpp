// guard.cpp -- keeps a run from writing an output over a file it reads
//
// An output is opened for writing, which empties it at once.  When that file
// is also the base, a variant or an argument file of the same run, the run
// would destroy its own input before reading it.  The driver therefore notes
// every input it opens, and before the first output is created the run
// compares each output name with them by device and inode, so that hard
// links, symbolic links and different spellings of one path are all caught.
//
// The guard's bookkeeping stays outside the counted allocator (fixed buffers,
// and plain malloc only for more than NOTED_FIXED noted inputs), so that the
// counters an allocation failure report prints are those of the run itself.
#include "defs.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

static const char SAME_FILE_ERR[] =
    "Output \"%s\" is the same file as input \"%s\": nothing written\n";
static const char READ_BACK_ERR[] =
    "Output \"%s\" would be read back as variant \"%s\": nothing written\n";

// A file as the system identifies it.  For a name that exists: its device
// and inode.  For a name that does not exist yet: the device and inode of
// the directory it would be made in, and its last component.  A name that
// is a directory, or whose directory cannot be examined, or that is longer
// than a path may be, is unknown and matches nothing: no output can be
// created under it anyway.
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
    if (stat(name, &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return {};
        return {true, true, st.st_dev, st.st_ino, nullptr};
    }
    const char *leaf = getFileName0(name);
    size_t dirLen = (size_t)(leaf - name);
    char dir[PATH_MAX];
    if (dirLen >= sizeof dir)
        return {};
    if (dirLen == 0) {
        strcpy(dir, ".");
    } else {
        memcpy(dir, name, dirLen);
        dir[dirLen] = '\0';
    }
    if (stat(dir, &st) != 0)
        return {};
    return {true, false, st.st_dev, st.st_ino, leaf};
}

static bool sameFile(const FileId *a, const FileId *b)
{
    if (!a->known || !b->known || a->exists != b->exists)
        return false;
    if (a->dev != b->dev || a->ino != b->ino)
        return false;
    return a->exists || strcmp(a->leaf, b->leaf) == 0;
}

// The inputs noted so far: device and inode of each open input and the name
// for the message, which the caller keeps valid until the check.  The table
// holds NOTED_FIXED inputs and doubles beyond that, for as many argument
// files as the command line names.
struct NotedInput {
    dev_t dev;
    ino_t ino;
    const char *name;
};
constexpr int32_t NOTED_FIXED = 16;
static NotedInput notedFixed[NOTED_FIXED];
static NotedInput *noted = notedFixed;
static int32_t nNoted = 0;
static int32_t notedRoom = NOTED_FIXED;

static void notedRelease(void)
{
    if (noted != notedFixed)
        free(noted);
    noted = notedFixed;
    nNoted = 0;
    notedRoom = NOTED_FIXED;
}

// Notes an open input under name (a string that outlives the check).  Ends
// the process with ALLOC_CODE when the table cannot grow.
void guardNote(FileHandle *fh, const char *name)
{
    if (nNoted == notedRoom) {
        size_t bytes = (size_t)notedRoom * 2 * sizeof *noted;
        auto *bigger = (NotedInput *)malloc(bytes);
        if (!bigger) {
            allocReport("guard", (int32_t)bytes, 1, ALLOC_CODE);
        } else {
            memcpy(bigger, noted, (size_t)nNoted * sizeof *noted);
            if (noted != notedFixed)
                free(noted);
            noted = bigger;
            notedRoom *= 2;
        }
    }
    struct stat st;
    if (fstat(fileno(fh->fp), &st) == 0)
        noted[nNoted++] = {st.st_dev, st.st_ino, name};
}

static void refuse(ErrKey key, const char *output, const char *input)
{
    errReport(key, GUARD_CODE, output, input);
}

// Compares one variant with the outputs under every name the extension
// fallback may open it by: the name as written, then the name completed
// with each entry of kgxs.  Every candidate counts, not only the first that
// exists now, because a candidate that does not exist yet would exist once
// the outputs are made and would then be opened instead.
static void guardVariant(const char *name, const FileId *outIds, char *const *outputs, int32_t nOut)
{
    for (int32_t e = -1; e < 0 || kgxs[e]; e++) {
        char candidate[PATH_MAX];
        const char *tried = name;
        if (e >= 0) {
            if (mkFileNameRoom(name, kgxs[e], kgxs) > sizeof candidate)
                continue;  // too long to be opened
            tried = mkFileName0(name, kgxs[e], kgxs, candidate);
        }
        FileId id = fileIdOf(tried);
        for (int32_t k = 0; k < nOut; k++)
            if (sameFile(&outIds[k], &id))
                refuse(id.exists ? SAME_FILE_ERR : READ_BACK_ERR, outputs[k], tried);
    }
}

// Ends the process with GUARD_CODE, naming the output and the input, when
// one of the nOut outputs (at most one per kind) is a noted input or a name
// some variant may be opened by; nothing has been created then.  Forgets the
// noted inputs.
void guardOutputs(char *const *outputs, int32_t nOut, char *const *variants, int32_t nVariants)
{
    FileId outIds[KINDS];
    for (int32_t k = 0; k < nOut; k++) {
        outIds[k] = fileIdOf(outputs[k]);
        for (int32_t i = 0; i < nNoted && outIds[k].exists; i++)
            if (outIds[k].dev == noted[i].dev && outIds[k].ino == noted[i].ino)
                refuse(SAME_FILE_ERR, outputs[k], noted[i].name);
    }
    for (int32_t v = 0; v < nVariants; v++)
        guardVariant(variants[v], outIds, outputs, nOut);
    notedRelease();
}
