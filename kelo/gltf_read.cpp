// gltf_read.cpp -- a glTF asset as kelo holds it, from the model tinygltf
// read: every primitive of every mesh, each accessor checked against its
// buffer and the work the asset asks for checked against its size before
// anything is made for it, each accessor decoded once
#include "gltf.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <map>

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
            if (!viewSpan(a.bufferView, a.byteOffset, stride(a) * (a.count - 1) + element))
                return refuse(format("accessor %d reaches beyond its buffer", index));
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

    Problem primitive(const tinygltf::Primitive &p, size_t targets, uint64_t &work, GltfObject *ob);
    Problem asset(uint64_t bytes, GltfAsset &asset);
};

// One primitive: checked, adding the work it asks for (ob null), or read
// into ob.  Its triangles are its indices, or its vertices taken three at a
// time when it has none.
Problem Reader::primitive(const tinygltf::Primitive &p, size_t targets, uint64_t &work,
                          GltfObject *ob)
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
        ob->targets.assign(p.targets.size(), {std::vector<float>(3 * n, 0.0f), {}});
    for (size_t t = 0; t < p.targets.size(); t++)
        for (const char *name : {"POSITION", "NORMAL"})
            uses.push_back({format("morph target %zu: %s", t, name), attribute(p.targets[t], name),
                            TINYGLTF_TYPE_VEC3,
                            !ob              ? nullptr
                            : name[0] == 'P' ? &ob->targets[t].position
                                             : &ob->targets[t].normal});
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
    work += (n + (triangles ? count / 3 : 0)) * (1 + (uint64_t)targets);
    if (!ob)
        return {};
    ob->corner.assign(corner.begin(), corner.end());
    ob->targets.resize(targets, {std::vector<float>(3 * n, 0.0f), {}});
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

// Every primitive of every mesh, in order, each one object.  The targets are
// those of the first primitive that has any, named by its mesh; a primitive
// without targets stays still in each, one with another number of them is
// refused.  Everything is checked, and the work added up, before anything
// is decoded.
Problem Reader::asset(uint64_t bytes, GltfAsset &asset)
{
    asset = GltfAsset();
    size_t targets = 0;
    for (const tinygltf::Mesh &mesh : m.meshes)
        for (const tinygltf::Primitive &p : mesh.primitives)
            if (!targets && !p.targets.empty()) {
                targets = p.targets.size();
                asset.targetNames = targetNames(mesh, targets);
            }
    uint64_t most = std::max(WORK_LEAST, WORK_PER_BYTE * bytes);
    for (int read = 0; read < 2; read++) {
        uint64_t work = 0;
        for (size_t mi = 0; mi < m.meshes.size(); mi++) {
            const tinygltf::Mesh &mesh = m.meshes[mi];
            for (size_t pi = 0; pi < mesh.primitives.size(); pi++) {
                const tinygltf::Primitive &p = mesh.primitives[pi];
                std::string where = format("mesh %zu primitive %zu: ", mi, pi);
                if (!p.targets.empty() && p.targets.size() != targets)
                    return refuse(where + format("%zu morph targets, another primitive has %zu",
                                                 p.targets.size(), targets));
                GltfObject *ob = read ? &asset.objects.emplace_back() : nullptr;
                if (ob) {
                    ob->name = mesh.name.empty() ? format("mesh %zu", mi) : mesh.name;
                    ob->material = p.material >= 0 && (size_t)p.material < m.materials.size()
                                       ? m.materials[p.material].name
                                       : "";
                    asset.name = asset.objects.size() == 1 ? mesh.name : asset.name;
                }
                if (Problem pr = primitive(p, targets, work, ob))
                    return within(where, pr);
                if (work > most)
                    return refuse(format("its meshes and %zu morph targets make more than the "
                                         "%llu vertices and triangles an asset of %llu bytes may",
                                         targets, (unsigned long long)most,
                                         (unsigned long long)bytes));
            }
        }
    }
    return asset.objects.empty() ? refuse("no mesh to read") : Problem{};
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
