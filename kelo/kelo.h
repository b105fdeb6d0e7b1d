// kelo.h -- kelo as a library: one problem type and the exit codes, inputs
// read whole and outputs written safely, models and difference files held in
// memory, the rule that applies a variant group, and the command table.
// kelo's main and the tests link it.
//
// A new command is a routine `Problem cmdName(const Args &)` and one row of
// the table in command.cpp: its name, operands, summary and options as data.
// Parsing, `--help` and dispatch come from the row.  A new option is an
// OptionId and a line of command.cpp's option table: its name and the kind
// of value it takes.
#ifndef KELO_H
#define KELO_H

#include "kelo_diff.h"
#include "klib.h"

#include <array>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

/* problem.cpp -- what went wrong and where; the one place that words it */

// kelo's exit codes.
enum KeloCode : int32_t {
    KELO_OK = 0,
    KELO_USAGE = 1,       // bad command line
    KELO_BAD_FILE = 2,    // a difference file is malformed or does not fit the base
    KELO_BAD_MODEL = 3,   // a model file is refused
    KELO_NO_GROUP = 4,    // the asked-for variant is absent, or weights and groups disagree
    KELO_BAD_IMPORT = 5,  // a file to import (OBJ or glTF) is refused
    KELO_NOT_LIKE = 6,    // an imported model's topology differs from the --like base
    KELO_WRITE = 7,       // an output cannot be written; any earlier file there is kept
    KELO_OVER_INPUT = 8,  // an output is a file the command reads: nothing is written

    // Failures on inputs end with the support library's codes for the same
    // failures.
    KELO_NO_MEMORY = ALLOC_CODE,  // out of memory
    KELO_NO_OPEN = OPEN_CODE,     // an input cannot be opened
    KELO_READ = GET1_READ_CODE,   // an input cannot be read
    KELO_SHORT = GET1_EOF_CODE,   // an input ended before its size
};

// A problem: the exit code it ends kelo with, the file at fault (empty for
// the command line) and where in it: a byte offset (binary files) or a line
// (text files), or neither.  A default Problem is "no problem".
struct Problem {
    int32_t code = KELO_OK;
    std::string file;
    int64_t offset = -1;  // byte offset, or -1
    int64_t line = 0;     // line from 1, or 0
    std::string what;

    explicit operator bool() const { return code != KELO_OK; }
};

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
Problem problemIn(int32_t code, const std::string &file, std::string what);
Problem problemAt(int32_t code, const std::string &file, int64_t offset, std::string what);
Problem problemOnLine(int32_t code, const std::string &file, int64_t line, std::string what);
Problem usageProblem(std::string what);

struct Command;
struct Args;
enum OptionId : uint32_t;
// The message for a problem, each line ending in '\n': "kelo: FILE: offset
// N: what", "kelo: FILE:LINE: what", "kelo: FILE: what" or "kelo: what".  A
// usage problem of a command is "kelo CMD: what" and its usage line; one of
// no command (cmd null) is "kelo: what", an empty line and kelo's overview,
// or the overview alone when what is empty.
std::string problemMessage(const Problem &p, const Command *cmd = nullptr);
// Writes the problem's message, if there is a problem, on the error stream,
// and returns its code.  The only writer of the error stream in kelo.
int32_t reportProblem(const Problem &p, const Command *cmd = nullptr);
// Writes a line of information that is no problem, "kelo: FILE: what", on
// the error stream, where it cannot be taken for the output of a command.
void reportNote(const std::string &file, std::string what);

/* io.cpp -- inputs, outputs and the standard streams */

// A file read whole.  name is the name it opened under.
struct Input {
    std::string name;
    std::vector<unsigned char> bytes;
};

// Reads the file name whole: as written, then under each name that the
// extensions of list make of it (null: as written only), the names and their
// order those of the support library's fileMatchOpen.  in.name is the name
// it opened under.  KELO_NO_OPEN when it opens under none, KELO_READ or
// KELO_SHORT when it cannot be read whole.
Problem readInput(const std::string &name, const char *const *list, Input &in);

// The files one command reads, noted while an InputsNoted lives (kelo's run
// holds one around the command): readInput notes each input, glTF import
// each buffer file.  Every output is checked against them before anything
// is written, so that no output replaces a file the command reads.  Outside
// such a scope nothing is noted and nothing checked.
struct InputsNoted {
    InputsNoted();
    ~InputsNoted();
    InputsNoted(const InputsNoted &) = delete;
    InputsNoted &operator=(const InputsNoted &) = delete;
};
// Notes the file whose status st is, read under the name shown in messages.
void noteInput(const struct stat &st, const std::string &name);

// Writes size bytes to target: to a temporary file beside it, every write,
// the flush and the close checked, then renamed over it.  A target that is
// not a regular file (a device, a pipe) is written in place, also checked.
// On failure the temporary is removed, an earlier file at target is left
// untouched, and the problem has code KELO_WRITE.  A target that is a file
// the command reads (noteInput) is refused first: KELO_OVER_INPUT.
Problem writeOutput(const std::string &target, const void *data, size_t size);

// Several outputs, all or none: each is written beside its target as
// writeOutput writes it (a target that is not a regular file is opened), and
// only when every one is written are they renamed into place in order.  A
// failure before that leaves no temporary and no target changed; renaming
// fails only on a fault of the file system, and then the targets before it
// hold their new files.  Two outputs naming one file are a usage problem; a
// target that is a file the command reads is refused before any is written.
struct OutputFile {
    std::string target;
    std::vector<unsigned char> bytes;
};
Problem writeOutputs(const std::vector<OutputFile> &files);

// Flushes and checks standard output; KELO_WRITE when anything written to it
// was lost.
Problem finishStandardOutput();

/* text.cpp -- names in JSON, XML and file names, and input text in
   messages */

// s as a JSON string (quoted) and as XML character data, both always well
// formed: bytes that are not UTF-8, and characters the format cannot carry,
// become U+FFFD.
std::string jsonString(std::string_view s);
std::string xmlText(std::string_view s);

// s as part of a file name that a shell and an argument file take as one
// word: every character kept (letters and digits of any script among them)
// but path separators, control and invisible formatting characters, white
// space and the characters a shell treats specially, each run of which
// becomes one '_', as does each byte that is not UTF-8; cut to at most
// `most` bytes, whole characters.
std::string fileNameText(std::string_view s, size_t most);

// Text taken from an input (a name, a word, a library's report) as a message
// shows it: at most `most` bytes of it, whole characters, then "..." when
// it was longer; control characters and bytes that are not UTF-8 as \xNN,
// a backslash doubled.  Linear in what it shows.
constexpr size_t MESSAGE_TEXT_MAX = 64;
std::string messageText(std::string_view s, size_t most = MESSAGE_TEXT_MAX);

/* model.cpp -- KGX models held whole */

// One object of a model: the counts and scale of its table entry, the
// absolute file offsets of its arrays (the entry's tops made absolute and
// checked to lie inside the image), and which distinct arrays it uses.
struct KgxObject {
    uint32_t nVert, nNorm, nPrim, scale;
    uint32_t vertAt, normAt, primAt;
    uint32_t vertArray, normArray;  // indices into Model::vertArrays, normArrays
    uint32_t firstPrim;             // index of its first primitive in Model::prim
};

// An array that one or more objects use, told apart by where it starts and
// how many elements it has.
struct KgxArray {
    uint32_t at, count;
};

struct Model {
    std::string name;                  // the name it was read under
    std::vector<unsigned char> image;  // the file's bytes
    uint32_t flags = 0;
    std::vector<KgxObject> obj;
    std::vector<KgxArray> vertArrays, normArrays;
    std::vector<uint32_t> prim;  // offset of each primitive header, per distinct area

    uint32_t vertexAt(uint32_t o, uint32_t j) const { return obj[o].vertAt + KGX_ELEMENT * j; }
    uint32_t normalAt(uint32_t o, uint32_t j) const { return obj[o].normAt + KGX_ELEMENT * j; }
    uint32_t primitiveAt(uint32_t o, uint32_t j) const { return prim[obj[o].firstPrim + j]; }
    uint32_t word(uint32_t at) const { return loadLE32(&image[at]); }
    int16_t value(uint32_t at) const { return loadLE16(&image[at]); }
};

// Checks the layout of m.image against its size and fills the rest of m.
// Returns KELO_BAD_MODEL with the offset of the word at fault.
Problem modelParse(Model &m);
// Reads the model name (with the "kgx" and "KGX" fallbacks) and parses it.
Problem modelLoad(const std::string &name, Model &m);

// A primitive's corners as kelo reads packets: each corner's vertex and
// normal index in its object's arrays and its texture bytes (0 when the
// primitive is untextured).
struct PrimCorner {
    uint32_t vertex, normal;
    uint8_t u, v;
};
struct PrimCorners {
    uint32_t n = 0;  // primCorners(mode)
    bool textured = false;
    PrimCorner at[CORNERS_MAX];
};

// Reads the corners of a primitive from its header and packet words, for an
// object of nVert vertices and nNorm normals, in the layout kelo writes
// (kgx_model.h): word c gives corner c's vertex index and texture bytes,
// word n + c its normal index.  A packet shorter than two words per corner
// names no normals: each corner's normal is the one numbered like its
// vertex.  Returns null, or why the primitive cannot be read: its packet has
// fewer words than corners, or an index lies outside the object (a normal
// index only when the object has normals).
const char *cornersRead(uint32_t head, const uint32_t *packet, uint32_t nVert, uint32_t nNorm,
                        PrimCorners &out);
// Primitive j of object k read by cornersRead; KELO_BAD_MODEL at its header
// when it cannot be read.
Problem primitiveCorners(const Model &m, uint32_t k, uint32_t j, PrimCorners &out);

// KELO_BAD_MODEL when m's objects hold more primitives together than m has
// bytes, which only objects sharing primitive areas make them do: command
// reads every object's primitives, and its work stays bounded by the file.
Problem primitivesWithinBytes(const Model &m, const char *command);

/* kelofile.cpp -- difference files held whole, split into records and
   variant groups */

struct KeloRecord {
    uint32_t at;     // file offset of the record
    uint32_t obj;    // object index
    uint32_t first;  // first element of the run
    uint32_t count;  // elements in the run
    uint32_t group;  // variant group it belongs to
};

struct KeloFile {
    std::string name;
    KeloKind kind = KIND_VDF;
    std::vector<unsigned char> image;
    std::vector<KeloRecord> rec;
    std::vector<uint32_t> groupAt;  // each group's first record, then rec.size()

    uint32_t groups() const { return (uint32_t)groupAt.size() - 1; }
    // Value v of element e of the record's run.
    int16_t value(const KeloRecord &r, uint32_t e, uint32_t v) const
    {
        return loadLE16(
            &image[r.at + KELO_RECORD_HEAD + 2 * ((size_t)e * keloElementValues(kind) + v)]);
    }
};

const char *kindName(KeloKind kind);     // "vdf", "ndf", "tdf"
const char *kindElement(KeloKind kind);  // "vertex", "normal", "primitive"
const char *kindPlural(KeloKind kind);   // "vertices", "normals", "primitives"
std::optional<KeloKind> kindFromWord(std::string_view word);
std::optional<KeloKind> kindFromName(const std::string &name);
// The kind to read the file name as: --kind's when given, otherwise that of
// name's extension; a usage problem when neither tells.
Problem fileKind(const std::string &name, const Args &args, KeloKind &kind);
uint32_t kindElements(const KgxObject &ob, KeloKind kind);

// Checks the records of f.image and fills rec and groupAt.  Returns
// KELO_BAD_FILE with the offset at fault.
Problem keloParse(KeloFile &f);
Problem keloLoad(const std::string &name, KeloKind kind, KeloFile &f);

/* group.cpp -- one variant group against its base */

// Record i addresses elements the base has: an object within its count and
// a run within that object's vertices, normals or primitives.  Otherwise
// KELO_BAD_FILE at the field at fault.  groupFits checks every record of a
// group.
Problem recordFits(const Model &m, const KeloFile &f, uint32_t i);
Problem groupFits(const Model &m, const KeloFile &f, uint32_t group);

// What one variant changes in a model, each position once: for vertex and
// normal files the byte offset of each 16-bit value, for texture files that
// of each packet byte, with its difference from the base.  Reused from
// group to group; begin() starts the next variant.
struct Changes {
    std::vector<uint32_t> at;     // positions, in record order
    std::vector<int16_t> diff;    // per image byte: the difference set there
    std::vector<uint32_t> stamp;  // per image byte: the round that set it
    uint32_t round = 0;

    void begin(size_t imageSize);
};

// Adds group of f to ch: checks that f has the group (KELO_NO_GROUP
// otherwise) and that it fits the base, then sets each value the group's
// records carry.  A position set twice in one round must get the
// same difference (records of objects that share an array do), otherwise
// KELO_BAD_FILE.  A non-zero texture value for a byte the packet lacks is
// KELO_BAD_FILE too.
Problem groupChanges(const Model &m, const KeloFile &f, uint32_t group, Changes &ch);

// The base's image with the changes made: 16-bit values (vdf, ndf) or bytes
// (tdf) set to the base's value plus the difference, modulo the size.
void applyChanges(const Model &m, KeloKind kind, const Changes &ch,
                  std::vector<unsigned char> &image);

// The difference files named by the options given among --vdf, --ndf and
// --tdf, each read as the kind its option names.
Problem loadFiles(const Args &args, std::initializer_list<OptionId> options,
                  std::vector<KeloFile> &files);

// apply.cpp: the base with group K of each file applied.  Each value the
// records carry is set once, from the base (groupChanges); KELO_NO_GROUP
// when a file has no group K.
Problem applyVariant(const Model &m, const std::vector<KeloFile> &files, uint32_t group,
                     std::vector<unsigned char> &image);

// blend.cpp: for every 16-bit value that a group of the vertex and normal
// files changes (once, as applyVariant sets it), the base plus the rounded
// sum of weight x difference over the groups, clamped (blendValue).
// KELO_NO_GROUP when a file's groups do not match the weights.
Problem blendVariants(const Model &m, const std::vector<KeloFile> &files,
                      const std::vector<double> &weights, std::vector<unsigned char> &image);

/* command.cpp -- the command table: options as data, parsing, help and
   dispatch */

// Every option kelo knows.  Its name, the kind of value it takes and its
// choices stand once in command.cpp's option table; a command's rows say
// which it takes and with what default and rules.
enum OptionId : uint32_t {
    OPT_KIND,
    OPT_SUMMARY,
    OPT_JSON,
    OPT_VERBOSE,
    OPT_VARIANT,
    OPT_VDF,
    OPT_NDF,
    OPT_TDF,
    OPT_VIEW,
    OPT_SCALE,
    OPT_FIT,
    OPT_LIKE,
    OPT_OBJECTS,
    OPT_VARIANTS,
    OPT_NAMES,
    OPT_OUT,
    OPTION_IDS
};
const char *optionName(OptionId id);  // "--kind", "-o"

// The choices of --view and --objects; a choice's number is its index.
// --kind takes KELO_EXT, so its number is a KeloKind.
constexpr const char *VIEW_CHOICES[] = {"front", "top", "side"};
constexpr const char *OBJECTS_CHOICES[] = {"by-group", "single"};
constexpr uint32_t OBJECTS_SINGLE = 1;

// One option of a command.  value is the placeholder its help shows ("F",
// "OUT.kgx"; null for a flag); the usage line shows a choice's choices
// instead.  An option not given takes its fallback, if any, as if it were
// given.  It may not be given with the options it excludes (each pair is
// said on one of its two rows), and only with at least one of those it
// needs.
struct Option {
    OptionId id;
    const char *value = nullptr;
    const char *help = "";
    const char *fallback = nullptr;
    bool required = false;
    std::vector<OptionId> excludes = {}, needs = {};
};

// An option's value as parsing leaves it: the word given (or the fallback)
// and what it means for the option's kind: a count, a scale word, the index
// of a choice.  A flag, a word and an option neither given nor defaulted
// have no number: UINT32_MAX, so that reading one by mistake is no quiet 0.
struct OptionValue {
    bool given = false;  // on the command line, not by fallback
    std::string word;
    uint32_t number = UINT32_MAX;
};

// A command line as parsed against a command's options: the operands in
// order and each option's value.
struct Args {
    std::vector<std::string> operands;
    std::array<OptionValue, OPTION_IDS> options;
    bool help = false;  // --help or -h stood where an option may

    bool has(OptionId id) const { return options[id].given; }
    const std::string &word(OptionId id) const { return options[id].word; }
    uint32_t number(OptionId id) const { return options[id].number; }
};

struct Command {
    const char *name;      // as typed after "kelo"
    const char *operands;  // as the usage line shows them: "BASE.kgx FILE..."
    uint32_t minOperands, maxOperands;
    const char *summary;  // one line
    std::vector<Option> options;
    const char *notes;  // more help lines (operands, outputs), or null
    Problem (*run)(const Args &args);
};

const std::vector<Command> &commandTable();
extern const char keloVersion[];

std::string commandUsage(const Command &cmd);  // "kelo NAME OPERANDS [OPTIONS]"
std::string commandHelp(const Command &cmd);   // kelo NAME --help
std::string overview();                        // kelo --help

// Parses the words against cmd's options: each value is parsed for its
// kind, fallbacks are taken, and the rows' rules are checked.  A usage
// problem when they do not fit; args.help set when --help or -h stands
// where an option may (not as an option's value).
Problem parseArgs(const Command &cmd, const std::vector<std::string> &words, Args &args);

// kelo's whole run on the process's arguments: prints what the command
// prints and any problem, and returns the exit code.
int32_t keloMain(int argc, char **argv);

/* The commands: dump.cpp, check.cpp, apply.cpp, blend.cpp, svg.cpp,
   convert.cpp */

Problem cmdDump(const Args &args);
Problem cmdCheck(const Args &args);
Problem cmdApply(const Args &args);
Problem cmdBlend(const Args &args);
Problem cmdSvg(const Args &args);
Problem cmdImport(const Args &args);
Problem cmdExport(const Args &args);

/* blend.cpp -- the blending rule */

// The blended value of one 16-bit model value: base + round(sum), halves
// away from zero, clamped to -32768..32767.
int16_t blendValue(int16_t base, double sum);

#endif
