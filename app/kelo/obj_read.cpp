// obj_read.cpp -- the OBJ parser: positions, texture coordinates, normals,
// faces and groups, with every refusal reported as "file:line: message"
#include "obj.h"

#include "klib.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

// Reads one line without its end (LF, CR LF or a lone CR before LF) into
// line.  Returns 0 at the end of the file when nothing was read.
static int32_t readLine(FILE *fp, std::string *line)
{
    line->clear();
    int c;
    while ((c = getc(fp)) != EOF && c != '\n')
        line->push_back((char)c);
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return c != EOF || !line->empty();
}

// Splits a line into words at blanks, dropping a comment from '#' on.
static void splitWords(std::string *line, std::vector<char *> *words)
{
    words->clear();
    size_t hash = line->find('#');
    if (hash != std::string::npos)
        line->resize(hash);
    char *p = line->data();
    for (;;) {
        while (*p == ' ' || *p == '\t' || *p == '\f' || *p == '\v')
            p++;
        if (!*p)
            return;
        words->push_back(p);
        while (*p && *p != ' ' && *p != '\t' && *p != '\f' && *p != '\v')
            p++;
        if (*p)
            *p++ = '\0';
    }
}

// A decimal number: digits, one point, an exponent.  strtod alone would also
// take "nan", "inf" and hexadecimal forms, none of which is a coordinate.
static int32_t parseNumber(const char *word, double *value)
{
    for (const char *p = word; *p; p++)
        if (!strchr("0123456789+-.eE", *p))
            return 0;
    char *end;
    errno = 0;
    *value = strtod(word, &end);
    return *word && !*end && errno != ERANGE;
}

static int32_t failAt(const ObjText *t, int32_t line, const char *what, const char *word)
{
    msgPrint(stderr, "%s:%ld: %s%s%s%s\n", t->name.c_str(), (long)line, what,
             word ? " \"" : "", word ? word : "", word ? "\"" : "");
    return 0;
}

// Reads want numbers (at least need of them) from words[1...] into values.
static int32_t parseNumbers(const ObjText *t, int32_t line, const std::vector<char *> &words,
                            size_t need, size_t want, double *values, const char *usage)
{
    if (words.size() - 1 < need)
        return failAt(t, line, usage, nullptr);
    for (size_t i = 0; i < want; i++) {
        values[i] = 0;
        if (i + 1 < words.size() && !parseNumber(words[i + 1], &values[i]))
            return failAt(t, line, "malformed number", words[i + 1]);
    }
    return 1;
}

// One index of a corner: 1-based from the start of the array, or negative
// from its current end.  Stores the 0-based index; an empty field gives -1.
static int32_t parseIndex(const ObjText *t, int32_t line, const char *text, size_t len,
                          size_t count, const char *kind, int32_t *index)
{
    *index = -1;
    if (len == 0)
        return 1;
    std::string word(text, len);
    char *end;
    errno = 0;
    long value = strtol(word.c_str(), &end, 10);
    if (*end || errno == ERANGE || !(isdigit((unsigned char)word[0]) || word[0] == '-'))
        return failAt(t, line, "malformed index", word.c_str());
    long at = value > 0 ? value - 1 : (long)count + value;
    if (value == 0 || at < 0 || at >= (long)count) {
        char what[96];
        snprintf(what, sizeof what, "%s index %ld out of range (%zu defined so far)", kind, value,
                 count);
        return failAt(t, line, what, nullptr);
    }
    *index = (int32_t)at;
    return 1;
}

// A face: every corner in one of the forms v, v/vt, v//vn, v/vt/vn, all
// corners in the same form.
static int32_t parseFace(ObjText *t, int32_t line, const std::vector<char *> &words,
                         uint32_t group)
{
    size_t n = words.size() - 1;
    if (n < 3) {
        char what[64];
        snprintf(what, sizeof what, "face with %zu corners (at least 3 needed)", n);
        return failAt(t, line, what, nullptr);
    }
    ObjFace face = {(uint32_t)t->corners.size(), (uint32_t)n, line, group};
    int32_t form = -1;
    for (size_t i = 1; i <= n; i++) {
        const char *w = words[i];
        const char *s1 = strchr(w, '/');
        const char *s2 = s1 ? strchr(s1 + 1, '/') : nullptr;
        if (s2 && strchr(s2 + 1, '/'))
            return failAt(t, line, "malformed corner", w);
        const char *vtText = s1 ? s1 + 1 : w;
        size_t vtLen = s1 ? (size_t)((s2 ? s2 : s1 + strlen(s1)) - vtText) : 0;
        ObjCorner c;
        if (!parseIndex(t, line, w, s1 ? (size_t)(s1 - w) : strlen(w), t->pos.size() / 3,
                        "vertex", &c.v) ||
            !parseIndex(t, line, vtText, vtLen, t->tex.size() / 2, "texture", &c.vt) ||
            !parseIndex(t, line, s2 ? s2 + 1 : w, s2 ? strlen(s2 + 1) : 0, t->nrm.size() / 3,
                        "normal", &c.vn))
            return 0;
        if (c.v < 0 || (s2 && c.vn < 0))
            return failAt(t, line, "malformed corner", w);
        int32_t f = (c.vt >= 0) | (c.vn >= 0) << 1;
        if (form >= 0 && f != form)
            return failAt(t, line, "corners of one face in different forms", nullptr);
        form = f;
        t->corners.push_back(c);
    }
    t->faces.push_back(face);
    return 1;
}

// The group a g or o statement names: the rest of its line, or "default".
static uint32_t groupIndex(ObjText *t, const std::vector<char *> &words)
{
    std::string name;
    for (size_t i = 1; i < words.size(); i++) {
        if (i > 1)
            name += ' ';
        name += words[i];
    }
    if (name.empty())
        name = "default";
    for (size_t g = 0; g < t->groups.size(); g++)
        if (t->groups[g] == name)
            return (uint32_t)g;
    t->groups.push_back(name);
    return (uint32_t)t->groups.size() - 1;
}

/*
 * Reads an OBJ text from fp into t.  With single, all faces fall into one
 * group; otherwise each g or o statement selects a group by name, and faces
 * before the first fall into "default".  Statements other than v, vt, vn, f,
 * g and o (materials, smoothing groups, lines, points) are skipped.  Returns
 * 1, or 0 after printing "name:line: message" on the error stream.
 */
int32_t objRead(ObjText *t, FILE *fp, const char *name, bool single)
{
    *t = ObjText();
    t->name = name;
    std::string line;
    std::vector<char *> words;
    uint32_t group = UINT32_MAX;
    int32_t at = 0;
    while (readLine(fp, &line)) {
        at++;
        splitWords(&line, &words);
        if (words.empty())
            continue;
        const char *key = words[0];
        double value[3];
        if (strcmp(key, "v") == 0) {
            if (!parseNumbers(t, at, words, 3, 3, value, "v needs 3 numbers"))
                return 0;
            t->pos.insert(t->pos.end(), value, value + 3);
            t->posLine.push_back(at);
        } else if (strcmp(key, "vt") == 0) {
            if (!parseNumbers(t, at, words, 1, 2, value, "vt needs a number"))
                return 0;
            t->tex.insert(t->tex.end(), value, value + 2);
        } else if (strcmp(key, "vn") == 0) {
            if (!parseNumbers(t, at, words, 3, 3, value, "vn needs 3 numbers"))
                return 0;
            t->nrm.insert(t->nrm.end(), value, value + 3);
        } else if (strcmp(key, "f") == 0) {
            if (group == UINT32_MAX) {
                t->groups.push_back(single ? "all" : "default");
                group = (uint32_t)t->groups.size() - 1;
            }
            if (!parseFace(t, at, words, group))
                return 0;
        } else if (!single && (strcmp(key, "g") == 0 || strcmp(key, "o") == 0)) {
            group = groupIndex(t, words);
        }
    }
    if (ferror(fp)) {
        msgPrint(stderr, "%s:%ld: read error\n", name, (long)at + 1);
        return 0;
    }
    return 1;
}

// objRead on a file opened by name.  A file that cannot be opened ends the
// process inside fileOpen (30).
int32_t objReadFile(ObjText *t, const char *name, bool single)
{
    FileHandle *fh = fileOpen(name, "r");
    int32_t rc = objRead(t, fh->fp, name, single);
    fileClose(fh);
    return rc;
}
