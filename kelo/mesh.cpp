// mesh.cpp -- from parsed text to quantised objects: scales, vertex and
// normal numbering, computed normals, primitive packets, the topology check
// against a base, and the KGX image
#include "obj.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

// A texture coordinate as a byte: 0..1 maps to 0..255.  A coordinate
// outside 0..1 tiles: its fractional part is mapped, so 1.25 and -0.75 give
// the byte of 0.25.
uint8_t texByte(double t)
{
    if (!(t >= 0 && t <= 1))
        t -= std::floor(t);
    if (!std::isfinite(t))
        return 0;
    return (uint8_t)std::round(t * 255.0);
}

// A coordinate in steps of the scale, or INT32_MIN when it falls outside the
// signed 16-bit range.
int32_t quantise(double x, uint32_t scale)
{
    double q = std::round(x * ((double)scale / SCALE_ONE));
    if (!(q >= -32768.0 && q <= 32767.0))
        return INT32_MIN;
    return (int32_t)q;
}

int16_t normalValue(double x)
{
    double q = std::round(x * NORMAL_ONE);
    return std::isnan(q) ? 0 : (int16_t)std::clamp(q, -32768.0, 32767.0);
}

uint32_t scaleOf(uint32_t word) { return word ? word : SCALE_ONE; }

static bool allFit(const std::vector<double> &values, uint32_t scale)
{
    for (double x : values)
        if (quantise(x, scale) == INT32_MIN)
            return false;
    return true;
}

// Starts from the scale the largest value gives and steps down while
// rounding still pushes a value out of range.
Problem scaleFit(const std::vector<double> &values, const std::string &file, uint32_t &scale)
{
    double most = 0;
    for (double x : values)
        most = std::max(most, std::fabs(x));
    scale = SCALE_ONE;
    if (most == 0)
        return {};
    double w = std::floor(32767.0 * SCALE_ONE / most);
    uint32_t s = w > (double)UINT32_MAX ? UINT32_MAX : (uint32_t)w;
    while (s > 0 && !allFit(values, s))
        s--;
    if (s == 0)
        return problemIn(KELO_BAD_IMPORT, file,
                         format("coordinates up to %g do not fit any scale", most));
    scale = s;
    return {};
}

// A model of no faces has none.
std::vector<double> usedCoordinates(const ObjText &t)
{
    std::vector<double> values;
    for (const ObjCorner &c : t.corners)
        values.insert(values.end(), &t.pos[3 * (size_t)c.v], &t.pos[3 * (size_t)c.v] + 3);
    return values;
}

// Digits, one point, an exponent.  strtod alone would also take "nan",
// "inf" and hexadecimal forms, none of which is a coordinate or a scale.
bool parseNumber(std::string_view word, double &value)
{
    std::string s(word);
    if (s.empty() || s.find_first_not_of("0123456789+-.eE") != std::string::npos)
        return false;
    char *end;
    errno = 0;
    value = strtod(s.c_str(), &end);
    return !*end && errno != ERANGE;
}

// Reads a scale given as a positive decimal number.  False when it is not
// one or rounds to nothing representable.
bool scaleParse(const char *text, uint32_t &scale)
{
    double v;
    if (!parseNumber(text, v) || !(v > 0))
        return false;
    double w = std::round(v * SCALE_ONE);
    if (w < 1 || w > (double)UINT32_MAX)
        return false;
    scale = (uint32_t)w;
    return true;
}

// The shortest text with at most six decimals that scaleParse reads back as
// the same scale: six decimals always suffice for 16 fraction bits.
std::string scaleText(uint32_t scale)
{
    std::string text;
    for (int32_t d = 0; d <= 6; d++) {
        text = format("%.*f", d, (double)scale / SCALE_ONE);
        uint32_t back;
        if (scaleParse(text.c_str(), back) && back == scale)
            break;
    }
    return text;
}

// A normal scaled to length NORMAL_ONE.  A unit vector (within NORMAL_SLACK)
// is taken as it is; a zero vector stays zero.
static void normalQuantise(const double *n, std::vector<int16_t> &out)
{
    double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    double div = (len == 0 || std::fabs(len - 1) <= NORMAL_SLACK) ? 1 : len;
    for (int32_t a = 0; a < 3; a++)
        out.push_back(normalValue(n[a] / div));
    out.push_back(0);
}

// Working arrays for one object, indexed by the file's vertex and normal
// numbers; entries are -1 outside the current object.
struct Numbering {
    std::vector<int32_t> vertLocal, normLocal, needLocal;
    std::vector<int32_t> verts, norms, needs;  // file numbers, then sorted
};

static Problem tooMany(const ObjText &t, const ObjFace &f, const char *what, uint32_t g)
{
    return problemOnLine(KELO_BAD_IMPORT, t.name, f.line,
                         format("group \"%s\" uses more than %lu %s (an object holds at most %lu)",
                                messageText(t.groups[g]).c_str(), (unsigned long)CORNER_INDEX_MAX,
                                what, (unsigned long)CORNER_INDEX_MAX));
}

// Numbers the vertices and normals one group's faces use, each in the order
// of the file, so that a file with one group keeps its own numbering.
// Corners without a normal use a normal computed for their vertex; those
// follow the file's normals.
static Problem numberObject(const ObjText &t, const std::vector<uint32_t> &faces, uint32_t g,
                            Numbering &nb)
{
    auto take = [](std::vector<int32_t> &local, std::vector<int32_t> &list, int32_t k) {
        if (local[k] < 0) {
            local[k] = 0;
            list.push_back(k);
        }
    };
    for (uint32_t fi : faces) {
        const ObjFace &f = t.faces[fi];
        for (uint32_t i = 0; i < f.n; i++) {
            const ObjCorner &c = t.corners[f.corner + i];
            take(nb.vertLocal, nb.verts, c.v);
            if (c.vn >= 0)
                take(nb.normLocal, nb.norms, c.vn);
            else
                take(nb.needLocal, nb.needs, c.v);
        }
        if (nb.verts.size() > CORNER_INDEX_MAX)
            return tooMany(t, f, "vertices", g);
        if (nb.norms.size() + nb.needs.size() > CORNER_INDEX_MAX)
            return tooMany(t, f, "normals", g);
    }
    std::sort(nb.verts.begin(), nb.verts.end());
    std::sort(nb.norms.begin(), nb.norms.end());
    std::sort(nb.needs.begin(), nb.needs.end());
    for (size_t i = 0; i < nb.verts.size(); i++)
        nb.vertLocal[nb.verts[i]] = (int32_t)i;
    for (size_t i = 0; i < nb.norms.size(); i++)
        nb.normLocal[nb.norms[i]] = (int32_t)i;
    for (size_t i = 0; i < nb.needs.size(); i++)
        nb.needLocal[nb.needs[i]] = (int32_t)(nb.norms.size() + i);
    return {};
}

static void numberingReset(Numbering &nb)
{
    for (int32_t v : nb.verts)
        nb.vertLocal[v] = -1;
    for (int32_t v : nb.norms)
        nb.normLocal[v] = -1;
    for (int32_t v : nb.needs)
        nb.needLocal[v] = -1;
    nb.verts.clear();
    nb.norms.clear();
    nb.needs.clear();
}

// Normals for vertices whose corners name none: the sum of the normals of
// every face of the object around the vertex, each as long as twice its
// face's area (Newell's sum, which also serves faces that are not flat).
static void computeNormals(const ObjText &t, const std::vector<uint32_t> &faces,
                           const Numbering &nb, MeshObject &o)
{
    std::vector<double> sum(3 * nb.verts.size(), 0.0);
    for (uint32_t fi : faces) {
        const ObjFace &f = t.faces[fi];
        double n[3] = {0, 0, 0};
        for (uint32_t i = 0; i < f.n; i++) {
            const double *p = &t.pos[3 * (size_t)t.corners[f.corner + i].v];
            const double *q = &t.pos[3 * (size_t)t.corners[f.corner + (i + 1) % f.n].v];
            n[0] += (p[1] - q[1]) * (p[2] + q[2]);
            n[1] += (p[2] - q[2]) * (p[0] + q[0]);
            n[2] += (p[0] - q[0]) * (p[1] + q[1]);
        }
        for (uint32_t i = 0; i < f.n; i++)
            for (int32_t a = 0; a < 3; a++)
                sum[3 * (size_t)nb.vertLocal[t.corners[f.corner + i].v] + a] += n[a];
    }
    for (int32_t v : nb.needs) {
        const double *n = &sum[3 * (size_t)nb.vertLocal[v]];
        double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        double unit[3] = {0, 0, 0};
        for (int32_t a = 0; a < 3 && len > 0; a++)
            unit[a] = n[a] / len;
        normalQuantise(unit, o.norm);
    }
}

// One primitive from corners at[0..k-1] of a face: quads stay quads, and
// larger polygons arrive here as the triangles of a fan.
static void addPrimitive(const ObjText &t, const ObjFace &f, const uint32_t *at, uint32_t k,
                         const Numbering &nb, MeshObject &o)
{
    bool textured = t.corners[f.corner].vt >= 0;
    uint32_t mode = (textured ? MODE_TEXTURED : 0) | (k == 4 ? MODE_FOUR_CORNERS : 0);
    o.head.push_back(primHeader(mode, 2 * k));
    o.primLine.push_back(f.line);
    for (uint32_t i = 0; i < k; i++) {
        const ObjCorner &c = t.corners[f.corner + at[i]];
        uint32_t index = (uint32_t)nb.vertLocal[c.v];
        o.packet.push_back(textured ? cornerWord(index, texByte(t.tex[2 * (size_t)c.vt]),
                                                 texByte(t.tex[2 * (size_t)c.vt + 1]))
                                    : cornerWord(index));
    }
    for (uint32_t i = 0; i < k; i++) {
        const ObjCorner &c = t.corners[f.corner + at[i]];
        o.packet.push_back(
            cornerWord((uint32_t)(c.vn >= 0 ? nb.normLocal[c.vn] : nb.needLocal[c.v])));
    }
}

static Problem buildObject(const ObjText &t, const std::vector<uint32_t> &faces, uint32_t g,
                           uint32_t scale, Numbering &nb, MeshObject &o)
{
    o.scale = scale;
    o.group = t.groups[g];
    if (Problem p = numberObject(t, faces, g, nb))
        return p;
    for (int32_t v : nb.verts) {
        for (int32_t a = 0; a < 3; a++) {
            int32_t q = quantise(t.pos[3 * (size_t)v + a], scale);
            if (q == INT32_MIN)
                return problemOnLine(KELO_BAD_IMPORT, t.name, t.posLine[v],
                                     format("coordinate %g does not fit scale %s",
                                            t.pos[3 * (size_t)v + a], scaleText(scale).c_str()));
            o.vert.push_back((int16_t)q);
        }
        o.vert.push_back(0);
    }
    for (int32_t n : nb.norms)
        normalQuantise(&t.nrm[3 * (size_t)n], o.norm);
    computeNormals(t, faces, nb, o);
    for (uint32_t fi : faces) {
        const ObjFace &f = t.faces[fi];
        const uint32_t corners[4] = {0, 1, 2, 3};
        if (f.n <= 4)
            addPrimitive(t, f, corners, f.n, nb, o);
        else
            fanTriangles(f.n, [&](uint32_t a, uint32_t b, uint32_t c) {
                const uint32_t at[3] = {a, b, c};
                addPrimitive(t, f, at, 3, nb, o);
            });
    }
    return {};
}

Problem meshBuild(const ObjText &t, const std::vector<uint32_t> &scales, Mesh &m)
{
    m.name = t.name;
    m.obj.clear();
    std::vector<std::vector<uint32_t>> byGroup(t.groups.size());
    for (size_t f = 0; f < t.faces.size(); f++)
        byGroup[t.faces[f].group].push_back((uint32_t)f);
    Numbering nb;
    nb.vertLocal.assign(t.pos.size() / 3, -1);
    nb.needLocal.assign(t.pos.size() / 3, -1);
    nb.normLocal.assign(t.nrm.size() / 3, -1);
    for (uint32_t g = 0; g < byGroup.size(); g++) {
        if (byGroup[g].empty())
            continue;
        uint32_t scale = scales[std::min(m.obj.size(), scales.size() - 1)];
        if (Problem p = buildObject(t, byGroup[g], g, scale, nb, m.obj.emplace_back()))
            return p;
        numberingReset(nb);
    }
    return {};
}

// A primitive in words: its kind and its corners' vertex and normal indices,
// or its raw header when it could not be read (null) or its header is not
// one kelo writes.
static std::string primText(uint32_t head, const PrimCorners *p)
{
    if (!p || primPacketWords(head) != 2 * p->n || (head & PRIM_FREE_BITS) != 0)
        return format("header 0x%08lX", (unsigned long)head);
    std::string s = format("%s %s, vertices", p->textured ? "textured" : "plain",
                           p->n == CORNERS_MAX ? "quad" : "triangle");
    for (uint32_t i = 0; i < p->n; i++)
        s += format(" %lu", (unsigned long)p->at[i].vertex);
    s += ", normals";
    for (uint32_t i = 0; i < p->n; i++)
        s += format(" %lu", (unsigned long)p->at[i].normal);
    return s;
}

/*
 * Checks that m can be compared with base element by element: the same
 * objects with the same numbers of vertices, normals and primitives, and
 * primitives with the same headers, vertex indices and normal indices as
 * primitiveCorners reads them (the texture bytes may differ).  The work is
 * bounded by the mesh, whatever arrays the base's objects share.
 */
Problem meshLike(const Mesh &m, const Model &base)
{
    auto unlike = [&](int32_t line, std::string what) {
        return problemOnLine(KELO_NOT_LIKE, m.name, line, std::move(what));
    };
    if (m.obj.size() != base.obj.size())
        return unlike(
            0, format("%zu objects, %s has %zu", m.obj.size(), base.name.c_str(), base.obj.size()));
    for (uint32_t k = 0; k < m.obj.size(); k++) {
        const MeshObject &o = m.obj[k];
        const KgxObject &b = base.obj[k];
        struct {
            const char *what;
            size_t have, want;
        } counts[] = {{"vertices", o.vert.size() / ELEMENT_VALUES, b.nVert},
                      {"normals", o.norm.size() / ELEMENT_VALUES, b.nNorm},
                      {"primitives", o.head.size(), b.nPrim}};
        for (const auto &c : counts)
            if (c.have != c.want)
                return unlike(0, format("object %lu (group \"%s\") has %zu %s, %s has %zu",
                                        (unsigned long)k, messageText(o.group).c_str(), c.have,
                                        c.what, base.name.c_str(), c.want));
        size_t at = 0;
        for (uint32_t j = 0; j < o.head.size(); j++) {
            uint32_t head = base.word(base.primitiveAt(k, j));
            PrimCorners got, want;
            cornersRead(o.head[j], &o.packet[at], b.nVert, b.nNorm, got);
            bool readable = !primitiveCorners(base, k, j, want);
            bool same = readable && o.head[j] == head;
            // Corners may differ in their texture bytes only.
            for (uint32_t i = 0; same && i < got.n; i++) {
                const PrimCorner &g = got.at[i], &w = want.at[i];
                same = g.vertex == w.vertex && g.normal == w.normal;
            }
            if (!same)
                return unlike(o.primLine[j],
                              format("object %lu (group \"%s\") primitive %lu is %s; in %s: %s",
                                     (unsigned long)k, messageText(o.group).c_str(),
                                     (unsigned long)j, primText(o.head[j], &got).c_str(),
                                     base.name.c_str(),
                                     primText(head, readable ? &want : nullptr).c_str()));
            at += primPacketWords(o.head[j]);
        }
    }
    return {};
}

Problem meshImage(Mesh &&m, uint32_t flags, const std::string &out,
                  std::vector<unsigned char> &image)
{
    std::vector<KgxObjectArrays> objects(m.obj.size());
    for (size_t k = 0; k < m.obj.size(); k++) {
        MeshObject &o = m.obj[k];
        KgxObjectArrays &a = objects[k];
        a.vert = std::move(o.vert);
        a.norm = std::move(o.norm);
        a.primHeaders = std::move(o.head);
        a.packets.resize(4 * o.packet.size());
        for (size_t i = 0; i < o.packet.size(); i++)
            storeLE32(&a.packets[4 * i], o.packet[i]);
        a.scale = o.scale;
    }
    uint64_t size = kgxBuildSize(objects);
    if (size >= INT32_MAX)
        return problemIn(KELO_BAD_IMPORT, out,
                         format("a model of %llu bytes is too large", (unsigned long long)size));
    image = kgxBuild(flags, objects);
    return {};
}
