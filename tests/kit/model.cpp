// model.cpp -- test models built into bytes by kgxBuild, and byte helpers
#include "kit/model.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kit {

Prim prim(uint32_t mode, const std::string &packet, uint32_t other)
{
    return {primHeader(mode, (uint32_t)(packet.size() / 4), other), packet};
}

static KgxObjectArrays arrays(const Obj &o)
{
    KgxObjectArrays a;
    for (const Elem &e : o.verts)
        a.vert.insert(a.vert.end(), e.begin(), e.end());
    for (const Elem &e : o.norms)
        a.norm.insert(a.norm.end(), e.begin(), e.end());
    for (const Prim &p : o.prims) {
        if (p.packet.size() != 4 * (size_t)primPacketWords(p.header))
            throw std::invalid_argument("kit::bytes: a packet's length disagrees with its header");
        a.primHeaders.push_back(p.header);
        a.packets.insert(a.packets.end(), p.packet.begin(), p.packet.end());
    }
    a.scale = o.scale;
    return a;
}

// Reads the positions back from the built image, as a reader would find them.
static Layout layoutOf(const std::vector<unsigned char> &image, uint32_t objects)
{
    Layout l;
    for (uint32_t o = 0; o < objects; o++) {
        for (uint32_t w = 0; w < ENTRY_WORDS; w++)
            l.tableWords.push_back((size_t)kgxEntryAt(o, w));
        size_t at = KGX_TABLE + loadLE32(&image[(size_t)kgxEntryAt(o, ENTRY_PRIM_TOP)]);
        for (uint32_t n = loadLE32(&image[(size_t)kgxEntryAt(o, ENTRY_N_PRIM)]); n; n--) {
            l.primHeaders.push_back(at);
            at += PRIM_HEAD + 4 * (size_t)primPacketWords(loadLE32(&image[at]));
        }
    }
    return l;
}

std::string bytes(const Model &m, Layout *layout)
{
    std::vector<KgxObjectArrays> objects;
    for (const Obj &o : m.objs)
        objects.push_back(arrays(o));
    std::vector<unsigned char> image = kgxBuild(m.flags, objects);
    if (layout)
        *layout = layoutOf(image, (uint32_t)objects.size());
    return {image.begin(), image.end()};
}

uint32_t word(const std::string &s, size_t at)
{
    if (at + 4 > s.size())
        throw std::out_of_range("kit::word: no word at " + std::to_string(at));
    return loadLE32((const unsigned char *)s.data() + at);
}

std::string setWord(std::string s, size_t at, uint32_t v)
{
    unsigned char le[4];
    storeLE32(le, v);
    for (size_t i = 0; i < 4 && at + i < s.size(); i++)
        s[at + i] = (char)le[i];
    return s;
}

std::string unhex(std::string_view text)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += text[i] == ' ' ? 1 : 2)
        if (text[i] != ' ')
            bytes += (char)std::stoi(std::string(text.substr(i, 2)), nullptr, 16);
    return bytes;
}

std::string hex(std::string_view bytes)
{
    std::string text;
    char pair[4];
    for (unsigned char c : bytes)
        text += (snprintf(pair, sizeof pair, " %02x", c), pair);
    return text.empty() ? text : text.substr(1);
}

std::string repeat(const std::string &s, int n)
{
    std::string all;
    for (; n > 0; n--)
        all += s;
    return all;
}

std::string slurp(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace kit
