// check.cpp -- kelo check: do difference files fit their base model?
#include "kelo.h"

// Problems listed per file before the rest are only counted, so that a file
// of garbage does not bury the first, telling lines.
constexpr uint32_t PROBLEMS_SHOWN = 10;

// Checks one difference file against the base and lists its problems on the
// error stream.  Returns the number of problems found (0 when it fits).
static uint32_t checkFile(const Model &base, const std::string &name, KeloKind kind, bool verbose)
{
    KeloFile f;
    if (Problem p = keloLoad(name, kind, f)) {
        msgPrint(stderr, "%s", problemMessage(p).c_str());
        return 1;
    }
    uint32_t problems = 0;
    for (uint32_t i = 0; i < f.rec.size(); i++)
        if (Problem p = recordFits(base, f, i); p && ++problems <= PROBLEMS_SHOWN)
            msgPrint(stderr, "%s", problemMessage(p).c_str());
    if (problems > PROBLEMS_SHOWN)
        msgPrint(stderr, "kelo: %s: %lu more problems\n", f.name.c_str(),
                 (unsigned long)(problems - PROBLEMS_SHOWN));
    if (!problems && verbose)
        msgPrint(stdout, "%s: %zu %s records in %lu variant groups fit %s (%zu objects)\n",
                 f.name.c_str(), f.rec.size(), kindName(kind), (unsigned long)f.groups(),
                 base.name.c_str(), base.obj.size());
    return problems;
}

// kelo check BASE FILE... [-v] [--kind K].  Every file's kind is settled
// before anything is read, so that a typo in the last name is not found
// after pages of output.
Problem cmdCheck(const Args &args)
{
    std::vector<KeloKind> kinds(args.operands.size() - 1);
    for (size_t i = 0; i < kinds.size(); i++)
        if (Problem p = fileKind(args.operands[i + 1], args, kinds[i]))
            return p;
    Model base;
    if (Problem p = modelLoad(args.operands[0], base))
        return p;
    uint32_t failed = 0;
    for (size_t i = 0; i < kinds.size(); i++)
        failed += checkFile(base, args.operands[i + 1], kinds[i], args.has(OPT_VERBOSE)) ? 1 : 0;
    if (failed)
        return problemIn(KELO_BAD_FILE, base.name,
                         format("%lu of %zu difference files are malformed or do not fit",
                                (unsigned long)failed, kinds.size()));
    return {};
}
