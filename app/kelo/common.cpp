// common.cpp -- what kelo's commands share: the command table, usage and
// option helpers, failure reports and the files a command holds
#include "kelo.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

const char keloVersion[] = "1.0";

KgxModel keloModel[2];
KeloFile keloFile[KELO_FILES];

const CommandInfo commands[COMMANDS] = {
    {"dump", "dump [--kind vdf|ndf|tdf] [--summary] [--json] FILE",
     "list the records of a difference file",
     "  --kind K    read FILE as K (vdf, ndf or tdf) whatever its extension\n"
     "  --summary   one line per record: object, first, count, largest difference\n"
     "  --json      the same data as one JSON object\n"},
    {"check", "check [-v] [--kind vdf|ndf|tdf] BASE.kgx FILE...",
     "check difference files against their base model",
     "  -v          print a summary line per file when it is sound\n"
     "  --kind K    read every FILE as K whatever its extension\n"},
    {"apply", "apply BASE.kgx --variant K [--vdf F] [--ndf F] [--tdf F] -o OUT.kgx",
     "write the model that one variant's records describe",
     "  --variant K the K-th variant group of each file, counted from 0\n"
     "  --vdf F     add F's vertex differences\n"
     "  --ndf F     add F's normal differences\n"
     "  --tdf F     add F's texture differences to the packet bytes\n"
     "  -o OUT      the model to write\n"},
    {"blend", "blend BASE.kgx --vdf F [--ndf F] W0 W1 ... -o OUT.kgx",
     "write base + sum of weight x difference, one weight per variant",
     "  --vdf F     vertex differences to blend\n"
     "  --ndf F     normal differences to blend with the same weights\n"
     "  W0 W1 ...   one decimal weight per variant group\n"
     "  -o OUT      the model to write\n"},
    {"svg", "svg BASE.kgx [--vdf F --variant K] [--view front|top|side] -o OUT.svg",
     "draw the base's vertices and one variant's moves as SVG",
     "  --vdf F     draw an arrow for each vertex the variant moves\n"
     "  --variant K the variant group to draw (default 0)\n"
     "  --view V    front (x, y), top (x, z) or side (z, y); default front\n"
     "  -o OUT      the picture to write\n"},
    {"import", "import IN.obj [--scale S | --fit | --like BASE.kgx] [--objects by-group|single] -o OUT.kgx",
     "make a KGX model from a Wavefront OBJ file",
     "  --scale S   store each coordinate as round(x * S) in signed 16 bits\n"
     "  --fit       the largest scale at which the model fits, printed (the default)\n"
     "  --like B    take B's flags and scales and refuse a topology that differs from B's\n"
     "  --objects H by-group (default): one object per g or o name; single: one object\n"
     "  -o OUT      the model to write\n"},
    {"export", "export IN.kgx -o OUT.obj",
     "write a KGX model as a Wavefront OBJ file",
     "  -o OUT      the OBJ file to write: one group per object, positions divided by\n"
     "              the object's scale\n"},
};

// Prints the command's usage lines and options to fp.
void commandUsage(Command cmd, FILE *fp)
{
    fprintf(fp, "usage: kelo %s\n\n%s\n\noptions:\n%s", commands[cmd].synopsis, commands[cmd].summary,
            commands[cmd].help);
    fflush(fp);
}

// Reports a bad command line for cmd: "kelo CMD: message" and the usage
// line on the error stream; ends the process with KELO_USAGE.
void usageError(Command cmd, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    fprintf(stderr, "kelo %s: ", commands[cmd].name);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fprintf(stderr, "\nusage: kelo %s\n", commands[cmd].synopsis);
    fflush(stderr);
    Exit(KELO_USAGE);
}

// Returns the value that follows the option at argv[*i] and steps *i over
// it; an option at the end of the line is a usage error.
const char *optionValue(Command cmd, int32_t argc, char **argv, int32_t *i)
{
    if (*i + 1 >= argc)
        usageError(cmd, "%s needs a value", argv[*i]);
    *i += 1;
    return argv[*i];
}

// Reads a variant number: decimal digits only, below 2^31.  Ends the
// process with KELO_USAGE otherwise.
uint32_t variantNumber(Command cmd, const char *word)
{
    char *end;
    unsigned long k = strtoul(word, &end, 10);
    if (!*word || *end || word[0] == '-' || word[0] == '+' || k > INT32_MAX)
        usageError(cmd, "variant %s is not a number from 0 on", word);
    return (uint32_t)k;
}

// Prints "kelo: message" on the error stream and ends the process with
// code, through Exit like every other failure.
void failWith(int32_t code, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    fputs("kelo: ", stderr);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputc('\n', stderr);
    fflush(stderr);
    Exit(code);
}

// Loads a model or ends the process with KELO_BAD_MODEL, naming the offset
// at which the file stops making sense.
void loadModelOrFail(KgxModel *m, const char *name)
{
    if (!modelLoad(m, name))
        failWith(KELO_BAD_MODEL, "%s: offset %lu: %s", m->name ? m->name : name,
                 (unsigned long)inputProblemAt, inputProblem);
}

// Loads a difference file or ends the process with KELO_BAD_FILE.
void loadKeloOrFail(KeloFile *f, const char *name, KeloKind kind)
{
    if (!keloLoad(f, name, kind))
        failWith(KELO_BAD_FILE, "%s: offset %lu: %s", name, (unsigned long)inputProblemAt,
                 inputProblem);
}

