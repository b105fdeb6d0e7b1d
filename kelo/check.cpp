// check.cpp -- kelo check: do difference files fit their base model?
#include "kelo.h"

// Problems listed per file before the rest are only counted, so that a file
// of garbage does not bury the first, telling lines.
constexpr uint32_t PROBLEMS_SHOWN = 10;

// Checks one difference file against the base and reports its problems.
// Returns the code of its problems: the file's own when it cannot be read
// or is malformed, KELO_BAD_FILE when records do not fit, KELO_OK when it
// is sound.
static int32_t checkFile(const Model &base, const std::string &name, KeloKind kind, bool verbose)
{
    KeloFile f;
    if (Problem p = keloLoad(name, kind, f))
        return reportProblem(p);
    uint32_t problems = 0;
    for (uint32_t i = 0; i < f.rec.size(); i++)
        if (Problem p = recordFits(base, f, i); p && ++problems <= PROBLEMS_SHOWN)
            reportProblem(p);
    if (problems > PROBLEMS_SHOWN)
        reportProblem(
            problemIn(KELO_BAD_FILE, f.name,
                      format("%lu more problems", (unsigned long)(problems - PROBLEMS_SHOWN))));
    if (!problems && verbose)
        msgPrint(stdout, "%s: %zu %s records in %lu variant groups fit %s (%zu objects)\n",
                 f.name.c_str(), f.rec.size(), kindName(kind), (unsigned long)f.groups(),
                 base.name.c_str(), base.obj.size());
    return problems ? KELO_BAD_FILE : KELO_OK;
}

// kelo check BASE FILE... [-v] [--kind K].  Every file's kind is settled
// before anything is read, so that a typo in the last name is not found
// after pages of output.  The check ends with the code of the first file
// that fails, so that a file that cannot be opened ends it as it ends dump.
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
    int32_t firstCode = KELO_OK;
    for (size_t i = 0; i < kinds.size(); i++)
        if (int32_t code = checkFile(base, args.operands[i + 1], kinds[i], args.has(OPT_VERBOSE))) {
            firstCode = failed ? firstCode : code;
            failed++;
        }
    if (failed)
        return problemIn(firstCode, base.name,
                         format("%lu of %zu difference files cannot be read, are malformed or "
                                "do not fit",
                                (unsigned long)failed, kinds.size()));
    return {};
}
