// obj_read.cpp -- the OBJ parser: positions, texture coordinates, normals,
// faces and groups, every refusal with the line at fault
#include "obj.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace {

// The state of one parse: the text being built and the group lookup.
struct Parser {
    ObjText &t;
    int32_t line = 0;
    std::unordered_map<std::string, uint32_t> groupOf;

    Problem fail(const std::string &what, std::string_view word = {}) const
    {
        std::string text = word.empty() ? what : what + " \"" + messageText(word) + "\"";
        return problemOnLine(KELO_BAD_IMPORT, t.name, line, text);
    }
};

// True for a statement of the format that import has no use for, skipped.
// Any other keyword is unknown.
static bool skipped(std::string_view key)
{
    static const std::unordered_set<std::string_view> keys = {
        "mtllib",    "usemtl", "s",      "l",     "p",        "vp",       "cstype",
        "deg",       "bmat",   "step",   "curv",  "curv2",    "surf",     "parm",
        "trim",      "hole",   "scrv",   "sp",    "end",      "con",      "mg",
        "lod",       "ctech",  "stech",  "bevel", "c_interp", "d_interp", "shadow_obj",
        "trace_obj", "maplib", "usemap", "call",  "csh",
    };
    return keys.count(key) != 0;
}

// The UTF-8 byte-order mark some editors put before the first line.
constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// Splits a line into words at blanks, dropping a comment from '#' on.
std::vector<std::string_view> splitWords(std::string_view line)
{
    std::vector<std::string_view> words;
    line = line.substr(0, line.find('#'));
    const char *blanks = " \t\f\v";
    for (size_t p = line.find_first_not_of(blanks); p != std::string_view::npos;) {
        size_t end = line.find_first_of(blanks, p);
        words.push_back(line.substr(p, end == std::string_view::npos ? end : end - p));
        p = end == std::string_view::npos ? end : line.find_first_not_of(blanks, end);
    }
    return words;
}

// Reads want numbers (at least need of them) from words[1...] into values.
Problem parseNumbers(const Parser &ps, const std::vector<std::string_view> &words, size_t need,
                     size_t want, double *values, const char *usage)
{
    if (words.size() - 1 < need)
        return ps.fail(usage);
    for (size_t i = 0; i < want; i++) {
        values[i] = 0;
        if (i + 1 < words.size() && !parseNumber(words[i + 1], values[i]))
            return ps.fail("malformed number", words[i + 1]);
    }
    return {};
}

// One index of a corner: 1-based from the start of the array, or negative
// from its current end.  Stores the 0-based index; an empty field gives -1.
Problem parseIndex(const Parser &ps, std::string_view word, size_t count, const char *kind,
                   int32_t &index)
{
    index = -1;
    if (word.empty())
        return {};
    std::string s(word);
    char *end;
    errno = 0;
    long value = strtol(s.c_str(), &end, 10);
    if (*end || errno == ERANGE || !((s[0] >= '0' && s[0] <= '9') || s[0] == '-'))
        return ps.fail("malformed index", word);
    long at = value > 0 ? value - 1 : (long)count + value;
    if (value == 0 || at < 0 || at >= (long)count)
        return ps.fail(
            format("%s index %ld out of range (%zu defined so far)", kind, value, count));
    index = (int32_t)at;
    return {};
}

// A face: every corner in one of the forms v, v/vt, v//vn, v/vt/vn, all
// corners in the same form.
Problem parseFace(Parser &ps, const std::vector<std::string_view> &words, uint32_t group)
{
    ObjText &t = ps.t;
    size_t n = words.size() - 1;
    if (n < 3)
        return ps.fail(format("face with %zu corners (at least 3 needed)", n));
    ObjFace face = {(uint32_t)t.corners.size(), (uint32_t)n, ps.line, group};
    int32_t form = -1;
    for (size_t i = 1; i <= n; i++) {
        std::string_view w = words[i];
        size_t s1 = w.find('/'), s2 = s1 == w.npos ? w.npos : w.find('/', s1 + 1);
        if (s2 != w.npos && w.find('/', s2 + 1) != w.npos)
            return ps.fail("malformed corner", w);
        std::string_view vText = w.substr(0, s1);
        std::string_view vtText =
            s1 == w.npos ? "" : w.substr(s1 + 1, s2 == w.npos ? w.npos : s2 - s1 - 1);
        std::string_view vnText = s2 == w.npos ? "" : w.substr(s2 + 1);
        ObjCorner c;
        if (Problem p = parseIndex(ps, vText, t.pos.size() / 3, "vertex", c.v))
            return p;
        if (Problem p = parseIndex(ps, vtText, t.tex.size() / 2, "texture", c.vt))
            return p;
        if (Problem p = parseIndex(ps, vnText, t.nrm.size() / 3, "normal", c.vn))
            return p;
        if (c.v < 0 || (s2 != w.npos && c.vn < 0))
            return ps.fail("malformed corner", w);
        int32_t f = (c.vt >= 0) | (c.vn >= 0) << 1;
        if (form >= 0 && f != form)
            return ps.fail("corners of one face in different forms");
        form = f;
        t.corners.push_back(c);
    }
    t.faces.push_back(face);
    return {};
}

// The group a g or o statement names: the rest of its line, or "default".
uint32_t groupIndex(Parser &ps, const std::vector<std::string_view> &words)
{
    std::string name;
    for (size_t i = 1; i < words.size(); i++)
        name.append(i > 1 ? " " : "").append(words[i]);
    if (name.empty())
        name = "default";
    auto [it, added] = ps.groupOf.try_emplace(name, (uint32_t)ps.t.groups.size());
    if (added)
        ps.t.groups.push_back(name);
    return it->second;
}

// A statement kelo does not know that starts with a vertex's worth of
// numbers is a damaged one (a stray byte before "v" would otherwise drop a
// vertex and shift every index after it).
bool looksLikeData(const std::vector<std::string_view> &words)
{
    double value;
    if (words.size() < 4)
        return false;
    for (size_t i = 1; i <= 3; i++)
        if (!parseNumber(words[i], value))
            return false;
    return true;
}

// One statement.
Problem parseStatement(Parser &ps, const std::vector<std::string_view> &words, bool single,
                       uint32_t &group)
{
    ObjText &t = ps.t;
    std::string_view key = words[0];
    double value[3];
    if (key == "v") {
        if (Problem p = parseNumbers(ps, words, 3, 3, value, "v needs 3 numbers"))
            return p;
        t.pos.insert(t.pos.end(), value, value + 3);
        t.posLine.push_back(ps.line);
    } else if (key == "vt") {
        if (Problem p = parseNumbers(ps, words, 1, 2, value, "vt needs a number"))
            return p;
        t.tex.insert(t.tex.end(), value, value + 2);
    } else if (key == "vn") {
        if (Problem p = parseNumbers(ps, words, 3, 3, value, "vn needs 3 numbers"))
            return p;
        t.nrm.insert(t.nrm.end(), value, value + 3);
    } else if (key == "f") {
        if (group == UINT32_MAX) {
            t.groups.push_back(single ? "all" : "default");
            group = (uint32_t)t.groups.size() - 1;
            ps.groupOf.emplace(t.groups.back(), group);
        }
        return parseFace(ps, words, group);
    } else if (key == "g" || key == "o") {
        if (!single)
            group = groupIndex(ps, words);
    } else if (!skipped(key) && looksLikeData(words)) {
        return ps.fail("unknown statement with numbers", key);
    }
    return {};
}

}  // namespace

/*
 * Faces before the first g or o fall into the group "default" (a later g
 * default continues it).  Lines end in LF or CR LF; a byte-order mark
 * before the first line is skipped.
 */
Problem objParse(std::string_view text, const std::string &name, bool single, ObjText &t)
{
    t = ObjText();
    t.name = name;
    Parser ps{t, 0, {}};
    if (text.substr(0, BYTE_ORDER_MARK.size()) == BYTE_ORDER_MARK)
        text.remove_prefix(BYTE_ORDER_MARK.size());
    uint32_t group = UINT32_MAX;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == text.npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        ps.line++;
        std::vector<std::string_view> words = splitWords(line);
        if (!words.empty())
            if (Problem p = parseStatement(ps, words, single, group))
                return p;
    }
    return {};
}

Problem objLoad(const std::string &name, bool single, ObjText &t)
{
    Input in;
    if (Problem p = readInput(name, nullptr, in))
        return p;
    return objParse(std::string_view((const char *)in.bytes.data(), in.bytes.size()), in.name,
                    single, t);
}
