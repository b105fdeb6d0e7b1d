// gltf_mesh.cpp -- a KGX model with its variants as a glTF asset, and a
// glTF asset as meshes: one glTF vertex per distinct corner out, glTF
// vertices welded back into KGX vertices and normals in
#include "gltf.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <map>
#include <numeric>
#include <tuple>

/* ---- From a KGX model ---- */

namespace {

// One corner of a KGX primitive: what becomes one glTF vertex.
struct Corner {
    uint32_t vertex, normal;
    bool textured;
    uint8_t u, v;
    uint64_t key() const
    {
        return vertex | (uint64_t)normal << 16 | (uint64_t)textured << 32 | (uint64_t)u << 40 |
               (uint64_t)v << 48;
    }
};

}  // namespace

// The corners of object k's primitives (primitiveCorners), three per
// triangle (quads as a fan).
static Problem triangleCorners(const Model &m, uint32_t k, std::vector<Corner> &out)
{
    for (uint32_t j = 0; j < m.obj[k].nPrim; j++) {
        PrimCorners p;
        if (Problem problem = primitiveCorners(m, k, j, p))
            return problem;
        Corner c[CORNERS_MAX];
        for (uint32_t i = 0; i < p.n; i++)
            c[i] = {p.at[i].vertex, p.at[i].normal, p.textured, p.at[i].u, p.at[i].v};
        fanTriangles(p.n, [&](uint32_t a, uint32_t b, uint32_t d) {
            out.insert(out.end(), {c[a], c[b], c[d]});
        });
    }
    return {};
}

// Value a of element i of an array at `at` in an image.
static double element(const std::vector<unsigned char> &image, uint32_t at, uint32_t i, int a)
{
    return loadLE16(&image[at + KGX_ELEMENT * i + 2 * a]);
}

// The cross product of a triangle's edges from p[0] to p[1] and to p[2]:
// twice its area, along the normal its winding gives.
static void edgeCross(const double p[3][3], double n[3])
{
    double e[2][3];
    for (int a = 0; a < 3; a++) {
        e[0][a] = p[1][a] - p[0][a];
        e[1][a] = p[2][a] - p[0][a];
    }
    for (int a = 0; a < 3; a++)
        n[a] = e[0][(a + 1) % 3] * e[1][(a + 2) % 3] - e[0][(a + 2) % 3] * e[1][(a + 1) % 3];
}

// glTF requires unit normals: each is scaled to unit length, whatever its
// length in the model; a zero normal, which has no direction, becomes +z.
void unitNormal(const Model &m, uint32_t at, uint32_t i, float *out)
{
    double n[3], len = 0;
    for (int a = 0; a < 3; a++) {
        n[a] = element(m.image, at, i, a);
        len += n[a] * n[a];
    }
    len = std::sqrt(len);
    for (int a = 0; a < 3; a++)
        out[a] = len == 0 ? (float)(a == 2) : (float)(n[a] / len);
}

// Turns each triangle whose corners' normals point against its winding, so
// that its front, counter-clockwise in glTF, faces where its normals point.
static void orientTriangles(const Model &m, const KgxObject &ob, std::vector<Corner> &corners)
{
    for (size_t j = 0; ob.nNorm && j + 2 < corners.size(); j += 3) {
        const Corner *c = &corners[j];
        double p[3][3], cross[3], facing = 0;
        for (int i = 0; i < 3; i++)
            for (int a = 0; a < 3; a++)
                p[i][a] = element(m.image, ob.vertAt, c[i].vertex, a);
        edgeCross(p, cross);
        for (int a = 0; a < 3; a++)
            for (int i = 0; i < 3; i++)
                facing += cross[a] * element(m.image, ob.normAt, c[i].normal, a);
        if (facing < 0)
            std::swap(corners[j + 1], corners[j + 2]);
    }
}

// The glTF vertices of one object: one per distinct corner, then one for
// each vertex and each normal that no corner uses, so that nothing of the
// model is lost.
static std::vector<Corner> objectVertices(const KgxObject &ob, const std::vector<Corner> &corners,
                                          std::vector<uint32_t> &triangles)
{
    std::map<uint64_t, uint32_t> number;
    std::vector<Corner> vertices;
    std::vector<bool> vertUsed(ob.nVert), normUsed(ob.nNorm);
    auto vertexOf = [&](const Corner &c) {
        auto [it, added] = number.emplace(c.key(), (uint32_t)vertices.size());
        if (added)
            vertices.push_back(c);
        vertUsed[c.vertex] = true;
        if (c.normal < ob.nNorm)
            normUsed[c.normal] = true;
        return it->second;
    };
    for (const Corner &c : corners)
        triangles.push_back(vertexOf(c));
    for (uint32_t v = 0; v < ob.nVert; v++)
        if (!vertUsed[v])
            vertexOf({v, v < ob.nNorm ? v : 0, false, 0, 0});
    for (uint32_t k = 0; k < ob.nNorm; k++)
        if (!normUsed[k])
            vertexOf({k < ob.nVert ? k : 0, k, false, 0, 0});
    return vertices;
}

namespace {

// An object's glTF vertices and its triangles, three vertex numbers each:
// the same for every object of the same arrays and primitives.
struct ObjectLayout {
    std::vector<Corner> vertices;
    std::vector<uint32_t> triangles;
};

}  // namespace

// Object k's layout: its corners read, turned to face their normals, and
// numbered.
static Problem objectLayout(const Model &m, uint32_t k, ObjectLayout &layout)
{
    std::vector<Corner> corners;
    if (Problem p = triangleCorners(m, k, corners))
        return p;
    orientTriangles(m, m.obj[k], corners);
    layout.vertices = objectVertices(m.obj[k], corners, layout.triangles);
    return {};
}

// An asset whose dense arrays would pass 2 GiB is refused before any of it
// is built: GLB lengths are 32-bit, and objects that share arrays, or many
// variants, could otherwise ask for far more memory than the files hold.
constexpr uint64_t ASSET_MAX = INT32_MAX;

// What makes an object's layout: its arrays and its primitives.
static std::tuple<uint32_t, uint32_t, uint32_t, uint32_t> layoutKey(const KgxObject &ob)
{
    return {ob.vertArray, ob.normArray, ob.primAt, ob.nPrim};
}

static Problem assetTooLarge(const Model &m, uint32_t targets)
{
    return problemIn(KELO_BAD_MODEL, m.name,
                     format("its glTF asset, with %lu targets, would take more than %llu bytes",
                            (unsigned long)targets, (unsigned long long)ASSET_MAX));
}

// Refuses, from the object table alone and in time linear in the model, an
// asset that would surely pass ASSET_MAX bytes: 12 a triangle, which the
// primitives' headers tell, and vertexBytes a glTF vertex (in the base and
// its targets), of which an object has at least as many as it has vertices
// or normals.
static Problem assetCanFit(const Model &m, uint32_t targets, uint64_t vertexBytes)
{
    std::map<std::pair<uint32_t, uint32_t>, uint64_t> areaTriangles;
    uint64_t least = 0;
    for (uint32_t k = 0; k < m.obj.size(); k++) {
        const KgxObject &ob = m.obj[k];
        if (ob.nVert == 0)
            return problemAt(
                KELO_BAD_MODEL, m.name, kgxEntryAt(k, ENTRY_N_VERT),
                format("object %lu has no vertices, which glTF cannot hold", (unsigned long)k));
        auto [area, added] = areaTriangles.try_emplace({ob.primAt, ob.nPrim}, 0);
        for (uint32_t j = 0; added && j < ob.nPrim; j++)
            area->second += primCorners(primMode(m.word(m.primitiveAt(k, j)))) - 2;
        least += 12 * area->second + vertexBytes * std::max(ob.nVert, ob.nNorm);
        if (least > ASSET_MAX)
            return assetTooLarge(m, targets);
    }
    return {};
}

// The base's values of one object's glTF vertices.
static void baseValues(const Model &m, const KgxObject &ob, const std::vector<Corner> &vertices,
                       double steps, GltfObject &g)
{
    bool textured =
        std::any_of(vertices.begin(), vertices.end(), [](const Corner &c) { return c.textured; });
    for (const Corner &c : vertices) {
        for (int a = 0; a < 3; a++)
            g.position.push_back((float)(element(m.image, ob.vertAt, c.vertex, a) / steps));
        if (ob.nNorm) {
            float n[3];
            unitNormal(m, ob.normAt, c.normal, n);
            g.normal.insert(g.normal.end(), n, n + 3);
        }
        if (textured)
            g.texcoord.insert(g.texcoord.end(), {c.u / 255.0f, 1 - c.v / 255.0f});
        g.corner.insert(g.corner.end(), {(uint16_t)c.vertex, (uint16_t)c.normal});
    }
}

// The offsets of one object's glTF vertices in a variant's image.
static GltfOffsets offsets(const Model &m, const KgxObject &ob, const std::vector<Corner> &vertices,
                           double steps, const std::vector<unsigned char> &variant,
                           bool normalTargets, const GltfObject &g)
{
    GltfOffsets t;
    for (size_t i = 0; i < vertices.size(); i++) {
        for (int a = 0; a < 3; a++)
            t.position.push_back((float)((element(variant, ob.vertAt, vertices[i].vertex, a) -
                                          element(m.image, ob.vertAt, vertices[i].vertex, a)) /
                                         steps));
        for (int a = 0; a < 3 && normalTargets && ob.nNorm; a++)
            t.normal.push_back(
                (float)(element(variant, ob.normAt, vertices[i].normal, a) / NORMAL_ONE -
                        g.normal[3 * i + a]));
    }
    return t;
}

Problem gltfFromModel(const Model &m, const std::vector<KeloFile> &files, uint32_t scale,
                      GltfAsset &asset)
{
    asset = GltfAsset();
    if (m.obj.empty())
        return problemAt(KELO_BAD_MODEL, m.name, KGX_COUNT_AT,
                         "no objects, which glTF cannot hold");
    asset.name = std::filesystem::path(m.name).stem().string();
    const uint32_t targets = files.empty() ? 0 : files[0].groups();
    for (uint32_t t = 0; t < targets; t++)
        asset.targetNames.push_back(format("variant%lu", (unsigned long)t));
    bool normalTargets = std::any_of(files.begin(), files.end(),
                                     [](const KeloFile &f) { return f.kind == KIND_NDF; });
    const uint64_t vertexBytes = 40 * (1 + (uint64_t)targets * (normalTargets ? 2 : 1));
    if (Problem p = assetCanFit(m, targets, vertexBytes))
        return p;
    // Each layout is made once for the objects that share arrays and
    // primitives, and the asset's exact size is known before any of its
    // values are.
    std::map<std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>, ObjectLayout> layouts;
    std::vector<const ObjectLayout *> of;  // each object's layout
    uint64_t bytes = 0;
    for (uint32_t k = 0; k < m.obj.size(); k++) {
        auto [it, added] = layouts.try_emplace(layoutKey(m.obj[k]));
        if (added)
            if (Problem p = objectLayout(m, k, it->second))
                return p;
        of.push_back(&it->second);
        bytes +=
            4 * (uint64_t)it->second.triangles.size() + vertexBytes * it->second.vertices.size();
        if (bytes > ASSET_MAX)
            return assetTooLarge(m, targets);
    }
    std::vector<double> steps;  // each object's steps per metre
    for (uint32_t k = 0; k < m.obj.size(); k++) {
        const KgxObject &ob = m.obj[k];
        GltfObject &g = asset.objects.emplace_back();
        g.triangles = of[k]->triangles;
        g.material = format("object%lu", (unsigned long)k);
        steps.push_back(scaleOf(scale ? scale : ob.scale) / (double)SCALE_ONE);
        baseValues(m, ob, of[k]->vertices, steps[k], g);
    }
    // One image for every variant, rather than a copy of the model each:
    // the variant's changes are made in it, read, and undone.
    std::vector<unsigned char> variant = m.image;
    Changes changes;
    for (uint32_t t = 0; t < targets; t++) {
        changes.begin(m.image.size());
        for (const KeloFile &f : files)
            if (Problem p = groupChanges(m, f, t, changes))
                return p;
        applyChanges(m, KIND_VDF, changes, variant);
        for (uint32_t k = 0; k < m.obj.size(); k++)
            asset.objects[k].targets.push_back(offsets(m, m.obj[k], of[k]->vertices, steps[k],
                                                       variant, normalTargets, asset.objects[k]));
        for (uint32_t at : changes.at)
            std::copy_n(&m.image[at], sizeof(int16_t), &variant[at]);
    }
    return {};
}

/* ---- To meshes ---- */

// Coordinate a of vertex i's position (of its normal when normal is set),
// with target t's offset added (t < 0: the base).
static double coordinate(const GltfObject &g, size_t i, int a, int t, bool normal)
{
    const std::vector<float> &base = normal ? g.normal : g.position;
    const std::vector<float> *offsets = t < 0    ? nullptr
                                        : normal ? &g.targets[t].normal
                                                 : &g.targets[t].position;
    return (double)base[3 * i + a] +
           (offsets && !offsets->empty() ? (double)(*offsets)[3 * i + a] : 0.0);
}

std::vector<double> gltfCoordinates(const GltfAsset &asset)
{
    double least = 0, most = 0;
    for (const GltfObject &g : asset.objects)
        for (int t = -1; t < (int)asset.targetNames.size(); t++)
            for (size_t i = 0; i < g.position.size(); i++) {
                double x = coordinate(g, i / 3, (int)(i % 3), t, false);
                least = std::min(least, x), most = std::max(most, x);
            }
    return {least, most};
}

static void appendBits(std::vector<uint32_t> &key, const std::vector<float> &values, size_t i)
{
    for (size_t a = 0; !values.empty() && a < 3; a++)
        key.push_back(std::bit_cast<uint32_t>(values[3 * i + a]));
}

// Gives each of the glTF vertices the number of its class: vertices whose
// keys (`width` words each, back to back) are equal.  With keyOrder the
// classes are numbered in the order of their keys, which begin with the KGX
// numbers of _KGX_CORNER; otherwise in order of first appearance.  Returns
// the first vertex of each class.  Sorting, not a map of keys: n log n
// comparisons and no copy of a key.
static std::vector<size_t> classes(const std::vector<uint32_t> &keys, size_t width, bool keyOrder,
                                   std::vector<uint32_t> &number)
{
    size_t n = keys.size() / width;
    auto key = [&](size_t i) { return keys.begin() + (ptrdiff_t)(i * width); };
    std::vector<size_t> order(n), first;
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return std::lexicographical_compare(key(a), key(a) + (ptrdiff_t)width, key(b),
                                            key(b) + (ptrdiff_t)width);
    });
    number.assign(n, 0);
    for (size_t j = 0; j < n; j++) {
        if (j == 0 ||
            !std::equal(key(order[j]), key(order[j]) + (ptrdiff_t)width, key(order[j - 1])))
            first.push_back(order[j]);
        number[order[j]] = (uint32_t)first.size() - 1;
    }
    if (keyOrder)
        return first;
    std::vector<uint32_t> rank(first.size());
    std::vector<size_t> byFirst(first.size());
    std::iota(byFirst.begin(), byFirst.end(), 0);
    std::sort(byFirst.begin(), byFirst.end(),
              [&](size_t a, size_t b) { return first[a] < first[b]; });
    for (size_t r = 0; r < byFirst.size(); r++)
        rank[byFirst[r]] = (uint32_t)r;
    for (uint32_t &c : number)
        c = rank[c];
    std::sort(first.begin(), first.end());
    return first;
}

// The flat normal of triangle j of the base (t < 0) or of target t.
static void flatNormal(const GltfObject &g, size_t j, int t, std::vector<int16_t> &out)
{
    double p[3][3], n[3];
    for (int c = 0; c < 3; c++)
        for (int a = 0; a < 3; a++)
            p[c][a] = coordinate(g, g.triangles[3 * j + c], a, t, false);
    edgeCross(p, n);
    double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int a = 0; a < 3; a++)
        out.push_back(len > 0 ? normalValue(n[a] / len) : 0);
    out.push_back(0);
}

// The vertex and normal values of one object, of the base (t < 0) or of
// target t, appended to o's (empty) arrays; KELO_BAD_IMPORT for a
// coordinate that does not fit.
static Problem objectValues(const GltfObject &g, size_t k, int t, const std::string &file,
                            const std::vector<size_t> &vertexOf,
                            const std::vector<size_t> &normalOf, MeshObject &o)
{
    for (size_t i : vertexOf) {
        for (int a = 0; a < 3; a++) {
            double x = coordinate(g, i, a, t, false);
            int32_t q = quantise(x, o.scale);
            if (q == INT32_MIN)
                return problemIn(
                    KELO_BAD_IMPORT, file,
                    format("object %zu vertex %zu%s: coordinate %g does not fit scale %s", k, i,
                           t < 0 ? "" : format(" in morph target %d", t).c_str(), x,
                           scaleText(o.scale).c_str()));
            o.vert.push_back((int16_t)q);
        }
        o.vert.push_back(0);
    }
    for (size_t i : normalOf) {
        for (int a = 0; a < 3; a++)
            o.norm.push_back(normalValue(coordinate(g, i, a, t, true)));
        o.norm.push_back(0);
    }
    for (size_t j = 0; g.normal.empty() && j < g.triangles.size() / 3; j++)
        flatNormal(g, j, t, o.norm);
    return {};
}

// The primitives of an object: its triangles in kelo's packet layout,
// textured when it has texture coordinates, with the normal of each corner
// or, without normals, the flat normal of its triangle.
static void trianglePackets(const GltfObject &g, const std::vector<uint32_t> &vertNumber,
                            const std::vector<uint32_t> &normNumber, MeshObject &o)
{
    bool textured = !g.texcoord.empty();
    for (size_t j = 0; j < g.triangles.size() / 3; j++) {
        o.head.push_back(primHeader(textured ? MODE_TEXTURED : 0, 6));
        o.primLine.push_back(0);
        for (int c = 0; c < 3; c++) {
            size_t i = g.triangles[3 * j + c];
            o.packet.push_back(textured ? cornerWord(vertNumber[i], texByte(g.texcoord[2 * i]),
                                                     texByte(1 - (double)g.texcoord[2 * i + 1]))
                                        : cornerWord(vertNumber[i]));
        }
        for (int c = 0; c < 3; c++)
            o.packet.push_back(
                cornerWord(g.normal.empty() ? (uint32_t)j : normNumber[g.triangles[3 * j + c]]));
    }
}

Problem gltfMeshes(const GltfAsset &asset, const std::string &file,
                   const std::vector<uint32_t> &scales, bool withTargets, std::vector<Mesh> &meshes)
{
    meshes.assign(withTargets ? 1 + asset.targetNames.size() : 1, Mesh{file, {}});
    for (size_t k = 0; k < asset.objects.size(); k++) {
        const GltfObject &g = asset.objects[k];
        size_t n = g.position.size() / 3;
        bool carried = !g.corner.empty();
        std::vector<uint32_t> vertKeys, normKeys;
        for (size_t i = 0; i < n; i++) {
            vertKeys.push_back(carried ? g.corner[2 * i] : 0);
            normKeys.push_back(carried ? g.corner[2 * i + 1] : 0);
            appendBits(vertKeys, g.position, i);
            appendBits(normKeys, g.normal, i);
            for (const GltfOffsets &t : g.targets) {
                appendBits(vertKeys, t.position, i);
                appendBits(normKeys, t.normal, i);
            }
        }
        std::vector<uint32_t> vertNumber, normNumber;
        size_t width = std::max<size_t>(n, 1);
        std::vector<size_t> vertexOf =
                                classes(vertKeys, vertKeys.size() / width, carried, vertNumber),
                            normalOf;
        if (!g.normal.empty())
            normalOf = classes(normKeys, normKeys.size() / width, carried, normNumber);
        size_t normals = g.normal.empty() ? g.triangles.size() / 3 : normalOf.size();
        if (vertexOf.size() > CORNER_INDEX_MAX || normals > CORNER_INDEX_MAX)
            return problemIn(KELO_BAD_IMPORT, file,
                             format("object %zu: %zu vertices and %zu normals (an object holds at "
                                    "most %lu of each)",
                                    k, vertexOf.size(), normals, (unsigned long)CORNER_INDEX_MAX));
        MeshObject o;
        o.scale = scales[std::min(k, scales.size() - 1)];
        o.group = g.name;
        trianglePackets(g, vertNumber, normNumber, o);
        for (size_t t = 0; t < meshes.size(); t++) {
            MeshObject &into = meshes[t].obj.emplace_back(o);
            if (Problem p = objectValues(g, k, (int)t - 1, file, vertexOf, normalOf, into))
                return p;
        }
    }
    return {};
}
