// gltf_like.cpp -- a glTF asset on the topology of a KGX base (import
// --like): each glTF vertex matched by value to the base's vertex at its
// position and its normal to the nearest normal the base gives that vertex,
// so that an asset whose vertices a modelling tool split, renumbered or
// triangulated comes back as the base's model, with the asset's targets
#include "gltf.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <unordered_map>

namespace {

constexpr uint32_t NONE = UINT32_MAX;

// How many base normals a glTF normal is weighed against, on average: far
// more than the faces that meet at a vertex of any real model.
constexpr uint64_t NORMALS_WEIGHED = 64;

// The base object the material name "objectK" (as export names them) gives,
// or NONE when it names none of the base's count objects.
uint32_t namedObject(const std::string &material, size_t count)
{
    if (!material.starts_with("object"))
        return NONE;
    uint32_t k = 0;
    const char *end = material.data() + material.size();
    auto [stop, error] = std::from_chars(material.data() + 6, end, k);
    return stop == end && error == std::errc() && k < count ? k : NONE;
}

// True when target t moves the normals of glTF object g, which has some.
bool movesNormals(const GltfObject &g, size_t t)
{
    return !g.normal.empty() && !g.targets[t].normal.empty();
}

// A vertex's position as one key: its three 16-bit values.
uint64_t positionKey(const int32_t q[3])
{
    return (uint64_t)(uint16_t)q[0] << 32 | (uint64_t)(uint16_t)q[1] << 16 | (uint16_t)q[2];
}

// The asset and the base being matched.  Every Problem is KELO_NOT_LIKE
// naming the asset, but for a coordinate that does not fit (KELO_BAD_IMPORT)
// and a base primitive that cannot be read (KELO_BAD_MODEL).
struct Matcher {
    const GltfAsset &asset;
    const std::string &file;
    const Model &base;
    std::vector<std::vector<size_t>> parts;  // per base object, the asset objects on it
    std::vector<std::vector<uint32_t>> vertexOf, normalOf;  // per asset object and vertex

    Problem unlike(uint32_t k, const std::string &what) const
    {
        return problemIn(KELO_NOT_LIKE, file, format("object %lu: ", (unsigned long)k) + what);
    }

    double steps(uint32_t k) const { return scaleOf(base.obj[k].scale) / (double)SCALE_ONE; }

    // Base vertex j of object k in metres, for messages.
    std::string where(uint32_t k, uint32_t j) const
    {
        uint32_t at = base.vertexAt(k, j);
        return format("(%g, %g, %g) m", base.value(at) / steps(k), base.value(at + 2) / steps(k),
                      base.value(at + 4) / steps(k));
    }

    Problem assignObjects();
    Problem matchVertices(uint32_t k);
    Problem matchNormals(uint32_t k);
    Problem target(size_t t, std::vector<unsigned char> &image) const;
};

// Each asset object goes to the base object its material names; in a base
// of one object, every other one goes to it; otherwise the others go, in
// order, to the base objects that no material names, in order, when there
// are as many of each.
Problem Matcher::assignObjects()
{
    size_t count = base.obj.size();
    parts.assign(count, {});
    std::vector<size_t> unnamed;
    std::vector<bool> named(count);
    for (size_t i = 0; i < asset.objects.size(); i++) {
        uint32_t k = namedObject(asset.objects[i].material, count);
        if (k == NONE && count == 1)
            k = 0;
        if (k == NONE)
            unnamed.push_back(i);
        else
            parts[k].push_back(i), named[k] = true;
    }
    std::vector<uint32_t> left;
    for (uint32_t k = 0; k < count; k++)
        if (!named[k])
            left.push_back(k);
    if (!unnamed.empty() && unnamed.size() != left.size())
        return problemIn(KELO_NOT_LIKE, file,
                         format("%zu primitives have no material naming an object of %s, "
                                "for %zu of its objects that no material names",
                                unnamed.size(), base.name.c_str(), left.size()));
    for (size_t u = 0; u < unnamed.size(); u++)
        parts[left[u]].push_back(unnamed[u]);
    return {};
}

// Each glTF vertex on object k to the base vertex at its position,
// quantised at the object's scale; every base vertex must be one of them.
Problem Matcher::matchVertices(uint32_t k)
{
    const KgxObject &ob = base.obj[k];
    std::vector<std::pair<uint64_t, uint32_t>> byPosition;
    for (uint32_t j = 0; j < ob.nVert; j++) {
        uint32_t at = base.vertexAt(k, j);
        int32_t q[3] = {base.value(at), base.value(at + 2), base.value(at + 4)};
        byPosition.emplace_back(positionKey(q), j);
    }
    std::sort(byPosition.begin(), byPosition.end());
    std::vector<bool> covered(ob.nVert);
    for (size_t i : parts[k]) {
        const std::vector<float> &p = asset.objects[i].position;
        for (size_t v = 0; v < p.size() / 3; v++) {
            int32_t q[3];
            for (int a = 0; a < 3; a++)
                q[a] = quantise(p[3 * v + a], scaleOf(ob.scale));
            auto [from, to] = std::equal_range(byPosition.begin(), byPosition.end(),
                                               std::pair{positionKey(q), 0u},
                                               [](auto &x, auto &y) { return x.first < y.first; });
            auto at = [&] {
                return format("the vertex at (%g, %g, %g) m", p[3 * v], p[3 * v + 1], p[3 * v + 2]);
            };
            if (std::find(q, q + 3, INT32_MIN) != q + 3 || from == to)
                return unlike(k, at() + " matches no vertex of " + base.name);
            if (to - from > 1)
                return unlike(k,
                              at() + format(" could be vertex %lu or %lu of %s",
                                            (unsigned long)from->second,
                                            (unsigned long)(from + 1)->second, base.name.c_str()));
            vertexOf[i][v] = from->second;
            covered[from->second] = true;
        }
    }
    auto gap = std::find(covered.begin(), covered.end(), false);
    if (gap != covered.end()) {
        uint32_t j = (uint32_t)(gap - covered.begin());
        return unlike(k, format("vertex %lu of %s, at %s, is not in the asset", (unsigned long)j,
                                base.name.c_str(), where(k, j).c_str()));
    }
    return {};
}

// Each glTF normal on object k to the nearest (by angle; the first of equals)
// of the normals the base gives its vertex, paired as export pairs them: the
// normals of the vertex's corners; the normal of its number for a vertex
// that no corner uses; and a normal that no corner uses goes with the
// vertex of its number (vertex 0 past the vertices), the vertex of normal 0
// past the normals.
Problem Matcher::matchNormals(uint32_t k)
{
    const KgxObject &ob = base.obj[k];
    std::vector<std::pair<uint32_t, uint32_t>> pairs;  // (vertex, normal)
    std::vector<bool> vertUsed(ob.nVert), normUsed(ob.nNorm);
    for (uint32_t j = 0; j < ob.nPrim; j++) {
        PrimCorners p;
        if (Problem problem = primitiveCorners(base, k, j, p))
            return problem;
        for (uint32_t c = 0; c < p.n; c++) {
            pairs.emplace_back(p.at[c].vertex, p.at[c].normal);
            vertUsed[p.at[c].vertex] = normUsed[p.at[c].normal] = true;
        }
    }
    for (uint32_t v = 0; v < ob.nVert; v++)
        if (!vertUsed[v])
            pairs.emplace_back(v, v < ob.nNorm ? v : 0);
    for (uint32_t n = 0; n < ob.nNorm; n++)
        if (!normUsed[n])
            pairs.emplace_back(n < ob.nVert ? n : 0, n);
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    std::vector<float> unit(3 * (size_t)ob.nNorm);
    for (uint32_t n = 0; n < ob.nNorm; n++)
        unitNormal(base, ob.normAt, n, &unit[3 * (size_t)n]);
    // Each glTF normal is weighed against every normal of its vertex: a
    // vertex of many normals and many glTF vertices on it could ask for
    // their product, so the work is bounded by the glTF normals.
    uint64_t weighed = 0, most = 0;
    for (size_t i : parts[k])
        most += NORMALS_WEIGHED * (asset.objects[i].normal.size() / 3);
    for (size_t i : parts[k]) {
        const GltfObject &g = asset.objects[i];
        normalOf[i].assign(g.normal.size() / 3, NONE);
        for (size_t v = 0; v < g.normal.size() / 3; v++) {
            auto [from, to] =
                std::equal_range(pairs.begin(), pairs.end(), std::pair{vertexOf[i][v], 0u},
                                 [](auto &x, auto &y) { return x.first < y.first; });
            weighed += (uint64_t)(to - from);
            if (weighed > most)
                return problemIn(KELO_BAD_IMPORT, file,
                                 format("object %lu: its normals would be weighed against those "
                                        "of %s more than %llu times each on average",
                                        (unsigned long)k, base.name.c_str(),
                                        (unsigned long long)NORMALS_WEIGHED));
            double best = -INFINITY;
            for (auto it = from; it != to; it++) {
                double dot = 0;
                for (int a = 0; a < 3; a++)
                    dot += (double)g.normal[3 * v + a] * unit[3 * it->second + a];
                if (dot > best)
                    best = dot, normalOf[i][v] = it->second;
            }
        }
    }
    return {};
}

// Target t's image: the base's, with the target's position of each vertex
// the asset covers (every one) and, as the mean of the glTF normals on it,
// the target's normal of each normal that glTF normals with target offsets
// land on.  The glTF vertices on one vertex of the image (objects that share
// an array share its vertices) must agree on its target position.
Problem Matcher::target(size_t t, std::vector<unsigned char> &image) const
{
    std::vector<bool> set(image.size());                          // by a vertex's offset
    std::unordered_map<uint32_t, std::array<double, 4>> normals;  // by offset: x, y, z, how many
    for (uint32_t k = 0; k < base.obj.size(); k++) {
        uint32_t scale = scaleOf(base.obj[k].scale);
        for (size_t i : parts[k]) {
            const GltfObject &g = asset.objects[i];
            const GltfOffsets &off = g.targets[t];
            for (size_t v = 0; v < g.position.size() / 3; v++) {
                uint32_t j = vertexOf[i][v], at = base.vertexAt(k, j);
                bool agree = true;
                for (int a = 0; a < 3; a++) {
                    double x = (double)g.position[3 * v + a] + off.position[3 * v + a];
                    int32_t q = quantise(x, scale);
                    if (q == INT32_MIN)
                        return problemIn(KELO_BAD_IMPORT, file,
                                         format("object %lu vertex %lu in morph target %zu: "
                                                "coordinate %g does not fit scale %s",
                                                (unsigned long)k, (unsigned long)j, t, x,
                                                scaleText(scale).c_str()));
                    agree = agree && (!set[at] || loadLE16(&image[at + 2 * a]) == q);
                    storeLE16(&image[at + 2 * a], (int16_t)q);
                }
                if (!agree)
                    return unlike(k,
                                  format("vertex %lu of %s, at %s: morph target %zu \"%s\" "
                                         "puts the asset's vertices there in different places",
                                         (unsigned long)j, base.name.c_str(), where(k, j).c_str(),
                                         t, messageText(asset.targetNames[t]).c_str()));
                set[at] = true;
                if (normalOf[i].empty() || !movesNormals(g, t))
                    continue;
                std::array<double, 4> &n = normals[base.normalAt(k, normalOf[i][v])];
                for (int a = 0; a < 3; a++)
                    n[a] += (double)g.normal[3 * v + a] + off.normal[3 * v + a];
                n[3]++;
            }
        }
    }
    for (const auto &[at, n] : normals)
        for (int a = 0; a < 3; a++)
            storeLE16(&image[at + 2 * a], normalValue(n[a] / n[3]));
    return {};
}

}  // namespace

Problem gltfLikeModels(const GltfAsset &asset, const std::string &file, const Model &base,
                       bool withTargets, std::vector<std::vector<unsigned char>> &images)
{
    if (Problem p = primitivesWithinBytes(base, "import --like"))
        return p;
    Matcher m{asset, file, base, {}, {}, {}};
    for (const GltfObject &g : asset.objects)
        m.vertexOf.emplace_back(g.position.size() / 3, NONE);
    m.normalOf.resize(asset.objects.size());
    if (Problem p = m.assignObjects())
        return p;
    for (uint32_t k = 0; k < base.obj.size(); k++)
        if (Problem p = m.matchVertices(k))
            return p;
    size_t targets = withTargets ? asset.targetNames.size() : 0;
    for (uint32_t k = 0; k < base.obj.size(); k++) {
        bool normalTargets = false;
        for (size_t i : m.parts[k])
            for (size_t t = 0; t < targets; t++)
                normalTargets = normalTargets || movesNormals(asset.objects[i], t);
        if (normalTargets && base.obj[k].nNorm)
            if (Problem p = m.matchNormals(k))
                return p;
    }
    images.assign(1 + targets, base.image);
    for (size_t t = 0; t < targets; t++)
        if (Problem p = m.target(t, images[1 + t]))
            return p;
    return {};
}
