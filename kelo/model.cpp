// model.cpp -- KGX models held whole: the layout checked against the file's
// size, the distinct arrays told apart, every primitive located once, and
// the one reader of the primitives' corners
#include "kelo.h"

#include <unordered_map>

// True when n elements of size bytes from offset at lie inside the image.
// 64-bit arithmetic, so that no table value can wrap around into range.
static bool fits(const Model &m, uint64_t at, uint64_t n, uint64_t size)
{
    return at <= m.image.size() && n * size <= m.image.size() - at;
}

static Problem refuse(const Model &m, uint64_t at, std::string what)
{
    return problemAt(KELO_BAD_MODEL, m.name, (int64_t)at, std::move(what));
}

// The index of the distinct array (at, count) in arrays, added when new.
static uint32_t arrayIndex(std::vector<KgxArray> &arrays,
                           std::unordered_map<uint64_t, uint32_t> &seen, uint32_t at,
                           uint32_t count)
{
    auto [it, added] = seen.try_emplace((uint64_t)at << 32 | count, (uint32_t)arrays.size());
    if (added)
        arrays.push_back({at, count});
    return it->second;
}

// Appends the offsets of the object's primitives to m.prim, walking its area
// header by header.  Returns a problem at the first primitive that does not
// fit in the file: at the entry's count when its header does not, at the
// header when its packet does not.
static Problem walkPrimitives(Model &m, const KgxObject &ob, uint32_t o)
{
    uint64_t p = ob.primAt;
    for (uint32_t j = 0; j < ob.nPrim; j++) {
        if (!fits(m, p, 1, PRIM_HEAD))
            return refuse(m, kgxEntryAt(o, ENTRY_N_PRIM),
                          format("object %lu: only %lu of %lu primitives fit in the file",
                                 (unsigned long)o, (unsigned long)j, (unsigned long)ob.nPrim));
        uint64_t bytes = PRIM_HEAD + 4 * (uint64_t)primPacketWords(m.word((uint32_t)p));
        if (!fits(m, p, 1, bytes))
            return refuse(m, p,
                          format("object %lu: the packet of primitive %lu runs past the end",
                                 (unsigned long)o, (unsigned long)j));
        m.prim.push_back((uint32_t)p);
        p += bytes;
    }
    return {};
}

// Reads entry o into ob and checks that its arrays lie inside the file.
static Problem readEntry(const Model &m, uint32_t o, KgxObject &ob)
{
    auto word = [&](KgxEntryWord w) { return m.word((uint32_t)kgxEntryAt(o, w)); };
    ob.nVert = word(ENTRY_N_VERT);
    ob.nNorm = word(ENTRY_N_NORM);
    ob.nPrim = word(ENTRY_N_PRIM);
    ob.scale = word(ENTRY_SCALE);
    uint64_t vertAt = (uint64_t)KGX_TABLE + word(ENTRY_VERT_TOP);
    uint64_t normAt = (uint64_t)KGX_TABLE + word(ENTRY_NORM_TOP);
    uint64_t primAt = (uint64_t)KGX_TABLE + word(ENTRY_PRIM_TOP);
    if (!fits(m, vertAt, ob.nVert, KGX_ELEMENT))
        return refuse(m, kgxEntryAt(o, ENTRY_VERT_TOP),
                      format("object %lu: %lu vertices at offset %llu run past the end",
                             (unsigned long)o, (unsigned long)ob.nVert,
                             (unsigned long long)vertAt));
    if (!fits(m, normAt, ob.nNorm, KGX_ELEMENT))
        return refuse(m, kgxEntryAt(o, ENTRY_NORM_TOP),
                      format("object %lu: %lu normals at offset %llu run past the end",
                             (unsigned long)o, (unsigned long)ob.nNorm,
                             (unsigned long long)normAt));
    if (ob.nPrim && !fits(m, primAt, 1, PRIM_HEAD))
        return refuse(m, kgxEntryAt(o, ENTRY_PRIM_TOP),
                      format("object %lu: primitives at offset %llu lie past the end",
                             (unsigned long)o, (unsigned long long)primAt));
    ob.vertAt = (uint32_t)vertAt;
    ob.normAt = (uint32_t)normAt;
    ob.primAt = (uint32_t)primAt;
    return {};
}

/*
 * Objects may share arrays, and every command works on each distinct array
 * once.  Arrays that overlap without being the same (crafted, never
 * written by a tool) would still cost work per object; the elements of the
 * distinct arrays together may therefore not outnumber the file's bytes,
 * which arrays that do not overlap never do.
 */
Problem modelParse(Model &m)
{
    const uint64_t size = m.image.size();
    if (size < KGX_TABLE)
        return refuse(m, size,
                      format("only %llu bytes, shorter than the %lu-byte header",
                             (unsigned long long)size, (unsigned long)KGX_TABLE));
    if (!kgxIdOk(m.word(0)))
        return refuse(m, 0,
                      format("first byte is 0x%02x, not 0x%02x: not a KGX model", m.image[0],
                             (unsigned)KGX_ID));
    m.flags = m.word(KGX_FLAGS_AT);
    uint32_t nObj = m.word(KGX_COUNT_AT);
    if (!fits(m, KGX_TABLE, nObj, KGX_ENTRY))
        return refuse(m, KGX_COUNT_AT,
                      format("the table of %lu objects runs past the end of the file (%llu bytes)",
                             (unsigned long)nObj, (unsigned long long)size));
    m.obj.assign(nObj, KgxObject{});
    std::unordered_map<uint64_t, uint32_t> verts, norms, prims;
    uint64_t elements = 0;  // in the distinct arrays so far
    for (uint32_t o = 0; o < nObj; o++) {
        KgxObject &ob = m.obj[o];
        if (Problem p = readEntry(m, o, ob))
            return p;
        size_t nVerts = m.vertArrays.size(), nNorms = m.normArrays.size();
        ob.vertArray = arrayIndex(m.vertArrays, verts, ob.vertAt, ob.nVert);
        ob.normArray = arrayIndex(m.normArrays, norms, ob.normAt, ob.nNorm);
        elements += (m.vertArrays.size() > nVerts ? ob.nVert : 0) +
                    (uint64_t)(m.normArrays.size() > nNorms ? ob.nNorm : 0);
        auto [area, added] =
            prims.try_emplace((uint64_t)ob.primAt << 32 | ob.nPrim, (uint32_t)m.prim.size());
        ob.firstPrim = area->second;
        elements += added ? ob.nPrim : 0;
        if (elements > size)
            return refuse(m, kgxEntryAt(o),
                          format("object %lu: the objects' arrays overlap: %llu elements in "
                                 "distinct arrays, more than the file's %llu bytes hold apart",
                                 (unsigned long)o, (unsigned long long)elements,
                                 (unsigned long long)size));
        if (added)
            if (Problem p = walkPrimitives(m, ob, o))
                return p;
    }
    return {};
}

Problem modelLoad(const std::string &name, Model &m)
{
    Input in;
    if (Problem p = readInput(name, kgxs, in))
        return p;
    m = Model();
    m.name = std::move(in.name);
    m.image = std::move(in.bytes);
    return modelParse(m);
}

const char *cornersRead(uint32_t head, const uint32_t *packet, uint32_t nVert, uint32_t nNorm,
                        PrimCorners &out)
{
    uint32_t n = primCorners(primMode(head)), words = primPacketWords(head);
    out.n = n;
    out.textured = primMode(head) & MODE_TEXTURED;
    if (words < n)
        return "its packet has fewer words than corners";
    for (uint32_t c = 0; c < n; c++) {
        uint32_t word = packet[c];
        PrimCorner &corner = out.at[c];
        corner.vertex = cornerIndex(word);
        corner.normal = cornerIndex(words < 2 * n ? word : packet[n + c]);
        corner.u = out.textured ? cornerU(word) : 0;
        corner.v = out.textured ? cornerV(word) : 0;
        if (corner.vertex >= nVert)
            return "a vertex index is out of range";
        if (nNorm && corner.normal >= nNorm)
            return "a normal index is out of range";
    }
    return nullptr;
}

Problem primitiveCorners(const Model &m, uint32_t k, uint32_t j, PrimCorners &out)
{
    uint32_t at = m.primitiveAt(k, j), head = m.word(at);
    uint32_t packet[2 * CORNERS_MAX];
    for (uint32_t i = 0; i < primPacketWords(head) && i < 2 * CORNERS_MAX; i++)
        packet[i] = m.word(at + PRIM_HEAD + 4 * i);
    const char *why = cornersRead(head, packet, m.obj[k].nVert, m.obj[k].nNorm, out);
    if (!why)
        return {};
    return problemAt(
        KELO_BAD_MODEL, m.name, at,
        format("object %lu primitive %lu: %s", (unsigned long)k, (unsigned long)j, why));
}

Problem primitivesWithinBytes(const Model &m, const char *command)
{
    uint64_t primitives = 0;
    for (const KgxObject &ob : m.obj)
        primitives += ob.nPrim;
    if (primitives <= m.image.size())
        return {};
    return problemIn(KELO_BAD_MODEL, m.name,
                     format("its objects hold %llu primitives in %zu bytes; %s reads at most one "
                            "primitive per byte of a model",
                            (unsigned long long)primitives, m.image.size(), command));
}
