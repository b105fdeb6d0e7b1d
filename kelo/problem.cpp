// problem.cpp -- building problems, and the one place that words them and
// writes them on the error stream
#include "kelo.h"

#include <cstdarg>

// Returns the text printf would print.
std::string format(const char *fmt, ...)
{
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string s(n > 0 ? (size_t)n : 0, '\0');
    if (n > 0)
        vsnprintf(s.data(), s.size() + 1, fmt, again);
    va_end(again);
    return s;
}

Problem problemIn(int32_t code, const std::string &file, std::string what)
{
    Problem p;
    p.code = code;
    p.file = file;
    p.what = std::move(what);
    return p;
}

Problem problemAt(int32_t code, const std::string &file, int64_t offset, std::string what)
{
    Problem p = problemIn(code, file, std::move(what));
    p.offset = offset;
    return p;
}

Problem problemOnLine(int32_t code, const std::string &file, int64_t line, std::string what)
{
    Problem p = problemIn(code, file, std::move(what));
    p.line = line;
    return p;
}

Problem usageProblem(std::string what) { return problemIn(KELO_USAGE, "", std::move(what)); }

std::string problemMessage(const Problem &p, const Command *cmd)
{
    if (p.code == KELO_USAGE && cmd)
        return format("kelo %s: %s\nusage: %s\n", cmd->name, p.what.c_str(),
                      commandUsage(*cmd).c_str());
    if (p.code == KELO_USAGE)
        return (p.what.empty() ? "" : "kelo: " + p.what + "\n\n") + overview();
    std::string where;
    if (p.line > 0)
        where = format("%s:%lld: ", p.file.c_str(), (long long)p.line);
    else if (p.offset >= 0)
        where = format("%s: offset %lld: ", p.file.c_str(), (long long)p.offset);
    else if (!p.file.empty())
        where = p.file + ": ";
    return "kelo: " + where + p.what + "\n";
}

int32_t reportProblem(const Problem &p, const Command *cmd)
{
    if (p)
        msgPrint(stderr, "%s", problemMessage(p, cmd).c_str());
    return p.code;
}

void reportNote(const std::string &file, std::string what)
{
    msgPrint(stderr, "%s", problemMessage(problemIn(KELO_OK, file, std::move(what))).c_str());
}
