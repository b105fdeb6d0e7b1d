// run.cpp -- the run over the variants: the outputs created with their
// provisional record counts, each variant compared with the base, and the
// outputs finished with their counts corrected and every write checked
#include "defs.h"

#include <climits>
#include <cstring>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

int32_t Verbose = 0;
uint8_t Dump = 0;
uint8_t NormalKelo = 0;
uint8_t UVKelo = 0;
uint8_t ColorKelo = 0;
FILE *vout = stdout;
FILE *dout = stdout;
char *outputName = nullptr;

// The outputs, one per kind of difference file, made and finished in the
// kinds' order.
static FileHandle *output[KINDS];
static char *outputFile[KINDS];
static FileHandle *variant;  // the variant being compared, while it is open

static bool outputWanted(int k)
{
    return k == KIND_VDF || (k == KIND_NDF && NormalKelo) || (k == KIND_TDF && UVKelo);
}

// True when outputName still holds an extension of its own (a.b from
// a.b.kgx): mkFileName would keep it for every output, so the three would
// share one file, and the output's extension is appended instead.  A last
// component "." or ".." (-o ../o gives ".") names a directory and counts as
// no extension of its own: mkFileName keeps it as it is, so that the output
// cannot be created, rather than a hidden file such as "..vdf" beside it.
static bool keepsOwnExtension(void)
{
    const char *part = getFileName0(outputName);
    return getExt0(outputName) && strcmp(part, ".") != 0 && strcmp(part, "..") != 0;
}

// Bytes an output's file name takes at most, terminator included: those of
// outputName, '.' and ext (mkFileName0 without a list makes none longer).
static size_t outputNameRoom(const char *ext) { return strlen(outputName) + 1 + strlen(ext) + 1; }

// Writes the output's file name, made of outputName and ext, into buffer,
// which holds outputNameRoom(ext) bytes, and returns buffer.
static char *outputNameIn(const char *ext, char *buffer)
{
    if (!keepsOwnExtension())
        return mkFileName0(outputName, ext, nullptr, buffer);
    snprintf(buffer, outputNameRoom(ext), "%s.%s", outputName, ext);
    return buffer;
}

// The output's file name as a counted string owned by the caller: from
// mkFileName, or, for a name with an extension of its own, in a block of
// the size and label mkFileName gives a name it appends to.
static char *outputFileName(const char *ext)
{
    if (!keepsOwnExtension())
        return mkFileName(outputName, ext, nullptr);
    return outputNameIn(ext, strAlloc((int32_t)outputNameRoom(ext), outputName));
}

// Refuses the run, before anything is created, when an output would be a
// file it reads.  The names are made here in fixed buffers, outside the
// counted allocator; a name longer than a path may be cannot be created
// anyway and is left out.
static void guardRun(char **variants, int32_t nVariants)
{
    char names[KINDS][PATH_MAX];
    char *named[KINDS];
    int32_t nNamed = 0;
    for (int k = 0; k < KINDS; k++)
        if (outputWanted(k) && outputNameRoom(KELO_EXT[k]) <= PATH_MAX)
            named[nNamed++] = outputNameIn(KELO_EXT[k], names[k]);
    guardOutputs(named, nNamed, variants, nVariants);
}

// Names, creates and starts each requested output in turn: its name, the
// file, then the provisional record count, one record per variant.
static void openOutputs(int32_t nVariants)
{
    for (int k = 0; k < KINDS; k++) {
        if (!outputWanted(k))
            continue;
        outputFile[k] = outputFileName(KELO_EXT[k]);
        output[k] = fileOpen(outputFile[k], "w");
        put4Bytes((uint32_t)nVariants, output[k]);
    }
}

// Closes the handle a holder holds, if any, letting it go first: a close
// that fails reports and ends the run, and must not be tried again.
static void letGo(FileHandle **held)
{
    FileHandle *fh = *held;
    *held = nullptr;
    fileClose(fh);
}

// Compares each variant with the base.  A variant that opens under no tried
// name is skipped silently; so is one that fails the header check, which
// then writes no records.  A base that is not a model ends the loop at
// once: the variant then open stays open until the run ends, and a failure
// to close it is never reported.
static void compareVariants(FileHandle *base, char **variants, int32_t nVariants)
{
    for (int32_t i = 0; i < nVariants; i++) {
        variant = fileMatchOpen(variants[i], kgxs, "r");
        if (!variant)
            continue;
        int32_t check = kgx_diff(base, variant);
        if (check < 0)
            break;
        if (check > 0) {
            vn_diff(base, variant, output[KIND_VDF], output[KIND_NDF]);
            mat_diff(base, variant, output[KIND_TDF]);
        }
        fileSeek(base, 0);
        letGo(&variant);
    }
}

// Closes output k and returns 1 when every write to it reached the file.
// An output that lost a write is reported with its name, and a regular file
// is cut to 0 bytes: what is left of it would otherwise pass for a whole
// difference file, while an empty one has no record count for any reader
// to take.  Cutting through the open descriptor reaches the file the run
// wrote even through a link, and never touches a name.  Anything else (a
// device such as /dev/full, a pipe) is left alone.
static int32_t outputClose(int k)
{
    FileHandle *out = output[k];
    output[k] = nullptr;
    if (streamFlushed(out->fp)) {
        fileClose(out);
        return 1;
    }
    // What the stream still holds is lost anyway; dropping it lets the
    // close succeed instead of failing on the same write again.
    __fpurge(out->fp);
    struct stat st;
    bool cut = fstat(fileno(out->fp), &st) == 0 && S_ISREG(st.st_mode) &&
               ftruncate(fileno(out->fp), 0) == 0;
    fileClose(out);
    msgPrint(stderr, "\nFail to write: \"%s\": incomplete%s\n", outputFile[k],
             cut ? ", cut to 0 bytes" : "");
    return 0;
}

// Corrects each output's record count when the records written differ from
// the provisional one, shows its size in verbose mode and closes it.
// Returns 0, or LOST_CODE when a write to any output was lost.
static int32_t finishOutputs(int32_t nVariants)
{
    const uint32_t records[KINDS] = {nVDF, nNDF, nMDF};
    bool firstLine = true;
    int32_t code = 0;
    for (int k = 0; k < KINDS; k++) {
        FileHandle *out = output[k];
        if (!out)
            continue;
        int32_t size = out->pos;
        if (records[k] != (uint32_t)nVariants) {
            fileSeek(out, 0);
            put4Bytes(records[k], out);
        }
        if (Verbose)
            msgPrint(vout,
                     firstLine ? "\nOutput file(s)    : %10s %10lu bytes\n"
                               : "                  : %10s %10lu bytes\n",
                     outputFile[k], (unsigned long)(uint32_t)size);
        firstLine = false;
        if (!outputClose(k))
            code = LOST_CODE;
        memFree(outputFile[k]);
    }
    return code;
}

// Runs the comparison of every variant (names as given, in order) with the
// open base: checks the outputs against the run's inputs (ends the process
// with GUARD_CODE on a match), creates the outputs, compares, and finishes
// the outputs.  Returns 0, or LOST_CODE when a write to an output or to
// vout (verbose and dump lines) was lost.  The base stays open.
int32_t runVariants(FileHandle *base, char **variants, int32_t nVariants)
{
    nVDF = nNDF = nMDF = 0;
    guardRun(variants, nVariants);
    openOutputs(nVariants);
    compareVariants(base, variants, nVariants);
    int32_t code = finishOutputs(nVariants);
    if (!streamFlushed(vout)) {  // dout is the same stream
        msgPrint(stderr, "\nFail to write: standard output\n");
        code = LOST_CODE;
    }
    return code;
}

// Closes what a run holds when a fatal report ended it, for a program whose
// Exit returns to it instead of ending the process.  After a close that
// fails (and reports), calling it again goes on with the rest.
void runAbandon(void)
{
    for (int k = 0; k < KINDS; k++) {
        letGo(&output[k]);
        memFree(outputFile[k]);
    }
    letGo(&variant);
}
