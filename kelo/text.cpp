// text.cpp -- file names in JSON and XML output, always well formed; names
// from inputs made parts of file names; and text from inputs in messages,
// short and printable
#include "kelo.h"

#include <algorithm>

// The Unicode replacement character, U+FFFD, in UTF-8.
static const char REPLACEMENT[] = "\xEF\xBF\xBD";

// Length of the UTF-8 sequence at s[i] that JSON and XML can both carry: a
// shortest-form encoding of a scalar value that is not a surrogate or one of
// the noncharacters U+FFFE and U+FFFF.  Returns 0 when there is none;
// *value is the scalar value of the one there is.
static size_t sequenceAt(std::string_view s, size_t i, uint32_t *value = nullptr)
{
    unsigned char c = (unsigned char)s[i];
    if (value)
        *value = c;
    if (c < 0x80)
        return 1;
    size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    if (n == 0 || c > 0xF4 || i + n > s.size())
        return 0;
    uint32_t v = c & (0x7F >> n);
    for (size_t k = 1; k < n; k++) {
        unsigned char t = (unsigned char)s[i + k];
        if ((t & 0xC0) != 0x80)
            return 0;
        v = v << 6 | (t & 0x3F);
    }
    static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < least[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF) || v == 0xFFFE || v == 0xFFFF)
        return 0;
    if (value)
        *value = v;
    return n;
}

// Calls put for each character of s: a whole valid sequence, or nullptr for
// a byte that begins none (to be replaced).
template <typename Put>
static void eachCharacter(std::string_view s, Put put)
{
    for (size_t i = 0; i < s.size();) {
        size_t n = sequenceAt(s, i);
        put(n ? s.substr(i, n) : std::string_view());
        i += n ? n : 1;
    }
}

std::string jsonString(std::string_view s)
{
    std::string out = "\"";
    eachCharacter(s, [&](std::string_view ch) {
        if (ch.empty())
            out += REPLACEMENT;
        else if (ch[0] == '"' || ch[0] == '\\')
            out += std::string("\\") + ch[0];
        else if ((unsigned char)ch[0] < 0x20)
            out += format("\\u%04x", (unsigned)ch[0]);
        else
            out += ch;
    });
    return out + "\"";
}

std::string xmlText(std::string_view s)
{
    std::string out;
    eachCharacter(s, [&](std::string_view ch) {
        unsigned char c = ch.empty() ? 0 : (unsigned char)ch[0];
        // XML 1.0 has no control characters but tab, line feed and carriage
        // return, not even as references.
        if (ch.empty() || (c < 0x20 && c != '\t' && c != '\n' && c != '\r'))
            out += REPLACEMENT;
        else if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += ch;
    });
    return out;
}

// The characters a message does not show as they are: control characters
// (C0, DEL and C1), and those that are invisible or turn the direction of
// the text after them (zero-width characters, bidirectional marks,
// embeddings, overrides and isolates, line and paragraph separators,
// byte-order mark).
static constexpr std::pair<uint32_t, uint32_t> UNSHOWN[] = {
    {0x00, 0x1F},     {0x7F, 0x9F},     {0x200B, 0x200F},
    {0x2028, 0x202E}, {0x2066, 0x2069}, {0xFEFF, 0xFEFF},
};

std::string messageText(std::string_view s, size_t most)
{
    std::string out;
    size_t i = 0;
    for (size_t n; i < s.size(); i += n) {
        uint32_t v = 0;
        size_t valid = sequenceAt(s, i, &v);
        n = std::max<size_t>(valid, 1);
        if (i + n > most)
            break;
        std::string_view ch = s.substr(i, n);
        // Those and bytes that begin no character show as \xNN, byte by
        // byte; a backslash is doubled, so that an escape in the text cannot
        // pass for one of these.
        if (!valid ||
            std::ranges::any_of(UNSHOWN, [v](auto r) { return v >= r.first && v <= r.second; }))
            for (unsigned char b : ch)
                out += format("\\x%02x", b);
        else
            out += v == '\\' ? std::string_view("\\\\") : ch;
    }
    return i < s.size() ? out + "..." : out;
}

// The characters a file name part does not keep, as ranges of scalar values:
// control characters (C0, DEL and C1), white space (the no-break, Ogham,
// typographic, line, paragraph and ideographic spaces among them) and
// characters that are invisible or turn the text's direction (soft hyphen,
// zero-width characters, bidirectional marks and overrides, word joiners,
// byte-order mark).
static constexpr std::pair<uint32_t, uint32_t> DROPPED[] = {
    {0x00, 0x20},     {0x7F, 0xA0},     {0xAD, 0xAD},     {0x61C, 0x61C},
    {0x1680, 0x1680}, {0x180E, 0x180E}, {0x2000, 0x200F}, {0x2028, 0x202F},
    {0x205F, 0x206F}, {0x3000, 0x3000}, {0xFEFF, 0xFEFF},
};
// The path separator and the characters a POSIX shell treats specially
// anywhere in a word (quotes, escapes, expansions, globs, redirections,
// lists) or at its start (comments, home directories).
static constexpr std::string_view SHELL_SPECIAL = "/\\!\"#$&'()*;<>?[]^`{|}~";

std::string fileNameText(std::string_view s, size_t most)
{
    std::string out;
    for (size_t i = 0; i < s.size();) {
        uint32_t v = 0;
        size_t n = sequenceAt(s, i, &v);
        bool kept =
            n > 0 && (v >= 0x80 || SHELL_SPECIAL.find((char)v) == std::string_view::npos) &&
            std::ranges::none_of(DROPPED, [v](auto r) { return v >= r.first && v <= r.second; });
        std::string_view piece = kept ? s.substr(i, n) : "_";
        if (out.size() + piece.size() > most)
            break;
        if (kept || out.empty() || out.back() != '_')
            out += piece;
        i += n ? n : 1;
    }
    return out;
}
