// main.cpp -- keyblend's driver: argument expansion, options, usage, the run
// over the variants and Exit
#include "defs.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

int32_t Verbose = 0;
uint8_t Dump = 0;
uint8_t NormalKelo = 0;
uint8_t UVKelo = 0;
uint8_t ColorKelo = 0;
FILE *vout = stdout;
FILE *dout = stdout;
char *outputName = nullptr;

static const char _version[] = "Version 1.51";
static const char buildDate[] = "Apr  1 1996";

// Exit codes of keyblend's own, beside the library's.
constexpr int32_t USAGE_CODE = 1;
constexpr int32_t ARG_FILE_CODE = 2;  // an argument file cannot be opened
constexpr int32_t BASE_CODE = 1000;   // the base model cannot be opened

// The argument list starts in a fixed table of ARGV_MAX entries and moves to
// counted blocks of twice the size whenever it fills up, so there is no
// limit on the number of entries.  Tokens of argument files are read into
// buf, which grows the same way beyond TOKEN_MAX characters.
constexpr int32_t ARGV_MAX = 2000;
constexpr int32_t TOKEN_MAX = 255;
static char *argvFixed[ARGV_MAX];
static int32_t argvRoom = ARGV_MAX;
char **Argv = argvFixed;
int32_t Argc = 0;
static char bufFixed[TOKEN_MAX + 1];
static char *buf = bufFixed;
static int32_t bufRoom = TOKEN_MAX + 1;

// Doubles a table of room entries of width bytes into a counted block and
// returns it; the old table is given back unless it is the fixed one.
static void *growTable(void *table, const void *fixed, int32_t *room, size_t width,
                       const char *label)
{
    int64_t bytes = (int64_t)*room * 2 * (int64_t)width;
    char *bigger = strAlloc(bytes <= INT32_MAX ? (int32_t)bytes : -1, label);
    memcpy(bigger, table, (size_t)*room * width);
    if (table != fixed)
        freeCounted(table);
    *room *= 2;
    return bigger;
}

static void argAdd(const char *word)
{
    if (Argc == argvRoom)
        Argv = (char **)growTable(Argv, argvFixed, &argvRoom, sizeof *Argv, "Argv");
    Argv[Argc] = strCopy(word);
    Argc++;
}

static void bufPut(int32_t at, int c)
{
    if (at == bufRoom)
        buf = (char *)growTable(buf, bufFixed, &bufRoom, 1, "buf");
    buf[at] = (char)c;
}

// Reads the next token of an argument file into buf: a maximal run of
// characters other than white space.  Returns 0 at the end of the file; a
// read error ends the file the same way.
static int32_t scanToken(FILE *fp)
{
    int c;
    do
        c = getc(fp);
    while (c != EOF && isspace(c));
    if (c == EOF)
        return 0;
    int32_t n = 0;
    do {
        bufPut(n++, c);
        c = getc(fp);
    } while (c != EOF && !isspace(c));
    bufPut(n, '\0');
    return 1;
}

// Enters the tokens of an argument file as they stand: a token naming
// another argument file is a model name like any other.  An argument file
// that opens under no tried name ends the run with ARG_FILE_CODE, since
// going on without its entries would silently drop them.
static void readArgFile(const char *word)
{
    FileHandle *fh = fileMatchOpen(word, ARG_EXT, "r");
    if (!fh) {
        errReport(OPEN_ERR, ARG_FILE_CODE, word);
        return;
    }
    guardNote(fh);
    while (scanToken(fh->fp))
        argAdd(buf);
    fileClose(fh);
}

// Turns the command line into Argv, putting the tokens of each argument
// file (extension "arg" in any case) in the place of its name.
static void expandArgs(int argc, char **argv)
{
    Argc = 0;
    for (int i = 1; i < argc; i++) {
        char *ext = getExt(argv[i]);
        if (ext && strcasecmp(ext, "arg") == 0)
            readArgFile(argv[i]);
        else
            argAdd(argv[i]);
        memFree(ext);
    }
    if (buf != bufFixed)
        memFree(buf);
}

void usage(void)
{
    static const char *const lines[] = {
        "Usage: keyblend [options] base.kgx variant1.kgx variant2.kgx ...",
        "       keyblend [options] kgxs.arg ...",
        "   options:",
        "\t-o output_name ... Set output file name          (default: base)",
        "\t-n             ... Create Normal Kelo file(.ndf) (default: OFF)",
        "\t-v             ... Set verbose mode ON           (default: OFF)",
    };
    msgPrint(stderr, "%s %s\n", _version, buildDate);
    for (const char *line : lines)
        msgPrint(stderr, "%s\n", line);
    Exit(USAGE_CODE);
}

// Sets the flags and outputName from the leading options and returns the
// index of the first model name (argc when there is none).  Options are
// matched without regard to case.  "-help" and any other word starting with
// '-' print the usage.  "-o" takes the next entry whatever it is; as the
// last entry it has no value, which leaves no model name either.
int32_t option(int32_t argc, char **argv)
{
    int32_t i;
    for (i = 0; i < argc; i++) {
        const char *arg = argv[i];
        if (strcasecmp(arg, "-v") == 0) {
            Verbose = 1;
        } else if (strcasecmp(arg, "-o") == 0) {
            if (i + 1 >= argc)
                return argc;
            memFree(outputName);
            outputName = getPathName(argv[++i]);
        } else if (strcasecmp(arg, "-n") == 0) {
            NormalKelo = 1;
        } else if (strcasecmp(arg, "-c") == 0) {
            ColorKelo = 1;
        } else if (strcasecmp(arg, "-t") == 0) {
            UVKelo = 1;
        } else if (strcasecmp(arg, "-dump") == 0) {
            Dump = 1;
        } else if (arg[0] == '-') {
            usage();
        } else {
            return i;
        }
    }
    return i;
}

void Exit(int32_t code)
{
    for (int32_t i = 0; i < Argc; i++)
        memFree(Argv[i]);
    if (Argv != argvFixed)
        freeCounted(Argv);
    Argv = argvFixed;
    Argc = 0;
    memFree(outputName);
    if (code != 0)
        exit(code);
}

// The output's file name: outputName with the extension.  An outputName
// that still holds an extension of its own (a.b from a.b.kgx) would come
// back from mkFileName unchanged for every output, so the three would share
// one file; the extension is appended to it instead.
static char *outputFileName(const char *ext)
{
    if (!getExt0(outputName))
        return mkFileName(outputName, ext, nullptr);
    size_t size = strlen(outputName) + strlen(ext) + 2;
    char *name = strAlloc((int32_t)size, outputName);
    snprintf(name, size, "%s.%s", outputName, ext);
    return name;
}

// The outputs, in the order they are made and finished.
enum { VDF, NDF, TDF, OUTPUTS };
static const char *const outputExt[OUTPUTS] = {"vdf", "ndf", "tdf"};
static FileHandle *output[OUTPUTS];
static char *outputFile[OUTPUTS];

// Names each requested output and refuses the run, before anything is
// created, when one of them is a file the run reads.
static void nameOutputs(int32_t first)
{
    bool wanted[OUTPUTS] = {true, NormalKelo != 0, UVKelo != 0};
    char *named[OUTPUTS];
    int32_t nNamed = 0;
    for (int k = 0; k < OUTPUTS; k++)
        if (wanted[k])
            named[nNamed++] = outputFile[k] = outputFileName(outputExt[k]);
    guardOutputs(named, nNamed, Argv + first + 1, Argc - first - 1);
}

// Creates each named output with the provisional record count: one record
// per variant.
static void openOutputs(int32_t variants)
{
    for (int k = 0; k < OUTPUTS; k++) {
        if (!outputFile[k])
            continue;
        output[k] = fileOpen(outputFile[k], "w");
        put4Bytes((uint32_t)variants, output[k]);
    }
}

// Corrects each output's record count when the records written differ from
// the provisional one, shows its size in verbose mode and closes it.
static void finishOutputs(int32_t variants)
{
    const uint32_t records[OUTPUTS] = {nVDF, nNDF, nMDF};
    bool firstLine = true;
    for (int k = 0; k < OUTPUTS; k++) {
        FileHandle *out = output[k];
        if (!out)
            continue;
        int32_t size = out->pos;
        if (records[k] != (uint32_t)variants) {
            fileSeek(out, 0);
            put4Bytes(records[k], out);
        }
        if (Verbose)
            msgPrint(vout, firstLine ? "\nOutput file(s)    : %10s %10lu bytes\n"
                                     : "                  : %10s %10lu bytes\n",
                     outputFile[k], (unsigned long)(uint32_t)size);
        firstLine = false;
        fileClose(out);
        output[k] = nullptr;
        memFree(outputFile[k]);
    }
}

// Compares each variant with the base.  A variant that opens under no tried
// name is skipped silently; so is one that fails the header check, which
// then writes no records.  A base that is not a model ends the loop.
static void compareVariants(FileHandle *base, int32_t first)
{
    for (int32_t i = first + 1; i < Argc; i++) {
        FileHandle *var = fileMatchOpen(Argv[i], kgxs, "r");
        if (!var)
            continue;
        int32_t check = kgx_diff(base, var);
        if (check > 0) {
            vn_diff(base, var, output[VDF], output[NDF]);
            mat_diff(base, var, output[TDF]);
        }
        fileSeek(base, 0);
        fileClose(var);
        if (check < 0)
            break;
    }
}

int main(int argc, char **argv)
{
    msgPrint(stderr, "keyblend %s -- Kelo difference files from KGX models\n", _version);
    expandArgs(argc, argv);
    int32_t first = option(Argc, Argv);
    int32_t variants = Argc - first - 1;
    if (variants < 1)
        usage();
    if (Verbose)
        msgPrint(stderr, "keyblend %s %s\n", _version, buildDate);
    if (!outputName)
        outputName = getName(Argv[first]);
    FileHandle *base = fileMatchOpen(Argv[first], kgxs, "r");
    if (!base) {
        errReport(OPEN_ERR, BASE_CODE, Argv[first]);
        return EXIT_FAILURE;
    }
    guardNote(base);
    nameOutputs(first);
    openOutputs(variants);
    compareVariants(base, first);
    finishOutputs(variants);
    fileClose(base);
    memFree(outputName);
    Exit(0);
    return 0;
}
