// kelo.h -- what kelo's commands share: exit codes, the command table,
// difference files held in memory and the process-wide state Exit releases
#ifndef KELO_H
#define KELO_H

#include "model.h"

/* Exit codes of kelo's own, beside the library's (11-13, 30-45, 51-52). */
constexpr int32_t KELO_OK = 0;
constexpr int32_t KELO_USAGE = 1;      // bad command line
constexpr int32_t KELO_BAD_FILE = 2;   // a difference file is malformed or does not fit the base
constexpr int32_t KELO_BAD_MODEL = 3;  // a model file is refused
constexpr int32_t KELO_NO_GROUP = 4;   // the asked-for variant is absent, or weights and groups disagree
constexpr int32_t KELO_BAD_OBJ = 5;    // an OBJ file cannot be imported
constexpr int32_t KELO_NOT_LIKE = 6;   // an imported OBJ's topology differs from the --like base

/* common.cpp -- the command table, usage, option and failure helpers */

enum Command { CMD_DUMP, CMD_CHECK, CMD_APPLY, CMD_BLEND, CMD_SVG, CMD_IMPORT, CMD_EXPORT, COMMANDS };

struct CommandInfo {
    const char *name;      // as typed after "kelo"
    const char *synopsis;  // the usage line(s) after "kelo "
    const char *summary;   // one line for the overview
    const char *help;      // the option lines of "kelo COMMAND --help"
};
extern const CommandInfo commands[COMMANDS];
extern const char keloVersion[];

void commandUsage(Command cmd, FILE *fp);
void usageError(Command cmd, const char *format, ...) __attribute__((format(printf, 2, 3)));
const char *optionValue(Command cmd, int32_t argc, char **argv, int32_t *i);
uint32_t variantNumber(Command cmd, const char *word);
void failWith(int32_t code, const char *format, ...) __attribute__((format(printf, 2, 3)));

/* kelofile.cpp -- difference files held whole, split into records */

constexpr KeloKind KIND_NONE = KINDS;  // no kind named
extern const char *const kindName[KINDS];     // "vdf", "ndf", "tdf"
extern const char *const kindElement[KINDS];  // "vertex", "normal", "primitive"
extern const uint32_t kindValues[KINDS];      // 16-bit values per element: 4, 4, 8

// One record: where it starts in the file and the run it describes.
struct KeloRecord {
    uint32_t at;     // file offset of the record (its object index)
    uint32_t obj;    // object index
    uint32_t first;  // first element of the run
    uint32_t count;  // elements in the run
    uint32_t group;  // variant group the record belongs to
};

// A difference file held whole.  Blocks are counted and owned until keloFree.
struct KeloFile {
    char *name;
    KeloKind kind;
    unsigned char *image;
    uint32_t size;
    uint32_t nCount;     // the record count at offset 0
    uint32_t nRec;       // records present
    KeloRecord *rec;     // nRec entries
    uint32_t nGroup;     // variant groups
    uint32_t *groupAt;   // nGroup + 1 entries: index of each group's first record, then nRec
};

KeloKind kindFromName(const char *name);
KeloKind kindFromWord(const char *word);
int32_t keloParse(KeloFile *f);
int32_t keloLoad(KeloFile *f, const char *name, KeloKind kind);
void keloFree(KeloFile *f);
int16_t keloValue(const KeloFile *f, const KeloRecord *r, uint32_t element, uint32_t value);
uint32_t kindElements(const KgxObject *ob, KeloKind kind);

// Files that a command holds; Exit releases whatever is still loaded.
constexpr int32_t KELO_FILES = 3;
extern KgxModel keloModel[2];
extern KeloFile keloFile[KELO_FILES];

void loadModelOrFail(KgxModel *m, const char *name);
void loadKeloOrFail(KeloFile *f, const char *name, KeloKind kind);

/* dump.cpp, check.cpp, apply.cpp, blend.cpp, svg.cpp, obj_cmd.cpp -- the commands; each
   takes the arguments after its name and returns the exit code */

int32_t cmdDump(int32_t argc, char **argv);
int32_t cmdCheck(int32_t argc, char **argv);
int32_t cmdApply(int32_t argc, char **argv);
int32_t cmdBlend(int32_t argc, char **argv);
int32_t cmdSvg(int32_t argc, char **argv);
int32_t cmdImport(int32_t argc, char **argv);  // obj_cmd.cpp
int32_t cmdExport(int32_t argc, char **argv);  // obj_cmd.cpp

/* apply.cpp -- the arithmetic that apply and its tests share */

int32_t checkRecord(const KgxModel *m, const KeloFile *f, const KeloRecord *r, char *why,
                    size_t size);
int32_t applyGroup(KgxModel *m, const KeloFile *f, uint32_t group, char *why, size_t size);

/* blend.cpp -- the blending rule */

int16_t blendValue(int16_t base, double sum);

#endif
