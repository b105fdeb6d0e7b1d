// obj_mesh.cpp -- from parsed OBJ text to quantised objects: scales, vertex
// and normal numbering, computed normals, primitive packets, and the
// topology check against a base
#include "obj.h"

#include "klib.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

// Corners of a primitive, from its header's mode.
uint32_t primCorners(uint32_t head)
{
    return (head >> 24 & PRIM_QUAD) ? 4 : 3;
}

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

static int32_t allFit(const ObjText *t, uint32_t scale)
{
    for (const ObjCorner &c : t->corners)
        for (int32_t a = 0; a < 3; a++)
            if (quantise(t->pos[3 * c.v + a], scale) == INT32_MIN)
                return 0;
    return 1;
}

/*
 * The largest scale at which every vertex that a face uses fits in signed
 * 16 bits.  A model of only zero coordinates, or of no faces, gets scale 1.
 * Returns 1, or 0 after a message when even the smallest scale is too large.
 */
int32_t scaleFit(const ObjText *t, uint32_t *scale)
{
    double most = 0;
    for (const ObjCorner &c : t->corners)
        for (int32_t a = 0; a < 3; a++)
            most = std::max(most, std::fabs(t->pos[3 * c.v + a]));
    *scale = SCALE_ONE;
    if (most == 0)
        return 1;
    double w = std::floor(32767.0 * SCALE_ONE / most);
    uint32_t s = w > (double)UINT32_MAX ? UINT32_MAX : (uint32_t)w;
    while (s > 0 && !allFit(t, s))
        s--;
    if (s == 0) {
        msgPrint(stderr, "%s: coordinates up to %g do not fit any scale\n", t->name.c_str(), most);
        return 0;
    }
    *scale = s;
    return 1;
}

// Reads a scale given as a positive decimal number.  Returns 0 when it is
// not one or rounds to nothing representable.
int32_t scaleParse(const char *text, uint32_t *scale)
{
    char *end;
    double v = strtod(text, &end);
    if (!*text || *end || !(v > 0) || strspn(text, "0123456789.eE+-") != strlen(text))
        return 0;
    double w = std::round(v * SCALE_ONE);
    if (w < 1 || w > (double)UINT32_MAX)
        return 0;
    *scale = (uint32_t)w;
    return 1;
}

// The shortest text with at most six decimals that scaleParse reads back as
// the same scale: six decimals always suffice for 16 fraction bits.
void scaleText(uint32_t scale, char *buffer, size_t size)
{
    for (int32_t d = 0; d <= 6; d++) {
        snprintf(buffer, size, "%.*f", d, (double)scale / SCALE_ONE);
        uint32_t back;
        if (scaleParse(buffer, &back) && back == scale)
            return;
    }
}

// A normal scaled to length 4096.  A vector already of unit length (within
// a thousandth) is taken as it is, so that normals kelo wrote come back to
// the same integers; a zero vector stays zero.
static void normalQuantise(const double *n, int16_t *out)
{
    double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    double div = (len == 0 || std::fabs(len - 1) <= 0.001) ? 1 : len;
    for (int32_t a = 0; a < 3; a++)
        out[a] = (int16_t)std::round(std::clamp(n[a] / div, -1.0, 1.0) * 4096.0);
    out[3] = 0;
}

static int32_t failFace(const ObjText *t, const ObjFace &f, const char *what, uint32_t g)
{
    msgPrint(stderr, "%s:%ld: group \"%s\" uses more than %lu %s (an object holds at most %lu)\n",
             t->name.c_str(), (long)f.line, t->groups[g].c_str(), (unsigned long)OBJ_MAX_INDEX,
             what, (unsigned long)OBJ_MAX_INDEX);
    return 0;
}

// Working arrays for one object, indexed by the file's vertex and normal
// numbers; entries are -1 outside the current object.
struct Numbering {
    std::vector<int32_t> vertLocal, normLocal, needLocal;
    std::vector<int32_t> verts, norms, needs;  // file numbers, then sorted
};

// Numbers the vertices and normals one group's faces use, each in the order
// of the file, so that a file with one group keeps its own numbering.
// Corners without a normal use a normal computed for their vertex; those
// follow the file's normals.
static int32_t numberObject(const ObjText *t, const std::vector<uint32_t> &faces, uint32_t g,
                            Numbering *nb)
{
    for (uint32_t fi : faces) {
        const ObjFace &f = t->faces[fi];
        for (uint32_t i = 0; i < f.n; i++) {
            const ObjCorner &c = t->corners[f.corner + i];
            if (nb->vertLocal[c.v] < 0) {
                nb->vertLocal[c.v] = 0;
                nb->verts.push_back(c.v);
            }
            if (c.vn >= 0 && nb->normLocal[c.vn] < 0) {
                nb->normLocal[c.vn] = 0;
                nb->norms.push_back(c.vn);
            }
            if (c.vn < 0 && nb->needLocal[c.v] < 0) {
                nb->needLocal[c.v] = 0;
                nb->needs.push_back(c.v);
            }
        }
        if (nb->verts.size() > OBJ_MAX_INDEX)
            return failFace(t, f, "vertices", g);
        if (nb->norms.size() + nb->needs.size() > OBJ_MAX_INDEX)
            return failFace(t, f, "normals", g);
    }
    std::sort(nb->verts.begin(), nb->verts.end());
    std::sort(nb->norms.begin(), nb->norms.end());
    std::sort(nb->needs.begin(), nb->needs.end());
    for (size_t i = 0; i < nb->verts.size(); i++)
        nb->vertLocal[nb->verts[i]] = (int32_t)i;
    for (size_t i = 0; i < nb->norms.size(); i++)
        nb->normLocal[nb->norms[i]] = (int32_t)i;
    for (size_t i = 0; i < nb->needs.size(); i++)
        nb->needLocal[nb->needs[i]] = (int32_t)(nb->norms.size() + i);
    return 1;
}

static void numberingReset(Numbering *nb)
{
    for (int32_t v : nb->verts)
        nb->vertLocal[v] = -1;
    for (int32_t v : nb->norms)
        nb->normLocal[v] = -1;
    for (int32_t v : nb->needs)
        nb->needLocal[v] = -1;
    nb->verts.clear();
    nb->norms.clear();
    nb->needs.clear();
}

// Normals for vertices whose corners name none: the sum of the normals of
// every face of the object around the vertex, each as long as twice its
// face's area (Newell's sum, which also serves faces that are not flat).
static void computeNormals(const ObjText *t, const std::vector<uint32_t> &faces,
                           const Numbering *nb, MeshObject *o)
{
    std::vector<double> sum(3 * nb->verts.size(), 0.0);
    for (uint32_t fi : faces) {
        const ObjFace &f = t->faces[fi];
        double n[3] = {0, 0, 0};
        for (uint32_t i = 0; i < f.n; i++) {
            const double *p = &t->pos[3 * (size_t)t->corners[f.corner + i].v];
            const double *q = &t->pos[3 * (size_t)t->corners[f.corner + (i + 1) % f.n].v];
            n[0] += (p[1] - q[1]) * (p[2] + q[2]);
            n[1] += (p[2] - q[2]) * (p[0] + q[0]);
            n[2] += (p[0] - q[0]) * (p[1] + q[1]);
        }
        for (uint32_t i = 0; i < f.n; i++)
            for (int32_t a = 0; a < 3; a++)
                sum[3 * (size_t)nb->vertLocal[t->corners[f.corner + i].v] + a] += n[a];
    }
    for (int32_t v : nb->needs) {
        double *n = &sum[3 * (size_t)nb->vertLocal[v]];
        double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        double unit[3] = {0, 0, 0};
        for (int32_t a = 0; a < 3 && len > 0; a++)
            unit[a] = n[a] / len;
        int16_t out[4];
        normalQuantise(unit, out);
        o->norm.insert(o->norm.end(), out, out + 4);
    }
}

// One primitive from corners at[0..k-1] of a face: quads stay quads, and
// larger polygons arrive here as the triangles of a fan.
static void addPrimitive(const ObjText *t, const ObjFace &f, const uint32_t *at, uint32_t k,
                         const Numbering *nb, MeshObject *o)
{
    bool textured = t->corners[f.corner].vt >= 0;
    uint32_t mode = (textured ? PRIM_TEXTURED : 0) | (k == 4 ? PRIM_QUAD : 0);
    o->head.push_back(mode << 24 | 2 * k << 8);
    o->primLine.push_back(f.line);
    for (uint32_t i = 0; i < k; i++) {
        const ObjCorner &c = t->corners[f.corner + at[i]];
        uint32_t word = (uint32_t)nb->vertLocal[c.v];
        if (textured)
            word |= (uint32_t)texByte(t->tex[2 * (size_t)c.vt]) << 24 |
                    (uint32_t)texByte(t->tex[2 * (size_t)c.vt + 1]) << 16;
        o->packet.push_back(word);
    }
    for (uint32_t i = 0; i < k; i++) {
        const ObjCorner &c = t->corners[f.corner + at[i]];
        o->packet.push_back((uint32_t)(c.vn >= 0 ? nb->normLocal[c.vn] : nb->needLocal[c.v]));
    }
}

static int32_t buildObject(const ObjText *t, const std::vector<uint32_t> &faces, uint32_t g,
                           uint32_t scale, Numbering *nb, MeshObject *o)
{
    o->scale = scale;
    o->group = t->groups[g];
    if (!numberObject(t, faces, g, nb))
        return 0;
    for (int32_t v : nb->verts) {
        for (int32_t a = 0; a < 3; a++) {
            int32_t q = quantise(t->pos[3 * (size_t)v + a], scale);
            if (q == INT32_MIN) {
                char text[32];
                scaleText(scale, text, sizeof text);
                msgPrint(stderr, "%s:%ld: coordinate %g does not fit scale %s\n",
                         t->name.c_str(), (long)t->posLine[v], t->pos[3 * (size_t)v + a], text);
                return 0;
            }
            o->vert.push_back((int16_t)q);
        }
        o->vert.push_back(0);
    }
    for (int32_t n : nb->norms) {
        int16_t out[4];
        normalQuantise(&t->nrm[3 * (size_t)n], out);
        o->norm.insert(o->norm.end(), out, out + 4);
    }
    computeNormals(t, faces, nb, o);
    for (uint32_t fi : faces) {
        const ObjFace &f = t->faces[fi];
        uint32_t at[4] = {0, 1, 2, 3};
        if (f.n <= 4) {
            addPrimitive(t, f, at, f.n, nb, o);
            continue;
        }
        for (uint32_t i = 1; i + 1 < f.n; i++) {
            at[1] = i;
            at[2] = i + 1;
            addPrimitive(t, f, at, 3, nb, o);
        }
    }
    return 1;
}

/*
 * Builds one object per group that has faces, in the order the groups first
 * appear.  Object k takes scales[k], or the last scale when there are fewer.
 * Returns 1, or 0 after a "file:line: message" on the error stream.
 */
int32_t meshBuild(Mesh *m, const ObjText *t, const uint32_t *scales, uint32_t nScales)
{
    m->name = t->name;
    m->obj.clear();
    std::vector<std::vector<uint32_t>> byGroup(t->groups.size());
    for (size_t f = 0; f < t->faces.size(); f++)
        byGroup[t->faces[f].group].push_back((uint32_t)f);
    Numbering nb;
    nb.vertLocal.assign(t->pos.size() / 3, -1);
    nb.needLocal.assign(t->pos.size() / 3, -1);
    nb.normLocal.assign(t->nrm.size() / 3, -1);
    for (uint32_t g = 0; g < byGroup.size(); g++) {
        if (byGroup[g].empty())
            continue;
        size_t k = m->obj.size();
        m->obj.emplace_back();
        uint32_t scale = scales[std::min(k, (size_t)nScales - 1)];
        if (!buildObject(t, byGroup[g], g, scale, &nb, &m->obj.back()))
            return 0;
        numberingReset(&nb);
    }
    return 1;
}

// A primitive in words: its kind and its corners' vertex and normal indices,
// or its raw header when its packet is not laid out as kelo lays it out.
static void primText(const MeshObject &o, uint32_t j, size_t at, char *buffer, size_t size)
{
    uint32_t head = o.head[j], n = primCorners(head);
    if ((head >> 8 & 0xFF) != 2 * n || (head & 0x00FF00FF) != 0) {
        snprintf(buffer, size, "header 0x%08lX", (unsigned long)head);
        return;
    }
    int32_t len = snprintf(buffer, size, "%s %s, vertices",
                           (head >> 24 & PRIM_TEXTURED) ? "textured" : "plain",
                           n == 4 ? "quad" : "triangle");
    for (uint32_t i = 0; i < 2 * n; i++)
        len += snprintf(buffer + len, size - len, "%s %lu", i == n ? ", normals" : "",
                        (unsigned long)(o.packet[at + i] & 0xFFFF));
}

static int32_t likeCount(const Mesh *m, const Mesh *base, uint32_t k, const char *what,
                         size_t have, size_t want)
{
    if (have == want)
        return 1;
    msgPrint(stderr, "%s: object %lu (group \"%s\") has %zu %s, %s has %zu\n", m->name.c_str(),
             (unsigned long)k, m->obj[k].group.c_str(), have, what, base->name.c_str(), want);
    return 0;
}

/*
 * Checks that m can be compared with base element by element: the same
 * objects with the same numbers of vertices, normals and primitives, and
 * primitives with the same headers, vertex indices and normal indices (the
 * texture bytes may differ).  Returns 1, or 0 after naming the first
 * mismatch on the error stream.
 */
int32_t meshLike(const Mesh *m, const Mesh *base)
{
    if (m->obj.size() != base->obj.size()) {
        msgPrint(stderr, "%s: %zu objects, %s has %zu\n", m->name.c_str(), m->obj.size(),
                 base->name.c_str(), base->obj.size());
        return 0;
    }
    for (uint32_t k = 0; k < m->obj.size(); k++) {
        const MeshObject &o = m->obj[k], &b = base->obj[k];
        if (!likeCount(m, base, k, "vertices", o.vert.size() / 4, b.vert.size() / 4) ||
            !likeCount(m, base, k, "normals", o.norm.size() / 4, b.norm.size() / 4) ||
            !likeCount(m, base, k, "primitives", o.head.size(), b.head.size()))
            return 0;
        size_t at = 0;
        for (uint32_t j = 0; j < o.head.size(); j++) {
            uint32_t words = o.head[j] >> 8 & 0xFF, n = primCorners(o.head[j]);
            bool same = o.head[j] == b.head[j];
            for (uint32_t i = 0; same && i < words; i++) {
                uint32_t mask = i < n ? 0xFFFF : 0xFFFFFFFF;
                same = ((o.packet[at + i] ^ b.packet[at + i]) & mask) == 0;
            }
            if (!same) {
                char have[160], want[160];
                primText(o, j, at, have, sizeof have);
                primText(b, j, at, want, sizeof want);
                msgPrint(stderr, "%s:%ld: object %lu (group \"%s\") primitive %lu is %s; in %s: %s\n",
                         m->name.c_str(), (long)o.primLine[j], (unsigned long)k, o.group.c_str(),
                         (unsigned long)j, have, base->name.c_str(), want);
                return 0;
            }
            at += words;
        }
    }
    return 1;
}
