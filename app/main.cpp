// main.cpp -- keyblend's driver: argument expansion, options, usage and Exit
// around the run over the variants (run.cpp)
#include "defs.h"

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <strings.h>

static const char _version[] = "Version 1.51";
static const char buildDate[] = "Apr  1 1996";

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
    } else {
        guardNote(fh, word);
        while (scanToken(fh->fp))
            argAdd(buf);
        fileClose(fh);
    }
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
            // The last -o stands.  An earlier value is kept, not released,
            // so that allocation reports count releases as documented: a
            // few bytes for each repeated -o, until the run ends.
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

int main(int argc, char **argv)
{
    // A write past a file size limit, or to a pipe no one reads any more
    // (standard output into a pager the user left, an output on a FIFO),
    // must fail (EFBIG, EPIPE) and be reported as a lost write, whatever
    // disposition the run was started with: by default SIGXFSZ or SIGPIPE
    // would end the run inside that write and leave outputs that still hold
    // their provisional counts.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    if (!stdDescriptorsOpen())
        errReport(OPEN_ERR, OPEN_CODE, "/dev/null");
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
    } else {
        guardNote(base, base->name);
        int32_t code = runVariants(base, Argv + first + 1, variants);
        fileClose(base);
        memFree(outputName);
        Exit(code);
    }
    return 0;
}
