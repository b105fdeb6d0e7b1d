// command.cpp -- the command table, and the parsing, help and dispatch it
// drives
#include "mesh.h"

#include <algorithm>
#include <cctype>
#include <new>
#include <span>
#include <stdexcept>

const char keloVersion[] = "1.0";

// What an option's value is, and the number parsing makes of it.
enum ValueKind {
    FLAG,    // no value
    WORD,    // any word; no number
    PATH,    // a file name or a prefix of file names: not empty
    COUNT,   // decimal digits, 0 to 2^31 - 1: that number
    SCALE,   // a positive decimal number: its scale word (scaleParse)
    CHOICE,  // one of the option's choices: its index
};

// Every option kelo knows, in the order of OptionId.
struct OptionDef {
    OptionId id;
    const char *name;
    ValueKind kind;
    std::span<const char *const> choices = {};
};
static constexpr OptionDef OPTIONS[] = {
    {OPT_KIND, "--kind", CHOICE, KELO_EXT},
    {OPT_SUMMARY, "--summary", FLAG},
    {OPT_JSON, "--json", FLAG},
    {OPT_VERBOSE, "-v", FLAG},
    {OPT_VARIANT, "--variant", COUNT},
    {OPT_VDF, "--vdf", PATH},
    {OPT_NDF, "--ndf", PATH},
    {OPT_TDF, "--tdf", PATH},
    {OPT_VIEW, "--view", CHOICE, VIEW_CHOICES},
    {OPT_SCALE, "--scale", SCALE},
    {OPT_FIT, "--fit", FLAG},
    {OPT_LIKE, "--like", PATH},
    {OPT_OBJECTS, "--objects", CHOICE, OBJECTS_CHOICES},
    {OPT_VARIANTS, "--variants", PATH},
    {OPT_NAMES, "--names", WORD},
    {OPT_OUT, "-o", PATH},
};
static_assert(std::size(OPTIONS) == OPTION_IDS && [] {
    for (uint32_t i = 0; i < OPTION_IDS; i++)
        if (OPTIONS[i].id != i)
            return false;
    return true;
}());

const char *optionName(OptionId id) { return OPTIONS[id].name; }

// Each command: name, operands (with their least and most count), summary,
// options, further help lines, and the routine that runs it.  Built on first
// use rather than before main, so that running out of memory while building
// it is reported like any other shortage.
const std::vector<Command> &commandTable()
{
    static const std::vector<Command> table = {
        {"dump",
         "FILE",
         1,
         1,
         "list the records of a difference file",
         {{.id = OPT_KIND, .value = "K", .help = "read FILE as K whatever its extension"},
          {.id = OPT_SUMMARY,
           .help = "one line per record: object, first, count, largest difference"},
          {.id = OPT_JSON, .help = "the same data as one JSON object"}},
         nullptr,
         cmdDump},
        {"check",
         "BASE.kgx FILE...",
         2,
         UINT32_MAX,
         "check difference files against their base model",
         {{.id = OPT_VERBOSE, .help = "print a summary line per file when it is sound"},
          {.id = OPT_KIND, .value = "K", .help = "read every FILE as K whatever its extension"}},
         nullptr,
         cmdCheck},
        {"apply",
         "BASE.kgx",
         1,
         1,
         "write the model that one variant's records describe",
         {{.id = OPT_VARIANT,
           .value = "K",
           .help = "the K-th variant group of each file, counted from 0",
           .required = true,
           .needs = {OPT_VDF, OPT_NDF, OPT_TDF}},
          {.id = OPT_VDF, .value = "F", .help = "add F's vertex differences"},
          {.id = OPT_NDF, .value = "F", .help = "add F's normal differences"},
          {.id = OPT_TDF, .value = "F", .help = "add F's texture differences to the packet bytes"},
          {.id = OPT_OUT, .value = "OUT.kgx", .help = "the model to write", .required = true}},
         nullptr,
         cmdApply},
        {"blend",
         "BASE.kgx W0 W1 ...",
         1,
         UINT32_MAX,
         "write base + sum of weight x difference, one weight per variant",
         {{.id = OPT_VDF, .value = "F", .help = "vertex differences to blend", .required = true},
          {.id = OPT_NDF,
           .value = "F",
           .help = "normal differences to blend with the same weights"},
          {.id = OPT_OUT, .value = "OUT.kgx", .help = "the model to write", .required = true}},
         "W0 W1 ... are decimal weights, one per variant group of each file.\n",
         cmdBlend},
        {"svg",
         "BASE.kgx",
         1,
         1,
         "draw the base's vertices and one variant's moves as SVG",
         {{.id = OPT_VDF, .value = "F", .help = "draw an arrow for each vertex the variant moves"},
          {.id = OPT_VARIANT,
           .value = "K",
           .help = "the variant group to draw",
           .fallback = "0",
           .needs = {OPT_VDF}},
          {.id = OPT_VIEW,
           .value = "V",
           .help = "front (x, y), top (x, z) or side (z, y)",
           .fallback = "front"},
          {.id = OPT_OUT, .value = "OUT.svg", .help = "the picture to write", .required = true}},
         nullptr,
         cmdSvg},
        {"import",
         "IN.obj|IN.glb|IN.gltf",
         1,
         1,
         "make a KGX model from a Wavefront OBJ file or a glTF asset",
         {{.id = OPT_SCALE,
           .value = "S",
           .help = "store each coordinate as round(x * S) in signed 16 bits",
           .excludes = {OPT_FIT, OPT_LIKE}},
          {.id = OPT_FIT,
           .help = "the default: the largest scale at which the model fits, told on stderr",
           .excludes = {OPT_LIKE}},
          {.id = OPT_LIKE,
           .value = "BASE.kgx",
           .help = "take its flags and scales; refuse a topology that differs from its"},
          {.id = OPT_OBJECTS,
           .value = "H",
           .help = "OBJ: by-group, one object per g or o name; single, one object",
           .fallback = "by-group"},
          {.id = OPT_VARIANTS,
           .value = "PREFIX",
           .help = "glTF: also write each morph target's model, PREFIX_NAME.kgx, and "
                   "PREFIX.arg"},
          {.id = OPT_OUT, .value = "OUT.kgx", .help = "the model to write", .required = true}},
         "IN is a glTF asset when its name ends in .glb or .gltf, an OBJ file otherwise:\n"
         "the meshes its scene places, where it places them.  With --variants the file\n"
         "of each morph target is printed, in the order of the targets, and PREFIX.arg\n"
         "names OUT.kgx and them: 'keyblend -n PREFIX.arg' is the next step.\n",
         cmdImport},
        {"export",
         "IN.kgx",
         1,
         1,
         "write a KGX model as a Wavefront OBJ file or a glTF asset",
         {{.id = OPT_VDF, .value = "F", .help = "glTF: one morph target per variant group of F"},
          {.id = OPT_NDF, .value = "F", .help = "glTF: the targets' normal offsets, from F"},
          {.id = OPT_SCALE,
           .value = "S",
           .help = "glTF: S steps per metre in every object instead of its own scale"},
          {.id = OPT_NAMES,
           .value = "N0,N1,...",
           .help = "glTF: the targets' names, one per variant group",
           .needs = {OPT_VDF, OPT_NDF}},
          {.id = OPT_OUT,
           .value = "OUT.obj|OUT.glb|OUT.gltf",
           .help = "glTF for .glb (binary) and .gltf, OBJ otherwise",
           .required = true}},
         nullptr,
         cmdExport},
    };
    return table;
}

// "a", "a or b", "a, b or c".
static std::string alternatives(const std::vector<std::string> &words)
{
    std::string s;
    for (size_t i = 0; i < words.size(); i++)
        s += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
    return s;
}

static std::string optionNames(const std::vector<OptionId> &ids)
{
    std::vector<std::string> names;
    for (OptionId id : ids)
        names.push_back(optionName(id));
    return alternatives(names);
}

// An option's form in the usage line: "-o OUT.kgx", "[--kind vdf|ndf|tdf]".
static std::string optionForm(const Option &o)
{
    const OptionDef &d = OPTIONS[o.id];
    std::string form = d.name;
    if (d.kind == CHOICE)
        for (size_t i = 0; i < d.choices.size(); i++)
            form.append(i ? "|" : " ").append(d.choices[i]);
    else if (d.kind != FLAG)
        form.append(" ").append(o.value);
    return o.required ? form : "[" + form + "]";
}

std::string commandUsage(const Command &cmd)
{
    std::string s = std::string("kelo ") + cmd.name + " " + cmd.operands;
    for (const Option &o : cmd.options)
        s += " " + optionForm(o);
    return s;
}

// What a row says besides its help: "(default 0; needs --vdf)", "(not with
// --fit or --like)", or nothing.  An exclusion shows on both of its options.
static std::string ruleNote(const Command &cmd, const Option &o)
{
    std::vector<std::string> notes;
    if (o.fallback)
        notes.push_back(std::string("default ") + o.fallback);
    if (!o.needs.empty())
        notes.push_back("needs " + optionNames(o.needs));
    std::vector<OptionId> excluded;
    for (const Option &r : cmd.options)
        if (std::ranges::count(r.excludes, o.id) || std::ranges::count(o.excludes, r.id))
            excluded.push_back(r.id);
    if (!excluded.empty())
        notes.push_back("not with " + optionNames(excluded));
    std::string s;
    for (const std::string &n : notes)
        s += (s.empty() ? "(" : "; ") + n;
    return s.empty() ? s : s + ")";
}

std::string commandHelp(const Command &cmd)
{
    std::string s = "usage: " + commandUsage(cmd) + "\n\n" + cmd.summary + "\n\noptions:\n";
    // Each option as "-o OUT.kgx", its help lined up after the longest; a
    // note that would pass 80 columns goes on a line of its own.
    std::vector<std::string> left;
    int width = 0;
    for (const Option &o : cmd.options) {
        left.push_back(o.value ? std::string(optionName(o.id)) + " " + o.value : optionName(o.id));
        width = std::max(width, (int)left.back().size());
    }
    for (size_t i = 0; i < left.size(); i++) {
        std::string line = format("  %-*s  %s", width, left[i].c_str(), cmd.options[i].help);
        std::string note = ruleNote(cmd, cmd.options[i]);
        if (!note.empty())
            line +=
                (line.size() + 1 + note.size() > 80 ? "\n" + std::string(width + 4, ' ') : " ") +
                note;
        s += line + "\n";
    }
    return cmd.notes ? s + "\n" + cmd.notes : s;
}

std::string overview()
{
    std::string s = "usage: kelo COMMAND OPERANDS [options]\n\n"
                    "Inspect, check, apply, blend and picture Kelo difference files;\n"
                    "convert models from and to Wavefront OBJ and glTF.\n\ncommands:\n";
    for (const Command &cmd : commandTable())
        s += "  " + commandUsage(cmd) + "\n      " + cmd.summary + "\n";
    return s + "\n'kelo COMMAND --help' describes a command's options; "
               "'kelo --version' prints the version.\n";
}

// A word that starts with '-' is an option, unless it is a number: blend's
// weights may be negative.
static bool isOption(const std::string &word)
{
    return word.size() > 1 && word[0] == '-' &&
           !(isdigit((unsigned char)word[1]) || word[1] == '.');
}

// A count: decimal digits only, at most 2^31 - 1.
static bool countParse(const std::string &word, uint32_t &n)
{
    uint64_t v = 0;
    for (char c : word) {
        if (!isdigit((unsigned char)c))
            return false;
        v = v * 10 + (uint32_t)(c - '0');
        if (v > INT32_MAX)
            return false;
    }
    n = (uint32_t)v;
    return !word.empty();
}

// The value word gives the option, parsed once for its kind; the one wording
// of a value of the wrong kind: "--view takes front, top or side, not "x"".
static Problem takeValue(OptionId id, const std::string &word, bool given, Args &args)
{
    const OptionDef &d = OPTIONS[id];
    OptionValue &v = args.options[id];
    v = {given, word};
    std::string wanted;
    switch (d.kind) {
    case FLAG:
    case WORD:
        return {};
    case PATH:
        if (!word.empty())
            return {};
        wanted = "a file name";
        break;
    case COUNT:
        if (countParse(word, v.number))
            return {};
        wanted = format("a whole number from 0 to %ld", (long)INT32_MAX);
        break;
    case SCALE:
        if (scaleParse(word.c_str(), v.number))
            return {};
        wanted = "a positive number";
        break;
    case CHOICE:
        for (uint32_t c = 0; c < d.choices.size(); c++)
            if (word == d.choices[c]) {
                v.number = c;
                return {};
            }
        wanted = alternatives({d.choices.begin(), d.choices.end()});
        break;
    }
    return usageProblem(format("%s takes %s, not \"%s\"", d.name, wanted.c_str(), word.c_str()));
}

// Takes words[i] as an operand, --help, or an option with its value.
static Problem takeWord(const Command &cmd, const std::vector<std::string> &words, size_t &i,
                        Args &args)
{
    const std::string &w = words[i];
    if (!isOption(w)) {
        args.operands.push_back(w);
        return {};
    }
    if (w == "--help" || w == "-h") {
        args.help = true;
        return {};
    }
    auto row =
        std::ranges::find_if(cmd.options, [&](const Option &o) { return w == optionName(o.id); });
    if (row == cmd.options.end())
        return usageProblem("unknown option " + w);
    if (OPTIONS[row->id].kind == FLAG) {
        args.options[row->id].given = true;
        return {};
    }
    if (i + 1 == words.size())
        return usageProblem(format("%s needs a value", w.c_str()));
    return takeValue(row->id, words[++i], true, args);
}

// The operand counts, then each row's rules in order: required, excludes,
// needs; an option not given takes its fallback.
static Problem checkRows(const Command &cmd, Args &args)
{
    if (args.operands.size() < cmd.minOperands)
        return usageProblem(format("needs %s", cmd.operands));
    if (args.operands.size() > cmd.maxOperands)
        return usageProblem(
            format("unexpected operand \"%s\"", args.operands[cmd.maxOperands].c_str()));
    for (const Option &o : cmd.options) {
        const char *name = optionName(o.id);
        if (!args.has(o.id)) {
            if (o.required)
                return usageProblem(format("%s is required", name));
            if (o.fallback)
                if (Problem p = takeValue(o.id, o.fallback, false, args))
                    return p;
            continue;
        }
        for (OptionId e : o.excludes)
            if (args.has(e))
                return usageProblem(format("%s cannot be given with %s", name, optionName(e)));
        if (!o.needs.empty() &&
            std::ranges::none_of(o.needs, [&](OptionId n) { return args.has(n); }))
            return usageProblem(format("%s needs %s", name, optionNames(o.needs).c_str()));
    }
    return {};
}

Problem parseArgs(const Command &cmd, const std::vector<std::string> &words, Args &args)
{
    // The walk goes on past a problem, so that a --help further on is seen.
    Problem first;
    for (size_t i = 0; i < words.size(); i++)
        if (Problem p = takeWord(cmd, words, i, args); p && !first)
            first = p;
    return first || args.help ? first : checkRows(cmd, args);
}

// Parses the command's words and runs it, noting the files it reads so
// that no output of it replaces one; standard output is checked as part of
// the command's work.
static Problem runCommand(const Command &cmd, const std::vector<std::string> &words)
{
    Args args;
    Problem p = parseArgs(cmd, words, args);
    if (args.help) {
        fputs(commandHelp(cmd).c_str(), stdout);
        return finishStandardOutput();
    }
    InputsNoted noted;
    if (!p)
        p = cmd.run(args);
    return p ? p : finishStandardOutput();
}

// kelo's run once the words are in hand.
static int32_t keloRun(const std::vector<std::string> &words)
{
    if (words.empty())
        return reportProblem(usageProblem(""));
    const std::string &word = words[0];
    if (word == "--help" || word == "-h" || word == "help") {
        fputs(overview().c_str(), stdout);
        return reportProblem(finishStandardOutput());
    }
    if (word == "--version") {
        printf("kelo %s\n", keloVersion);
        return reportProblem(finishStandardOutput());
    }
    for (const Command &cmd : commandTable()) {
        if (word == cmd.name)
            return reportProblem(
                runCommand(cmd, std::vector<std::string>(words.begin() + 1, words.end())), &cmd);
    }
    return reportProblem(usageProblem(format("'%s' is not a command", word.c_str())));
}

int32_t keloMain(int argc, char **argv)
{
    // The standard containers report running out of memory by throwing;
    // kelo ends with the library's allocation code like every other tool
    // here, wherever it happens.
    try {
        return keloRun(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::bad_alloc &) {
    } catch (const std::length_error &) {
    }
    return reportProblem(problemIn(KELO_NO_MEMORY, "", "out of memory"));
}
