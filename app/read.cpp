// read.cpp -- the difference engine: the header check of a base/variant pair
// and the vertex, normal and texture-coordinate difference records
#include "defs.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

uint32_t nobj, objTop, nextObj;
uint32_t vert_top1, norm_top1, prim_top1;
uint32_t vert_top2, norm_top2, prim_top2;
uint32_t n_vert, n_norm, n_prim, scale;
int16_t vbuff[3 * ELEMENT_VALUES];
uint32_t nVDF, nNDF, nMDF;

static const char SAME_MSG[] = "WARNING!: No %s differs between \"%s\" and \"%s.\"\n";
static const char NOT_KGX_MSG[] = "\"%s\" is not a KGX file!\n";

// What a difference file's records count and how its messages name them.
struct OutputKind {
    const char *plural;  // in the verbose difference line
    const char *word;    // in the warning for an object without differences
    uint32_t *records;   // records written to the file
};
static const OutputKind VERTICES = {"vertices", "vertex", &nVDF};
static const OutputKind NORMALS = {"normals", "normal", &nNDF};
static const OutputKind TEXTURES = {"textures", "UV", &nMDF};

// The record being encoded for one object.  A record holds the run from the
// first to the last differing element; elements inside it that do not
// differ go out as zero elements, so a reader can take the record's elements
// as one contiguous range.
struct Run {
    uint32_t obj;      // object index of the record
    uint32_t first;    // index of the run's first element
    uint32_t count;    // elements in the run; 0 while none has differed
    uint32_t pending;  // non-differing elements since the last one written
    int32_t patchPos;  // output position of the record's count
    int32_t endPos;    // output position after the last element written
};

// Size of a file by name for the verbose line; -1 when it cannot be had.
static long fileSize(const char *name)
{
    struct stat st;
    return stat(name, &st) == 0 ? (long)st.st_size : -1L;
}

static void printPair(FILE *fp, const char *format, uint32_t inBase, uint32_t inVar)
{
    msgPrint(fp, format, (unsigned long)inBase, (unsigned long)inVar);
}

// Checks that base and variant can be compared.  Returns 1 with nobj and
// objTop set and both files after their object counts, 0 when the variant is
// not a model or its flags differ, and -1 when the base is not a model.
int32_t kgx_diff(FileHandle *base, FileHandle *var)
{
    if (Verbose) {
        msgPrint(vout, "\nInput files       : %10s  %10s\n", base->name, var->name);
        msgPrint(vout, "File sizes (bytes): %10ld  %10ld\n", fileSize(base->name),
                 fileSize(var->name));
    }
    if (!kgxIdOk(get4Bytes(base))) {
        msgPrint(stderr, NOT_KGX_MSG, base->name);
        return -1;
    }
    if (!kgxIdOk(get4Bytes(var))) {
        msgPrint(stderr, NOT_KGX_MSG, var->name);
        return 0;
    }
    uint32_t flags = get4Bytes(base);
    if (get4Bytes(var) != flags) {
        msgPrint(stderr, "%sFlags differ! : %s %s\n", WARN_MSG, base->name, var->name);
        return 0;
    }
    nobj = get4Bytes(base);
    uint32_t varObjects = get4Bytes(var);
    if (Verbose)
        printPair(vout, "No. of Objects    : %10lu  %10lu\n", nobj, varObjects);
    objTop = (uint32_t)base->pos;
    return 1;
}

// Offsets in a model are unsigned 32-bit; as a seek target past 2 GiB one
// turns negative and the seek fails with its own report.
static void seekBoth(FileHandle *base, uint32_t inBase, FileHandle *var, uint32_t inVar)
{
    fileSeek(base, (int32_t)inBase);
    fileSeek(var, (int32_t)inVar);
}

// The current object entry of the base and of the variant, by word, and how
// many of its words have been read.
struct EntryPair {
    uint32_t inBase[ENTRY_WORDS];
    uint32_t inVar[ENTRY_WORDS];
    uint32_t read;
};

// Reads the entry's words up to and including word last, each from both
// models, the base's first.  The words are read in the entry's order from
// where the seek to its start left both files.
static void entryUpTo(FileHandle *base, FileHandle *var, KgxEntryWord last, EntryPair *e)
{
    for (; e->read <= last; e->read++) {
        e->inBase[e->read] = get4Bytes(base);
        e->inVar[e->read] = get4Bytes(var);
    }
}

static void entryLine(FILE *fp, const char *format, const EntryPair *e, KgxEntryWord w)
{
    printPair(fp, format, e->inBase[w], e->inVar[w]);
}

// Keeps the entry in the engine's object-table variables.
static void entryKeep(const EntryPair *e)
{
    vert_top1 = e->inBase[ENTRY_VERT_TOP], vert_top2 = e->inVar[ENTRY_VERT_TOP];
    norm_top1 = e->inBase[ENTRY_NORM_TOP], norm_top2 = e->inVar[ENTRY_NORM_TOP];
    prim_top1 = e->inBase[ENTRY_PRIM_TOP], prim_top2 = e->inVar[ENTRY_PRIM_TOP];
    n_vert = e->inBase[ENTRY_N_VERT];
    n_norm = e->inBase[ENTRY_N_NORM];
    n_prim = e->inBase[ENTRY_N_PRIM];
    scale = e->inBase[ENTRY_SCALE];
}

// Starts the record at element j: object index, first index and a
// placeholder count that runClose patches.
static void runBegin(Run *run, uint32_t j, FileHandle *out)
{
    put4Bytes(run->obj, out);
    put4Bytes(j, out);
    run->patchPos = out->pos;
    put4Bytes(0, out);
    run->first = j;
}

// Feeds element j of the object to its record.  A differing element first
// brings out the zero elements pending before it, one 16-bit value per put
// as the record layout is written, then its own n values with one put.
static void runStep(Run *run, uint32_t j, const int16_t *diff, int32_t n, bool differs,
                    FileHandle *out)
{
    if (!differs) {
        if (run->count)
            run->pending++;
        return;
    }
    if (!run->count)
        runBegin(run, j, out);
    run->count = j - run->first + 1;
    for (; run->pending; run->pending--)
        for (int32_t k = 0; k < n; k++)
            put2Bytes(0, out);
    put2ByteArray(diff, n, out);
    run->endPos = out->pos;
}

// Ends the object's record: patches the run's count and leaves the output
// after the last element written, or, when nothing differed, warns and
// writes the empty record (object index, 0, 0).
static void runClose(const Run *run, const OutputKind *kind, FileHandle *base, FileHandle *var,
                     FileHandle *out)
{
    if (Verbose)
        msgPrint(vout, "Difference        : %10lu %s\n", (unsigned long)run->count, kind->plural);
    if (run->count) {
        fileSeek(out, run->patchPos);
        put4Bytes(run->count, out);
        fileSeek(out, run->endPos);
    } else {
        msgPrint(stderr, SAME_MSG, kind->word, base->name, var->name);
        put4Bytes(run->obj, out);
        put4Bytes(0, out);
        put4Bytes(0, out);
    }
    (*kind->records)++;
}

// Takes back a record whose run had begun when the object's comparison
// failed: the object then gets no record at all, just as when it fails
// before its first difference, and the file holds only whole records.
static void runDrop(const Run *run, FileHandle *out)
{
    if (!run->count)
        return;
    int32_t start = run->patchPos - 4 * REC_COUNT;
    fileSeek(out, start);
    // Every put was flushed, so the stream holds nothing unwritten to lose.
    if (ftruncate(fileno(out->fp), start) != 0)
        msgPrint(stderr, "%sCannot cut \"%s\" back to %ld bytes\n", WARN_MSG, out->name,
                 (long)start);
}

// Compares the n elements of four 16-bit values at top1 in the base and
// top2 in the variant and writes the object's record.  Differences are
// taken modulo 2^16.
static void diffElements(FileHandle *base, uint32_t top1, FileHandle *var, uint32_t top2,
                         uint32_t n, uint32_t obj, const OutputKind *kind, FileHandle *out)
{
    Run run = {obj, 0, 0, 0, 0, 0};
    int16_t *inBase = vbuff, *inVar = vbuff + ELEMENT_VALUES, *diff = inVar + ELEMENT_VALUES;
    seekBoth(base, top1, var, top2);
    for (uint32_t j = 0; j < n; j++) {
        get2ByteArray(inBase, ELEMENT_VALUES, base);
        get2ByteArray(inVar, ELEMENT_VALUES, var);
        int16_t any = 0;
        for (uint32_t k = 0; k < ELEMENT_VALUES; k++) {
            diff[k] = (int16_t)(uint16_t)(inVar[k] - inBase[k]);
            any |= diff[k];
        }
        runStep(&run, j, diff, ELEMENT_VALUES, any != 0, out);
    }
    runClose(&run, kind, base, var, out);
}

// Reads the current object entry for vn_diff with its dump and verbose
// lines.  Returns 0 when the vertex counts differ; switches *normals off
// when the normal counts differ while it is on.
static int32_t readVnEntry(FileHandle *base, FileHandle *var, FileHandle **normals)
{
    EntryPair e = {};
    seekBoth(base, nextObj, var, nextObj);
    entryUpTo(base, var, ENTRY_VERT_TOP, &e);
    if (Dump)
        entryLine(dout, "\tVertex top   : %10lu  %10lu\n", &e, ENTRY_VERT_TOP);
    entryUpTo(base, var, ENTRY_N_VERT, &e);
    if (Verbose)
        entryLine(vout, "No. of Vertices   : %10lu  %10lu\n", &e, ENTRY_N_VERT);
    if (e.inBase[ENTRY_N_VERT] != e.inVar[ENTRY_N_VERT]) {
        msgPrint(stderr, "\n\tERROR!: No. of Vertices differ(\"%s\")!!\n", var->name);
        return 0;
    }
    entryUpTo(base, var, ENTRY_NORM_TOP, &e);
    if (Dump)
        entryLine(dout, "\tNormal top   : %10lu  %10lu\n", &e, ENTRY_NORM_TOP);
    entryUpTo(base, var, ENTRY_N_NORM, &e);
    if (Verbose)
        entryLine(vout, "No. of Normals    : %10lu  %10lu\n", &e, ENTRY_N_NORM);
    if (*normals && e.inBase[ENTRY_N_NORM] != e.inVar[ENTRY_N_NORM]) {
        msgPrint(stderr, "WARNING!: No. of Normals differ!!  Can't make a normal Kelo file.\n");
        *normals = nullptr;
    }
    entryUpTo(base, var, ENTRY_PRIM_TOP, &e);
    if (Dump)
        entryLine(dout, "\tPrimitive top: %10lu  %10lu\n", &e, ENTRY_PRIM_TOP);
    entryUpTo(base, var, ENTRY_N_PRIM, &e);
    if (Verbose)
        entryLine(vout, "No. of Primitives : %10lu  %10lu\n", &e, ENTRY_N_PRIM);
    entryUpTo(base, var, ENTRY_SCALE, &e);
    if (Verbose)
        entryLine(vout, "Scales            : %10lu  %10lu\n", &e, ENTRY_SCALE);
    entryKeep(&e);
    nextObj = (uint32_t)base->pos;
    return 1;
}

// Writes one vertex record per object to vdf and, while normal output is
// on, one normal record per object to ndf (which may be null).  Returns 1
// when every object was compared, 0 when an object's vertex counts differ.
int32_t vn_diff(FileHandle *base, FileHandle *var, FileHandle *vdf, FileHandle *ndf)
{
    nextObj = objTop;
    for (uint32_t obj = 0; obj < nobj; obj++) {
        if (!readVnEntry(base, var, &ndf))
            return 0;
        diffElements(base, objTop + vert_top1, var, objTop + vert_top2, n_vert, obj, &VERTICES,
                     vdf);
        if (ndf)
            diffElements(base, objTop + norm_top1, var, objTop + norm_top2, n_norm, obj, &NORMALS,
                         ndf);
    }
    return 1;
}

// Reads the current object entry for mat_diff, which shows only the vertex
// tops (in dump mode) and compares only the primitive counts.  Returns 0
// when they differ.
static int32_t readPrimEntry(FileHandle *base, FileHandle *var)
{
    EntryPair e = {};
    seekBoth(base, nextObj, var, nextObj);
    entryUpTo(base, var, ENTRY_VERT_TOP, &e);
    if (Dump == 1)
        entryLine(dout, "\tVertex top   : %10lu  %10lu\n", &e, ENTRY_VERT_TOP);
    entryUpTo(base, var, ENTRY_N_PRIM, &e);
    if (e.inBase[ENTRY_N_PRIM] != e.inVar[ENTRY_N_PRIM]) {
        msgPrint(stderr, "\n\tERROR!: No. of Primitives differ(\"%s\")!!\n", var->name);
        return 0;
    }
    entryUpTo(base, var, ENTRY_SCALE, &e);
    entryKeep(&e);
    nextObj = (uint32_t)base->pos;
    return 1;
}

// Builds the texture element of a textured primitive of the mode from the
// two packets: value v is the difference of packet byte texByteAt(v), as
// unsigned bytes, for the words the mode compares, and 0 beyond them.
// Returns true when any value is non-zero.
static bool texElement(const unsigned char *inBase, const unsigned char *inVar, uint32_t mode,
                       int16_t *tex)
{
    bool differs = false;
    for (uint32_t v = 0; v < TEX_VALUES; v++) {
        uint32_t at = texByteAt(v);
        tex[v] = v / 2 < primCorners(mode) ? (int16_t)(inVar[at] - inBase[at]) : 0;
        differs |= tex[v] != 0;
    }
    return differs;
}

// Compares the current object's primitives and writes its texture record.
// Returns 0 when two primitive headers differ.
static int32_t diffPrimitives(FileHandle *base, FileHandle *var, uint32_t obj, FileHandle *out)
{
    static unsigned char pack1[PACKET_MAX], pack2[PACKET_MAX];
    int16_t tex[TEX_VALUES];
    Run run = {obj, 0, 0, 0, 0, 0};
    seekBoth(base, objTop + prim_top1, var, objTop + prim_top2);
    for (uint32_t j = 0; j < n_prim; j++) {
        uint32_t header = get4Bytes(base);
        if (get4Bytes(var) != header) {
            msgPrint(stderr, "\n\tERROR!: Primitive types differ(\"%s\")!!\n", var->name);
            runDrop(&run, out);
            return 0;
        }
        uint32_t length = 4 * primPacketWords(header);
        // Bytes a short packet lacks compare as 0 in both models.
        if (length < TEX_BYTES) {
            memset(pack1, 0, TEX_BYTES);
            memset(pack2, 0, TEX_BYTES);
        }
        getByteArray(pack1, (int32_t)length, base);
        getByteArray(pack2, (int32_t)length, var);
        uint32_t mode = primMode(header);
        bool differs = (mode & MODE_TEXTURED) && texElement(pack1, pack2, mode, tex);
        runStep(&run, j, tex, TEX_VALUES, differs, out);
    }
    runClose(&run, &TEXTURES, base, var, out);
    return 1;
}

// Writes one texture record per object to tdf.  Returns 1 when there is no
// texture output or every object was compared, 0 when an object's primitive
// counts or two of its primitive headers differ.
int32_t mat_diff(FileHandle *base, FileHandle *var, FileHandle *tdf)
{
    nextObj = objTop;
    if (!tdf)
        return 1;
    for (uint32_t obj = 0; obj < nobj; obj++) {
        if (!readPrimEntry(base, var) || !diffPrimitives(base, var, obj, tdf))
            return 0;
    }
    return 1;
}
