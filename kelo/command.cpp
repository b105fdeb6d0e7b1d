// command.cpp -- the command table, and the parsing, help and dispatch it
// drives
#include "kelo.h"

#include <algorithm>
#include <cctype>
#include <new>
#include <stdexcept>

const char keloVersion[] = "1.0";

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
         {{"--kind", "K", "read FILE as K (vdf, ndf or tdf) whatever its extension", false,
           "vdf|ndf|tdf"},
          {"--summary", nullptr, "one line per record: object, first, count, largest difference",
           false, nullptr},
          {"--json", nullptr, "the same data as one JSON object", false, nullptr}},
         nullptr,
         cmdDump},
        {"check",
         "BASE.kgx FILE...",
         2,
         UINT32_MAX,
         "check difference files against their base model",
         {{"-v", nullptr, "print a summary line per file when it is sound", false, nullptr},
          {"--kind", "K", "read every FILE as K whatever its extension", false, "vdf|ndf|tdf"}},
         nullptr,
         cmdCheck},
        {"apply",
         "BASE.kgx",
         1,
         1,
         "write the model that one variant's records describe",
         {{"--variant", "K", "the K-th variant group of each file, counted from 0", true, nullptr},
          {"--vdf", "F", "add F's vertex differences", false, nullptr},
          {"--ndf", "F", "add F's normal differences", false, nullptr},
          {"--tdf", "F", "add F's texture differences to the packet bytes", false, nullptr},
          {"-o", "OUT.kgx", "the model to write", true, nullptr}},
         nullptr,
         cmdApply},
        {"blend",
         "BASE.kgx W0 W1 ...",
         1,
         UINT32_MAX,
         "write base + sum of weight x difference, one weight per variant",
         {{"--vdf", "F", "vertex differences to blend", true, nullptr},
          {"--ndf", "F", "normal differences to blend with the same weights", false, nullptr},
          {"-o", "OUT.kgx", "the model to write", true, nullptr}},
         "W0 W1 ... are decimal weights, one per variant group of each file.\n",
         cmdBlend},
        {"svg",
         "BASE.kgx",
         1,
         1,
         "draw the base's vertices and one variant's moves as SVG",
         {{"--vdf", "F", "draw an arrow for each vertex the variant moves", false, nullptr},
          {"--variant", "K", "the variant group to draw (default 0)", false, nullptr},
          {"--view", "V", "front (x, y), top (x, z) or side (z, y); default front", false,
           "front|top|side"},
          {"-o", "OUT.svg", "the picture to write", true, nullptr}},
         nullptr,
         cmdSvg},
        {"import",
         "IN.obj|IN.glb|IN.gltf",
         1,
         1,
         "make a KGX model from a Wavefront OBJ file or a glTF asset",
         {{"--scale", "S", "store each coordinate as round(x * S) in signed 16 bits", false,
           nullptr},
          {"--fit", nullptr, "the largest scale at which the model fits, printed (the default)",
           false, nullptr},
          {"--like", "BASE.kgx",
           "take its flags and scales; refuse a topology that differs from its", false, nullptr},
          {"--objects", "H",
           "OBJ: by-group (default): one object per g or o name; single: one object", false,
           "by-group|single"},
          {"--variants", "PREFIX", "glTF: also write each morph target's model, PREFIX_NAME.kgx",
           false, nullptr},
          {"-o", "OUT.kgx", "the model to write", true, nullptr}},
         "Give at most one of --scale, --fit and --like.  IN is a glTF asset when its\n"
         "name ends in .glb or .gltf, an OBJ file otherwise.  With --variants the file\n"
         "of each morph target is printed, in the order of the targets.\n",
         cmdImport},
        {"export",
         "IN.kgx",
         1,
         1,
         "write a KGX model as a Wavefront OBJ file or a glTF asset",
         {{"--vdf", "F", "glTF: one morph target per variant group of F", false, nullptr},
          {"--ndf", "F", "glTF: the targets' normal offsets, from F", false, nullptr},
          {"--scale", "S", "glTF: S steps per metre in every object (default: its scale)", false,
           nullptr},
          {"-o", "OUT.obj|OUT.glb|OUT.gltf", "glTF for .glb (binary) and .gltf, OBJ otherwise",
           true, nullptr}},
         nullptr,
         cmdExport},
    };
    return table;
}

const std::string *Args::value(const char *option) const
{
    auto it = options.find(option);
    return it == options.end() ? nullptr : &it->second;
}

// An option's form in the usage line: "-o OUT.kgx", "[--kind vdf|ndf|tdf]".
static std::string optionForm(const Option &o)
{
    std::string form = o.name;
    if (o.value)
        form.append(" ").append(o.choices ? o.choices : o.value);
    return o.required ? form : "[" + form + "]";
}

std::string commandUsage(const Command &cmd)
{
    std::string s = std::string("kelo ") + cmd.name + " " + cmd.operands;
    for (const Option &o : cmd.options)
        s += " " + optionForm(o);
    return s;
}

std::string commandHelp(const Command &cmd)
{
    std::string s = "usage: " + commandUsage(cmd) + "\n\n" + cmd.summary + "\n\noptions:\n";
    // Each option as "-o OUT.kgx", its help lined up after the longest.
    std::vector<std::string> left;
    size_t width = 0;
    for (const Option &o : cmd.options) {
        left.push_back(o.value ? std::string(o.name) + " " + o.value : o.name);
        width = std::max(width, left.back().size());
    }
    for (size_t i = 0; i < left.size(); i++)
        s += format("  %-*s  %s\n", (int)width, left[i].c_str(), cmd.options[i].help);
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

// "a, b or c" for the choices "a|b|c".
static std::string choiceList(const std::string &choices)
{
    std::string s = choices;
    size_t last = s.rfind('|');
    if (last != std::string::npos)
        s.replace(last, 1, " or ");
    for (size_t bar; (bar = s.find('|')) != std::string::npos;)
        s.replace(bar, 1, ", ");
    return s;
}

static Problem takeOption(const Option &o, const std::vector<std::string> &words, size_t &i,
                          Args &args)
{
    std::string value;
    if (o.value) {
        if (i + 1 >= words.size())
            return usageProblem(format("%s needs a value", o.name));
        value = words[++i];
        if (o.choices &&
            ("|" + std::string(o.choices) + "|").find("|" + value + "|") == std::string::npos)
            return usageProblem(format("%s takes %s, not \"%s\"", o.name,
                                       choiceList(o.choices).c_str(), value.c_str()));
    }
    args.options[o.name] = value;
    return {};
}

Problem parseArgs(const Command &cmd, const std::vector<std::string> &words, Args &args)
{
    for (size_t i = 0; i < words.size(); i++) {
        if (!isOption(words[i])) {
            args.operands.push_back(words[i]);
            continue;
        }
        const Option *found = nullptr;
        for (const Option &o : cmd.options)
            if (words[i] == o.name)
                found = &o;
        if (!found)
            return usageProblem("unknown option " + words[i]);
        if (Problem p = takeOption(*found, words, i, args))
            return p;
    }
    if (args.operands.size() < cmd.minOperands)
        return usageProblem(format("needs %s", cmd.operands));
    if (args.operands.size() > cmd.maxOperands)
        return usageProblem(
            format("unexpected operand \"%s\"", args.operands[cmd.maxOperands].c_str()));
    for (const Option &o : cmd.options)
        if (o.required && !args.has(o.name))
            return usageProblem(format("%s is required", o.name));
    return {};
}

// Parses the command's words and runs it; standard output is checked as
// part of the command's work.
static Problem runCommand(const Command &cmd, const std::vector<std::string> &words)
{
    for (const std::string &w : words)
        if (w == "--help" || w == "-h") {
            fputs(commandHelp(cmd).c_str(), stdout);
            return finishStandardOutput();
        }
    Args args;
    Problem p = parseArgs(cmd, words, args);
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
