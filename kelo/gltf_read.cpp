// gltf_read.cpp -- a glTF asset as kelo holds it, from the model tinygltf
// read: every primitive of every mesh its scene places, where the scene puts
// it, the targets of several meshes matched by name; the node hierarchy and
// each accessor checked, and the work the asset asks for checked against its
// size, before anything is made for it; each accessor decoded once
#include "gltf.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <map>
#include <set>

using tinygltf::Accessor;

namespace {

// The work an asset may ask for: a primitive of V glTF vertices and T
// triangles makes (V + T) x (1 + targets), as the base and each target are
// meshes of their own, and the sum over the primitives may reach
// WORK_PER_BYTE times the bytes of the asset (its file and buffer files),
// or WORK_LEAST for a small one.  Memory and time then stay within a fixed
// multiple of the asset's size (docs/robustness.md).
constexpr uint64_t WORK_PER_BYTE = 16, WORK_LEAST = (uint64_t)1 << 21;

// The most glTF vertices a primitive may have: decoded as floats, every
// vertex number below it is exact, and no index at or above it passes for
// one below.
constexpr unsigned long VERTICES_MAX = 1ul << 24;

// Bytes of a component of a type glTF 2.0 allows in an accessor; 0 for
// any other (32-bit signed integers, doubles).
int componentBytes(int type)
{
    switch (type) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
        return 1;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
        return 2;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
    case TINYGLTF_COMPONENT_TYPE_FLOAT:
        return 4;
    default:
        return 0;
    }
}

// The component types of indices, sparse ones too.
bool isIndexType(int type)
{
    return type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE ||
           type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ||
           type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
}

uint32_t indexAt(const unsigned char *p, int type)
{
    return type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE    ? p[0]
           : type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ? (uint16_t)loadLE16(p)
                                                            : loadLE32(p);
}

// One component at p, as a number: normalized integers map to -1..1 or
// 0..1 as glTF defines them.
double component(const unsigned char *p, int type, bool normalized)
{
    switch (type) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
        return normalized ? std::max((int8_t)p[0] / 127.0, -1.0) : (int8_t)p[0];
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
        return normalized ? p[0] / 255.0 : p[0];
    case TINYGLTF_COMPONENT_TYPE_SHORT:
        return normalized ? std::max(loadLE16(p) / 32767.0, -1.0) : loadLE16(p);
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
        return (uint16_t)loadLE16(p) / (normalized ? 65535.0 : 1.0);
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
        return loadLE32(p);
    default:
        return std::bit_cast<float>(loadLE32(p));
    }
}

int attribute(const std::map<std::string, int> &attributes, const char *name)
{
    auto it = attributes.find(name);
    return it == attributes.end() ? -1 : it->second;
}

// p with context (the part of the asset it is about) put before its words.
Problem within(const std::string &context, Problem p)
{
    p.what = context + p.what;
    return p;
}

// The target names a mesh gives in extras.targetNames, when it gives one
// string per target.
std::vector<std::string> targetNames(const tinygltf::Mesh &mesh, size_t targets)
{
    std::vector<std::string> out;
    const tinygltf::Value *names =
        mesh.extras.IsObject() ? &mesh.extras.Get("targetNames") : nullptr;
    for (size_t t = 0; names && names->IsArray() && names->ArrayLen() == targets && t < targets;
         t++)
        out.push_back(names->Get((int)t).IsString() ? names->Get((int)t).Get<std::string>() : "");
    out.resize(targets);
    return out;
}

// "mesh 3", or `mesh "Suzanne"` for one with a name.
std::string label(const char *kind, size_t index, const std::string &name)
{
    return name.empty() ? format("%s %zu", kind, index)
                        : format("%s \"%s\"", kind, messageText(name).c_str());
}

// Where a node puts what it holds: a 4 x 4 matrix, column by column as glTF
// writes it.
using Matrix = std::array<double, 16>;
constexpr Matrix IDENTITY = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Matrix product(const Matrix &a, const Matrix &b)
{
    Matrix c{};
    for (int col = 0; col < 4; col++)
        for (int row = 0; row < 4; row++)
            for (int k = 0; k < 4; k++)
                c[4 * col + row] += a[4 * k + row] * b[4 * col + k];
    return c;
}

// The matrix of a translation t, a rotation r (a quaternion x, y, z, w,
// taken at unit length; one of length 0 turns everything to nothing) and a
// scale s, applied scale first.
Matrix trsMatrix(const double *t, const double *r, const double *s)
{
    double x = r[0], y = r[1], z = r[2], w = r[3], n = x * x + y * y + z * z + w * w,
           k = n > 0 ? 2 / n : 0, keep = n > 0 ? 1 : 0;
    double turn[3][3] = {{1 - k * (y * y + z * z), k * (x * y + z * w), k * (x * z - y * w)},
                         {k * (x * y - z * w), 1 - k * (x * x + z * z), k * (y * z + x * w)},
                         {k * (x * z + y * w), k * (y * z - x * w), 1 - k * (x * x + y * y)}};
    Matrix m = IDENTITY;
    for (int col = 0; col < 3; col++) {
        for (int row = 0; row < 3; row++)
            m[4 * col + row] = turn[col][row] * s[col] * keep;
        m[12 + col] = t[col];
    }
    return m;
}

// What a world matrix does to normals: the inverse transpose of its linear
// part times its determinant (the cofactors, which need no division), column
// by column, and the determinant.
struct NormalMatrix {
    std::array<double, 9> k;
    double det, most = 0;  // most: the largest of k, by magnitude

    explicit NormalMatrix(const Matrix &w)
    {
        for (size_t i = 0; i < 3; i++) {
            const double *a = &w[4 * ((i + 1) % 3)], *b = &w[4 * ((i + 2) % 3)];
            for (size_t r = 0; r < 3; r++)
                k[3 * i + r] = a[(r + 1) % 3] * b[(r + 2) % 3] - a[(r + 2) % 3] * b[(r + 1) % 3];
        }
        det = w[0] * k[0] + w[1] * k[1] + w[2] * k[2];
        for (double x : k)
            most = std::max(most, std::fabs(x));
    }

    bool invertible() const
    {
        return det != 0 && std::isfinite(det) &&
               std::all_of(k.begin(), k.end(), [](double x) { return std::isfinite(x); });
    }

    // n turned as a normal and made unit again (a zero vector stays zero),
    // by an invertible matrix.  k is scaled to at most 1 first, so that
    // nothing overflows.
    void turn(const double n[3], double out[3]) const
    {
        for (int r = 0; r < 3; r++)
            out[r] = (n[0] * k[r] + n[1] * k[3 + r] + n[2] * k[6 + r]) / most;
        double length = std::hypot(out[0], out[1], out[2]);
        for (int r = 0; r < 3; r++)
            out[r] = length > 0 ? std::copysign(1.0, det) * out[r] / length : 0;
    }
};

// An asset being read.  Every Problem it returns is KELO_BAD_IMPORT naming
// the file; the callers put the part of the asset before its words.
struct Reader {
    const tinygltf::Model &m;
    const std::string &file;
    std::map<int, std::vector<float>> decoded;  // by accessor

    Problem refuse(const std::string &what) const { return problemIn(KELO_BAD_IMPORT, file, what); }

    // Buffer view `view` exists and lies inside its buffer.
    Problem viewCheck(int view) const
    {
        if (view < 0 || (size_t)view >= m.bufferViews.size())
            return refuse(format("buffer view %d does not exist", view));
        const tinygltf::BufferView &v = m.bufferViews[view];
        if (v.buffer < 0 || (size_t)v.buffer >= m.buffers.size())
            return refuse(format("buffer view %d: buffer %d does not exist", view, v.buffer));
        size_t size = m.buffers[v.buffer].data.size();
        if (v.byteOffset > size || v.byteLength > size - v.byteOffset)
            return refuse(format("buffer view %d reaches beyond its buffer", view));
        return {};
    }

    // Where bytes [offset, offset + length) of a checked view start, or
    // null when they do not lie inside it.  Subtracting, not adding, no
    // value can wrap.
    const unsigned char *viewSpan(int view, uint64_t offset, uint64_t length) const
    {
        const tinygltf::BufferView &v = m.bufferViews[view];
        if (offset > v.byteLength || length > v.byteLength - offset)
            return nullptr;
        return m.buffers[v.buffer].data.data() + v.byteOffset + offset;
    }

    // Bytes from one element to the next in accessor a's view.
    uint64_t stride(const Accessor &a) const
    {
        size_t given = m.bufferViews[a.bufferView].byteStride;
        return given ? given
                     : (uint64_t)componentBytes(a.componentType) *
                           tinygltf::GetNumComponentsInType(a.type);
    }

    // Checks accessor `index` for a use of the given type, reading nothing
    // but its sparse indices: it exists, its types are glTF's and the use's,
    // every element and every sparse value lies inside its buffer, and the
    // sparse indices increase inside its count.
    Problem check(int index, int type) const
    {
        if (index < 0 || (size_t)index >= m.accessors.size())
            return refuse(format("accessor %d does not exist", index));
        const Accessor &a = m.accessors[index];
        int size = componentBytes(a.componentType);
        if (size == 0)
            return refuse(format("accessor %d: component type %d is not one glTF 2.0 allows", index,
                                 a.componentType));
        if (a.type != type)
            return refuse(format("accessor %d is not of the type its use needs", index));
        if (a.normalized && size == 4)
            return refuse(
                format("accessor %d: only 8 and 16-bit integers can be normalized", index));
        uint64_t element = (uint64_t)size * tinygltf::GetNumComponentsInType(type);
        if (a.bufferView >= 0) {
            if (Problem p = viewCheck(a.bufferView))
                return within(format("accessor %d: ", index), p);
            size_t given = m.bufferViews[a.bufferView].byteStride;
            if (given && given < element)
                return refuse(format("accessor %d: byte stride %zu is less than its %llu-byte "
                                     "elements",
                                     index, given, (unsigned long long)element));
            if (!viewSpan(a.bufferView, a.byteOffset, stride(a) * (a.count - 1) + element))
                return refuse(format("accessor %d reaches beyond its buffer", index));
            // Both offsets lie inside the buffer now, so their sum cannot wrap.
            if ((a.byteOffset + m.bufferViews[a.bufferView].byteOffset) % size)
                return refuse(format("accessor %d starts at a byte offset that is not a multiple "
                                     "of its %d-byte components",
                                     index, size));
        }
        return a.sparse.isSparse ? sparseCheck(index, element) : Problem{};
    }

    Problem sparseCheck(int index, uint64_t element) const
    {
        const Accessor &a = m.accessors[index];
        const auto &s = a.sparse;
        std::string at = format("accessor %d: ", index);
        if (!isIndexType(s.indices.componentType))
            return refuse(at +
                          format("sparse indices of component type %d", s.indices.componentType));
        for (int view : {s.indices.bufferView, s.values.bufferView})
            if (Problem p = viewCheck(view))
                return within(at + "sparse data: ", p);
        uint64_t indexBytes = componentBytes(s.indices.componentType);
        const unsigned char *indices =
            viewSpan(s.indices.bufferView, (uint64_t)s.indices.byteOffset, indexBytes * s.count);
        if (!indices ||
            !viewSpan(s.values.bufferView, (uint64_t)s.values.byteOffset, element * s.count))
            return refuse(at + "its sparse data reach beyond their buffer");
        for (uint32_t i = 0, last = 0; i < (uint32_t)s.count; i++) {
            uint32_t e = indexAt(indices + indexBytes * i, s.indices.componentType);
            if (e >= a.count)
                return refuse(at + format("sparse index %lu beyond its %zu elements",
                                          (unsigned long)e, a.count));
            if (i > 0 && e <= last)
                return refuse(at + format("sparse index %lu after %lu: they must increase",
                                          (unsigned long)e, (unsigned long)last));
            last = e;
        }
        return {};
    }

    // check, and an element count of n.
    Problem checkCount(int index, int type, size_t n) const
    {
        if (Problem p = check(index, type))
            return p;
        if (m.accessors[index].count != n)
            return refuse(format("accessor %d has %zu elements for %zu vertices", index,
                                 m.accessors[index].count, n));
        return {};
    }

    // Every component of a checked accessor, with its sparse substitutions
    // made (an accessor without a view is zeros but for them); decoded
    // once, whatever uses it.
    Problem decode(int index, const std::vector<float> *&values)
    {
        auto [it, added] = decoded.try_emplace(index);
        values = &it->second;
        if (!added)
            return {};
        const Accessor &a = m.accessors[index];
        size_t width = tinygltf::GetNumComponentsInType(a.type),
               size = componentBytes(a.componentType);
        std::vector<float> &out = it->second;
        out.assign(a.count * width, 0.0f);
        auto fill = [&](size_t e, const unsigned char *p) {
            for (size_t c = 0; c < width; c++)
                out[e * width + c] = (float)component(p + c * size, a.componentType, a.normalized);
        };
        if (a.bufferView >= 0) {
            const unsigned char *p = viewSpan(a.bufferView, a.byteOffset, 0);
            for (size_t e = 0; e < a.count; e++)
                fill(e, p + e * stride(a));
        }
        const auto &s = a.sparse;
        size_t indexBytes = componentBytes(s.indices.componentType);
        for (size_t i = 0; s.isSparse && i < (size_t)s.count; i++)
            fill(indexAt(viewSpan(s.indices.bufferView, s.indices.byteOffset, 0) + indexBytes * i,
                         s.indices.componentType),
                 viewSpan(s.values.bufferView, s.values.byteOffset, 0) + width * size * i);
        // No scale holds a value that is not a finite number, and the fitted
        // scale would search for one in vain.
        if (!std::all_of(out.begin(), out.end(), [](float x) { return std::isfinite(x); }))
            return refuse(format("accessor %d holds a value that is not a finite number", index));
        return {};
    }

    std::string meshLabel(size_t mesh) const { return label("mesh", mesh, m.meshes[mesh].name); }
    std::string nodeLabel(size_t node) const { return label("node", node, m.nodes[node].name); }

    // A node that holds a mesh, and where the scene puts it.
    struct Instance {
        int node;
        Matrix world;
    };
    int meshOf(const Instance &in) const { return m.nodes[in.node].mesh; }

    Problem localMatrix(int node, Matrix &local) const;
    Problem hierarchy(std::vector<int> &parent) const;
    Problem scene(std::vector<Instance> &placed) const;
    Problem targets(const std::vector<Instance> &placed, GltfAsset &asset,
                    std::vector<std::vector<size_t>> &slots) const;
    Problem primitive(const tinygltf::Primitive &p, const std::vector<size_t> &slots,
                      size_t variants, uint64_t &work, GltfObject *ob);
    Problem place(const Instance &in, GltfObject &ob) const;
    Problem asset(uint64_t bytes, GltfAsset &asset);
};

// A node's own matrix: its `matrix`, or its translation, rotation and scale.
Problem Reader::localMatrix(int node, Matrix &local) const
{
    static constexpr double ZEROS[3] = {0, 0, 0}, UNTURNED[4] = {0, 0, 0, 1}, ONES[3] = {1, 1, 1};
    const tinygltf::Node &n = m.nodes[node];
    struct {
        const char *name;
        const std::vector<double> &given;
        size_t size;
        const double *fallback;
    } parts[] = {{"matrix", n.matrix, 16, IDENTITY.data()},
                 {"translation", n.translation, 3, ZEROS},
                 {"rotation", n.rotation, 4, UNTURNED},
                 {"scale", n.scale, 3, ONES}};
    for (const auto &part : parts)
        if (!part.given.empty() && part.given.size() != part.size)
            return refuse(format("%s: its %s holds %zu numbers, not %zu", nodeLabel(node).c_str(),
                                 part.name, part.given.size(), part.size));
    auto value = [](const auto &part) {
        return part.given.empty() ? part.fallback : part.given.data();
    };
    if (n.matrix.empty()) {
        local = trsMatrix(value(parts[1]), value(parts[2]), value(parts[3]));
        return {};
    }
    std::copy(n.matrix.begin(), n.matrix.end(), local.begin());
    if (local[3] != 0 || local[7] != 0 || local[11] != 0 || local[15] != 1)
        return refuse(nodeLabel(node) + ": its matrix's last row is not 0 0 0 1");
    return {};
}

// Each node's parent (-1 for none), the whole hierarchy checked: every
// child exists, no node is a child twice and none is its own ancestor.
Problem Reader::hierarchy(std::vector<int> &parent) const
{
    size_t n = m.nodes.size();
    parent.assign(n, -1);
    for (size_t p = 0; p < n; p++)
        for (int c : m.nodes[p].children) {
            if ((size_t)c >= n)
                return refuse(
                    format("%s names node %d, which does not exist", nodeLabel(p).c_str(), c));
            if (parent[c] >= 0)
                return refuse(format("%s is reached twice: from %s and from %s",
                                     nodeLabel(c).c_str(), nodeLabel(parent[c]).c_str(),
                                     nodeLabel(p).c_str()));
            parent[c] = (int)p;
        }
    // With one parent each, a node that no node without a parent leads to
    // has ancestors without end: walking up n steps from it lands on a cycle.
    std::vector<bool> reached(n);
    std::vector<int> todo;
    for (size_t i = 0; i < n; i++)
        if (parent[i] < 0)
            todo.push_back((int)i);
    while (!todo.empty()) {
        int node = todo.back();
        todo.pop_back();
        reached[node] = true;
        todo.insert(todo.end(), m.nodes[node].children.begin(), m.nodes[node].children.end());
    }
    for (size_t i = 0; i < n; i++)
        if (!reached[i]) {
            int on = (int)i;
            for (size_t step = 0; step < n; step++)
                on = parent[on];
            return refuse(nodeLabel(on) + " is its own ancestor: the node hierarchy has a cycle");
        }
    return {};
}

// The nodes that hold a mesh, with their world matrices (the matrices from
// the scene's node down to them composed), in scene order: depth first from
// each node of the asset's scene (or, when it names none, from every node
// that is no node's child), a node before its children and those in order.
Problem Reader::scene(std::vector<Instance> &placed) const
{
    std::vector<int> parent, roots;
    if (Problem p = hierarchy(parent))
        return p;
    if (m.defaultScene >= (int)m.scenes.size())
        return refuse(format("scene %d does not exist", m.defaultScene));
    for (size_t i = 0; m.defaultScene < 0 && i < parent.size(); i++)
        if (parent[i] < 0)
            roots.push_back((int)i);
    const std::vector<int> none,
        &given = m.defaultScene < 0 ? none : m.scenes[m.defaultScene].nodes;
    std::vector<bool> listed(parent.size());
    std::string scene = format("scene %d", m.defaultScene);
    for (int r : given) {
        if ((size_t)r >= parent.size())
            return refuse(format("%s names node %d, which does not exist", scene.c_str(), r));
        if (parent[r] >= 0 || listed[r])
            return refuse(format("%s is reached twice: from %s and from %s", nodeLabel(r).c_str(),
                                 listed[r] ? scene.c_str() : nodeLabel(parent[r]).c_str(),
                                 scene.c_str()));
        listed[r] = true;
        roots.push_back(r);
    }
    std::vector<Instance> todo;  // each with its parent's world matrix
    for (auto r = roots.rbegin(); r != roots.rend(); r++)
        todo.push_back({*r, IDENTITY});
    while (!todo.empty()) {
        Instance in = todo.back();
        todo.pop_back();
        Matrix local;
        if (Problem p = localMatrix(in.node, local))
            return p;
        in.world = product(in.world, local);
        std::string wrong = !std::all_of(in.world.begin(), in.world.end(),
                                         [](double x) { return std::isfinite(x); })
                                ? "not finite"
                            : !NormalMatrix(in.world).invertible() ? "not invertible"
                                                                   : "";
        if (!wrong.empty())
            return refuse(nodeLabel(in.node) + ": its matrix, composed with its ancestors', is " +
                          wrong);
        const tinygltf::Node &n = m.nodes[in.node];
        if (n.mesh >= (int)m.meshes.size())
            return refuse(format("%s: mesh %d does not exist", nodeLabel(in.node).c_str(), n.mesh));
        if (n.mesh >= 0)
            placed.push_back(in);
        for (auto c = n.children.rbegin(); c != n.children.rend(); c++)
            todo.push_back({*c, in.world});
    }
    return {};
}

// Matches the targets of the placed meshes: slots[mesh][t] is the asset's
// target that target t of the mesh adds to.  The targets of one mesh are
// the asset's, in order; those of several are matched by name (the asset's
// are the distinct names in order of first appearance), or by index when
// no mesh names one and all have as many.  A name used twice in one mesh,
// and targets that cannot be matched, are refused.
Problem Reader::targets(const std::vector<Instance> &placed, GltfAsset &asset,
                        std::vector<std::vector<size_t>> &slots) const
{
    std::vector<int> keyed;  // the meshes with targets, in order of first appearance
    std::vector<std::vector<std::string>> names(m.meshes.size());
    std::vector<bool> seen(m.meshes.size());
    for (const Instance &in : placed) {
        int mi = meshOf(in);
        if (seen[mi])
            continue;
        seen[mi] = true;
        size_t count = 0;
        for (size_t pi = 0; pi < m.meshes[mi].primitives.size(); pi++) {
            size_t n = m.meshes[mi].primitives[pi].targets.size();
            if (n && count && n != count)
                return refuse(
                    format("%s primitive %zu: %zu morph targets, another primitive has %zu",
                           meshLabel(mi).c_str(), pi, n, count));
            count = count ? count : n;
        }
        names[mi] = targetNames(m.meshes[mi], count);
        std::set<std::string> distinct;
        for (const std::string &name : names[mi])
            if (!name.empty() && !distinct.insert(name).second)
                return refuse(format("%s: morph target name \"%s\" used twice",
                                     meshLabel(mi).c_str(), messageText(name).c_str()));
        if (count)
            keyed.push_back(mi);
    }
    auto unnamed = [&](int mi) { return std::ranges::count(names[mi], "") > 0; };
    auto named = [&](int mi) { return std::ranges::count(names[mi], "") < (long)names[mi].size(); };
    bool byName = keyed.size() > 1 && std::ranges::none_of(keyed, unnamed);
    auto u = std::ranges::find_if(keyed, unnamed);
    if (keyed.size() > 1 && !byName) {
        // u does not match x: one of them names a target, or they differ in number.
        auto differs = [&](int mi) {
            return mi != *u && (named(mi) || named(*u) || names[mi].size() != names[*u].size());
        };
        auto x = std::ranges::find_if(keyed, differs);
        if (x != keyed.end())
            return refuse(format("%s and %s: unnamed morph targets match by index only when no "
                                 "mesh names one and all have as many",
                                 meshLabel(*std::min(u, x)).c_str(),
                                 meshLabel(*std::max(u, x)).c_str()));
    }
    std::map<std::string, size_t> slotOf;
    for (int mi : keyed)
        for (size_t t = 0; t < names[mi].size(); t++) {
            size_t slot =
                byName ? slotOf.try_emplace(names[mi][t], slotOf.size()).first->second : t;
            if (slot == asset.targetNames.size())
                asset.targetNames.push_back(names[mi][t]);
            slots[mi].push_back(slot);
        }
    return {};
}

// One primitive of a mesh whose target t adds to the asset's target
// slots[t], of `variants` in all: checked, adding the work it asks for (ob
// null), or read into ob.  Its triangles are its indices, or its vertices
// taken three at a time when it has none.
Problem Reader::primitive(const tinygltf::Primitive &p, const std::vector<size_t> &slots,
                          size_t variants, uint64_t &work, GltfObject *ob)
{
    bool triangles = p.mode == TINYGLTF_MODE_TRIANGLES;
    if (!triangles && p.mode != TINYGLTF_MODE_POINTS)
        return refuse(format("mode %d: only triangles and points can be read", p.mode));
    int position = attribute(p.attributes, "POSITION");
    if (position < 0)
        return refuse("no POSITION");
    if (Problem pr = check(position, TINYGLTF_TYPE_VEC3))
        return within("POSITION: ", pr);
    size_t n = m.accessors[position].count;
    // Without a buffer view its values are zeros but for its sparse ones, and
    // an object holds at most CORNER_INDEX_MAX vertices; with one, a float
    // holds every vertex number exactly.
    bool viewless = m.accessors[position].bufferView < 0;
    if (n > (viewless ? CORNER_INDEX_MAX : VERTICES_MAX))
        return refuse(format("POSITION: accessor %d has %zu elements, more than the %lu kelo "
                             "reads%s",
                             position, n, viewless ? (unsigned long)CORNER_INDEX_MAX : VERTICES_MAX,
                             viewless ? " without a buffer view" : ""));

    // Each vertex attribute kelo reads, and where its values go.
    struct Use {
        std::string name;
        int index, type;
        std::vector<float> *into;
    };
    std::vector<float> corner;
    std::vector<Use> uses = {
        {"POSITION", position, TINYGLTF_TYPE_VEC3, ob ? &ob->position : nullptr},
        {"NORMAL", attribute(p.attributes, "NORMAL"), TINYGLTF_TYPE_VEC3,
         ob ? &ob->normal : nullptr},
        {"TEXCOORD_0", attribute(p.attributes, "TEXCOORD_0"), TINYGLTF_TYPE_VEC2,
         ob ? &ob->texcoord : nullptr},
        {"_KGX_CORNER", attribute(p.attributes, "_KGX_CORNER"), TINYGLTF_TYPE_VEC2, &corner}};
    if (ob)
        ob->targets.assign(variants, {std::vector<float>(3 * n, 0.0f), {}});
    for (size_t t = 0; t < p.targets.size(); t++)
        for (const char *name : {"POSITION", "NORMAL"})
            uses.push_back({format("morph target %zu: %s", t, name), attribute(p.targets[t], name),
                            TINYGLTF_TYPE_VEC3,
                            !ob              ? nullptr
                            : name[0] == 'P' ? &ob->targets[slots[t]].position
                                             : &ob->targets[slots[t]].normal});
    for (const Use &u : uses) {
        const std::vector<float> *values = nullptr;
        if (u.index < 0)
            continue;
        if (Problem pr = checkCount(u.index, u.type, n);
            pr || (ob && (pr = decode(u.index, values))))
            return within(u.name + ": ", pr);
        if (ob)
            *u.into = *values;
    }
    int cornerAt = attribute(p.attributes, "_KGX_CORNER");
    if (cornerAt >= 0 &&
        (m.accessors[cornerAt].componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ||
         m.accessors[cornerAt].normalized))
        return refuse("_KGX_CORNER: not unsigned 16-bit numbers");
    if (p.material >= (int)m.materials.size())
        return refuse(format("material %d does not exist", p.material));

    size_t count = n;
    if (triangles && p.indices >= 0) {
        if (Problem pr = check(p.indices, TINYGLTF_TYPE_SCALAR))
            return within("indices: ", pr);
        const Accessor &a = m.accessors[p.indices];
        if (!isIndexType(a.componentType) || a.normalized)
            return refuse("its indices are not unsigned integers");
        count = a.count;
    }
    if (triangles && count % 3)
        return refuse(format("%zu indices do not make triangles", count));
    work += (n + (triangles ? count / 3 : 0)) * (1 + (uint64_t)variants);
    if (!ob)
        return {};
    ob->corner.assign(corner.begin(), corner.end());
    ob->material = p.material < 0 ? "" : m.materials[p.material].name;
    const std::vector<float> *indices = nullptr;
    if (triangles && p.indices >= 0) {
        if (Problem pr = decode(p.indices, indices))
            return within("indices: ", pr);
        for (float i : *indices)
            if (!(i < n))
                return refuse(format("index %.0f beyond its %zu vertices", i, n));
        ob->triangles.assign(indices->begin(), indices->end());
    }
    for (size_t i = 0; triangles && !indices && i < n; i++)
        ob->triangles.push_back((uint32_t)i);
    return {};
}

// Puts an object where its node's world matrix places it: positions
// through the matrix, position offsets through its linear part, and
// normals (with each target's, as the difference of the turned sums) through
// its inverse transpose, made unit again.  A matrix that mirrors turns each
// triangle over, so that its front stays where it was.  Nothing changes
// under the identity, and normals nothing under a matrix that only moves.
Problem Reader::place(const Instance &in, GltfObject &ob) const
{
    const Matrix &w = in.world;
    bool fits = true;
    auto through = [&](float *v, bool moved) {
        double out[3];
        for (int r = 0; r < 3; r++)
            out[r] = w[r] * v[0] + w[4 + r] * v[1] + w[8 + r] * v[2] + (moved ? w[12 + r] : 0);
        for (int r = 0; r < 3; r++) {
            fits = fits && std::fabs(out[r]) <= FLT_MAX;
            v[r] = fits ? (float)out[r] : 0;
        }
    };
    Matrix linear = w;
    linear[12] = linear[13] = linear[14] = 0;
    const bool moves = w != IDENTITY, turns = linear != IDENTITY;
    for (size_t i = 0; moves && i < ob.position.size(); i += 3)
        through(&ob.position[i], true);
    for (GltfOffsets &t : ob.targets)
        for (size_t i = 0; turns && i < t.position.size(); i += 3)
            through(&t.position[i], false);
    if (!fits)
        return refuse(nodeLabel(in.node) + ": its matrix puts a coordinate beyond a float's range");
    NormalMatrix turn(w);
    for (size_t i = 0; turns && i < ob.normal.size(); i += 3) {
        double n[3] = {ob.normal[i], ob.normal[i + 1], ob.normal[i + 2]}, base[3], sum[3], out[3];
        turn.turn(n, base);
        for (GltfOffsets &t : ob.targets) {
            if (t.normal.empty())
                continue;
            for (int a = 0; a < 3; a++)
                sum[a] = n[a] + t.normal[i + a];
            turn.turn(sum, out);
            for (int a = 0; a < 3; a++)
                t.normal[i + a] = (float)(out[a] - base[a]);
        }
        std::copy(base, base + 3, &ob.normal[i]);
    }
    for (size_t j = 0; turn.det < 0 && j < ob.triangles.size(); j += 3)
        std::swap(ob.triangles[j + 1], ob.triangles[j + 2]);
    return {};
}

// Every primitive of every mesh the scene places, in scene order, each one
// object where the scene puts it; a mesh that several nodes hold gives
// objects for each.  A primitive without targets stays still in each.
// Everything is checked, and the work added up, before anything is decoded.
Problem Reader::asset(uint64_t bytes, GltfAsset &asset)
{
    asset = GltfAsset();
    std::vector<Instance> placed;
    std::vector<std::vector<size_t>> slots(m.meshes.size());
    if (Problem p = scene(placed); p || (p = targets(placed, asset, slots)))
        return p;
    size_t variants = asset.targetNames.size();
    uint64_t most = std::max(WORK_LEAST, WORK_PER_BYTE * bytes);
    for (int read = 0; read < 2; read++) {
        uint64_t work = 0;
        for (const Instance &in : placed) {
            int mi = meshOf(in);
            const tinygltf::Mesh &mesh = m.meshes[mi];
            for (size_t pi = 0; pi < mesh.primitives.size(); pi++) {
                GltfObject *ob = read ? &asset.objects.emplace_back() : nullptr;
                if (ob) {
                    ob->name = mesh.name.empty() ? format("mesh %d", mi) : mesh.name;
                    asset.name = asset.objects.size() == 1 ? mesh.name : asset.name;
                }
                if (Problem pr = primitive(mesh.primitives[pi], slots[mi], variants, work, ob))
                    return within(meshLabel(mi) + format(" primitive %zu: ", pi), pr);
                if (work > most)
                    return refuse(format("its meshes and %zu morph targets make more than the "
                                         "%llu vertices and triangles an asset of %llu bytes may",
                                         variants, (unsigned long long)most,
                                         (unsigned long long)bytes));
                if (Problem pr = ob ? place(in, *ob) : Problem{})
                    return pr;
            }
        }
    }
    return asset.objects.empty() ? refuse("its scene places no mesh") : Problem{};
}

}  // namespace

Problem gltfDecode(const Input &in, GltfAsset &asset)
{
    tinygltf::Model m;
    uint64_t bytes = 0;
    if (Problem p = gltfLoad(in, m, bytes))
        return p;
    return Reader{m, in.name, {}}.asset(bytes, asset);
}
