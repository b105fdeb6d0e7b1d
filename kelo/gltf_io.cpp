// gltf_io.cpp -- glTF assets encoded and decoded through tinygltf: one
// buffer, one mesh, one node and one scene out; every mesh's primitives in,
// each accessor read with its sparse substitutions and checked against its
// buffer
#include "gltf.h"

// tinygltf's implementation is compiled here and nowhere else.  Images are
// never decoded: kelo reads and writes geometry only.
#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <strings.h>

using tinygltf::Accessor;
using GltfModel = tinygltf::Model;

bool hasExtension(const std::string &name, const char *ext)
{
    size_t n = strlen(ext);
    return name.size() > n && strcasecmp(name.c_str() + name.size() - n, ext) == 0;
}

bool isGltfName(const std::string &name)
{
    return hasExtension(name, ".glb") || hasExtension(name, ".gltf");
}

/* ---- Encoding ---- */

namespace {

// The model being written: one buffer, one view per run of bytes.
struct Writer {
    GltfModel model;

    Writer() { model.buffers.resize(1); }

    // Appends size bytes as a new view, at a 4-byte boundary: vertex
    // attributes need it, and every component type is then aligned.
    int view(const void *data, size_t size, int target)
    {
        std::vector<unsigned char> &bytes = model.buffers[0].data;
        bytes.resize((bytes.size() + 3) / 4 * 4);
        tinygltf::BufferView v;
        v.buffer = 0;
        v.byteOffset = bytes.size();
        v.byteLength = size;
        v.target = target;
        bytes.insert(bytes.end(), (const unsigned char *)data, (const unsigned char *)data + size);
        model.bufferViews.push_back(v);
        return (int)model.bufferViews.size() - 1;
    }

    int accessor(int view, int componentType, int type, size_t count)
    {
        Accessor a;
        a.bufferView = view;
        a.componentType = componentType;
        a.type = type;
        a.count = count;
        model.accessors.push_back(a);
        return (int)model.accessors.size() - 1;
    }

    // Declares the accessor's per-component bounds, as POSITION needs.
    void bounds(int a, const std::vector<float> &values, size_t width)
    {
        Accessor &acc = model.accessors[a];
        acc.minValues.assign(width, INFINITY);
        acc.maxValues.assign(width, -INFINITY);
        for (size_t i = 0; i < values.size(); i++) {
            acc.minValues[i % width] = std::min(acc.minValues[i % width], (double)values[i]);
            acc.maxValues[i % width] = std::max(acc.maxValues[i % width], (double)values[i]);
        }
    }

    int floats(const std::vector<float> &values, int type, size_t width, bool withBounds)
    {
        int v = view(values.data(), 4 * values.size(), TINYGLTF_TARGET_ARRAY_BUFFER);
        int a = accessor(v, TINYGLTF_COMPONENT_TYPE_FLOAT, type, values.size() / width);
        if (withBounds)
            bounds(a, values, width);
        return a;
    }

    // A target's offsets, three per vertex: dense, or sparse over the zeros
    // of an accessor without a view when that takes fewer bytes (each moved
    // vertex then costs its index besides its 12 bytes).  A target that
    // moves nothing is all zeros and has no bytes at all.
    int offsets(const std::vector<float> &values, bool withBounds)
    {
        size_t n = values.size() / 3;
        std::vector<uint32_t> moved;
        for (size_t i = 0; i < n; i++)
            if (values[3 * i] != 0 || values[3 * i + 1] != 0 || values[3 * i + 2] != 0)
                moved.push_back((uint32_t)i);
        bool wide = n > 65536;
        size_t indexBytes = wide ? 4 : 2;
        if (!moved.empty() && moved.size() * (12 + indexBytes) >= 12 * n)
            return floats(values, TINYGLTF_TYPE_VEC3, 3, withBounds);
        int a = accessor(-1, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, n);
        if (withBounds)
            bounds(a, values, 3);
        if (moved.empty())
            return a;
        std::vector<float> picked;
        for (size_t i : moved)
            picked.insert(picked.end(), &values[3 * i], &values[3 * i] + 3);
        Accessor &acc = model.accessors[a];
        acc.sparse.isSparse = true;
        acc.sparse.count = (int)moved.size();
        acc.sparse.indices.byteOffset = 0;
        acc.sparse.indices.bufferView = integers(moved, wide, 0, &acc.sparse.indices.componentType);
        acc.sparse.values.byteOffset = 0;
        acc.sparse.values.bufferView = view(picked.data(), 4 * picked.size(), 0);
        return a;
    }

    // Whole numbers as a view, in 16 bits unless wide; *type is set to the
    // component type used.
    int integers(const std::vector<uint32_t> &values, bool wide, int target, int *type)
    {
        *type =
            wide ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
        if (wide)
            return view(values.data(), 4 * values.size(), target);
        std::vector<uint16_t> narrow(values.begin(), values.end());
        return view(narrow.data(), 2 * narrow.size(), target);
    }

    tinygltf::Primitive primitive(const GltfObject &ob)
    {
        tinygltf::Primitive p;
        size_t n = ob.position.size() / 3;
        p.attributes["POSITION"] = floats(ob.position, TINYGLTF_TYPE_VEC3, 3, true);
        if (!ob.normal.empty())
            p.attributes["NORMAL"] = floats(ob.normal, TINYGLTF_TYPE_VEC3, 3, false);
        if (!ob.texcoord.empty())
            p.attributes["TEXCOORD_0"] = floats(ob.texcoord, TINYGLTF_TYPE_VEC2, 2, false);
        if (!ob.corner.empty()) {
            int v = view(ob.corner.data(), 2 * ob.corner.size(), TINYGLTF_TARGET_ARRAY_BUFFER);
            p.attributes["_KGX_CORNER"] =
                accessor(v, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_VEC2, n);
        }
        p.mode = ob.triangles.empty() ? TINYGLTF_MODE_POINTS : TINYGLTF_MODE_TRIANGLES;
        // Triangle indices in 16 bits while every vertex number stays below
        // 65535, the value glTF keeps from index data.
        if (!ob.triangles.empty()) {
            int type,
                v = integers(ob.triangles, n > 65535, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER, &type);
            p.indices = accessor(v, type, TINYGLTF_TYPE_SCALAR, ob.triangles.size());
        }
        for (const GltfOffsets &t : ob.targets) {
            std::map<std::string, int> target;
            target["POSITION"] = offsets(t.position, true);
            if (!t.normal.empty())
                target["NORMAL"] = offsets(t.normal, false);
            p.targets.push_back(target);
        }
        return p;
    }
};

}  // namespace

std::string gltfEncode(const GltfAsset &asset, bool binary)
{
    Writer w;
    tinygltf::Mesh mesh;
    mesh.name = asset.name;
    for (const GltfObject &ob : asset.objects)
        mesh.primitives.push_back(w.primitive(ob));
    mesh.weights.assign(asset.targetNames.size(), 0.0);
    if (!asset.targetNames.empty()) {
        tinygltf::Value::Array names(asset.targetNames.begin(), asset.targetNames.end());
        mesh.extras =
            tinygltf::Value(tinygltf::Value::Object{{"targetNames", tinygltf::Value(names)}});
    }
    w.model.meshes.push_back(mesh);
    tinygltf::Node node;
    node.name = asset.name;
    node.mesh = 0;
    w.model.nodes.push_back(node);
    w.model.scenes.emplace_back().nodes.push_back(0);
    w.model.defaultScene = 0;
    w.model.asset.version = "2.0";
    w.model.asset.generator = "kelo";
    std::ostringstream bytes;
    tinygltf::TinyGLTF().WriteGltfSceneToStream(&w.model, bytes, !binary, binary);
    return bytes.str();
}

/* ---- Reading ---- */

// One component at p, as a number: normalized integers map to -1..1 or
// 0..1 as glTF defines them.
static double component(const unsigned char *p, int type, bool normalized)
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

// The first of count elements of elementBytes bytes, stride apart, from
// byte offset of view; nullptr when they do not lie inside the view and its
// buffer.
static const unsigned char *viewSpan(const GltfModel &m, int view, size_t offset, size_t stride,
                                     size_t count, size_t elementBytes)
{
    if (view < 0 || (size_t)view >= m.bufferViews.size())
        return nullptr;
    const tinygltf::BufferView &v = m.bufferViews[view];
    if (v.buffer < 0 || (size_t)v.buffer >= m.buffers.size())
        return nullptr;
    const std::vector<unsigned char> &data = m.buffers[v.buffer].data;
    uint64_t end = count ? offset + (uint64_t)stride * (count - 1) + elementBytes : 0;
    if ((uint64_t)v.byteOffset + v.byteLength > data.size() || end > v.byteLength)
        return nullptr;
    return data.data() + v.byteOffset + offset;
}

// More elements than any accessor kelo reads can sensibly have: 256 times
// the vertices of the largest KGX object.
constexpr size_t MAX_ELEMENTS = (size_t)1 << 24;

// Every component of accessor `index`, which must be of `type`, with its
// sparse substitutions made; an accessor without a view is all zeros.
// Returns "" or what is wrong with the accessor.
static std::string readComponents(const GltfModel &m, int index, int type, std::vector<double> *out)
{
    if (index < 0 || (size_t)index >= m.accessors.size())
        return format("accessor %d does not exist", index);
    const Accessor &a = m.accessors[index];
    int width = tinygltf::GetNumComponentsInType(a.type);
    int size = tinygltf::GetComponentSizeInBytes(a.componentType);
    if (a.type != type || size <= 0 || a.componentType == TINYGLTF_COMPONENT_TYPE_INT)
        return format("accessor %d is not of the type its use needs", index);
    if (a.count > MAX_ELEMENTS)
        return format("accessor %d has more than %zu elements", index, MAX_ELEMENTS);
    size_t elementBytes = (size_t)width * size;
    out->assign(a.count * width, 0.0);
    auto fill = [&](size_t element, const unsigned char *p) {
        for (int c = 0; c < width; c++)
            (*out)[element * width + c] =
                component(p + (size_t)c * size, a.componentType, a.normalized);
    };
    if (a.bufferView >= 0) {
        int stride = (size_t)a.bufferView < m.bufferViews.size()
                         ? a.ByteStride(m.bufferViews[a.bufferView])
                         : 0;
        const unsigned char *p =
            stride <= 0 ? nullptr
                        : viewSpan(m, a.bufferView, a.byteOffset, stride, a.count, elementBytes);
        if (!p)
            return format("accessor %d reaches beyond its buffer", index);
        for (size_t e = 0; e < a.count; e++)
            fill(e, p + e * stride);
    }
    if (!a.sparse.isSparse)
        return "";
    int indexSize = tinygltf::GetComponentSizeInBytes(a.sparse.indices.componentType);
    size_t count = a.sparse.count < 0 ? 0 : (size_t)a.sparse.count;
    const unsigned char *at =
        indexSize <= 0 ? nullptr
                       : viewSpan(m, a.sparse.indices.bufferView, a.sparse.indices.byteOffset,
                                  indexSize, count, indexSize);
    const unsigned char *values =
        viewSpan(m, a.sparse.values.bufferView, a.sparse.values.byteOffset, elementBytes, count,
                 elementBytes);
    if (!at || !values)
        return format("accessor %d: its sparse data reach beyond their buffer", index);
    for (size_t i = 0; i < count; i++) {
        double e = component(at + i * indexSize, a.sparse.indices.componentType, false);
        if (!(e >= 0 && e < a.count))
            return format("accessor %d: a sparse index beyond its %zu elements", index, a.count);
        fill((size_t)e, values + i * elementBytes);
    }
    return "";
}

// readComponents, refusing a value that is not a finite number: no scale
// holds it, and the fitted scale would search for one in vain.
static std::string readAccessor(const GltfModel &m, int index, int type, std::vector<double> *out)
{
    std::string why = readComponents(m, index, type, out);
    if (why.empty() &&
        !std::all_of(out->begin(), out->end(), [](double x) { return std::isfinite(x); }))
        why = format("accessor %d holds a value that is not a finite number", index);
    return why;
}

static std::string readFloats(const GltfModel &m, int index, int type, size_t vertices,
                              std::vector<float> *out)
{
    std::vector<double> values;
    std::string why = readAccessor(m, index, type, &values);
    if (why.empty() && m.accessors[index].count != vertices)
        why = format("accessor %d has %zu elements for %zu vertices", index,
                     m.accessors[index].count, vertices);
    out->assign(values.begin(), values.end());
    return why;
}

// The triangles of a primitive: its indices, or its vertices taken three at
// a time when it has none.
static std::string readTriangles(const GltfModel &m, const tinygltf::Primitive &p, size_t vertices,
                                 std::vector<uint32_t> *out)
{
    std::vector<double> values;
    if (p.indices < 0) {
        for (size_t i = 0; i < vertices; i++)
            values.push_back((double)i);
    } else {
        std::string why = readAccessor(m, p.indices, TINYGLTF_TYPE_SCALAR, &values);
        if (!why.empty())
            return why;
        if (m.accessors[p.indices].componentType == TINYGLTF_COMPONENT_TYPE_FLOAT)
            return "its indices are not integers";
    }
    if (values.size() % 3)
        return format("%zu indices do not make triangles", values.size());
    for (double i : values)
        if (!(i >= 0 && i < vertices))
            return format("index %.0f beyond its %zu vertices", i, vertices);
    out->assign(values.begin(), values.end());
    return "";
}

static int attribute(const std::map<std::string, int> &attributes, const char *name)
{
    auto it = attributes.find(name);
    return it == attributes.end() ? -1 : it->second;
}

// One primitive as an object, or "" and what is wrong with it.
static std::string readPrimitive(const GltfModel &m, const tinygltf::Primitive &p, GltfObject *ob)
{
    if (p.mode != TINYGLTF_MODE_TRIANGLES && p.mode != TINYGLTF_MODE_POINTS)
        return format("mode %d: only triangles and points can be read", p.mode);
    int position = attribute(p.attributes, "POSITION");
    if (position < 0)
        return "no POSITION";
    std::vector<double> values;
    std::string why = readAccessor(m, position, TINYGLTF_TYPE_VEC3, &values);
    if (!why.empty())
        return why;
    size_t n = m.accessors[position].count;
    ob->position.assign(values.begin(), values.end());
    int normal = attribute(p.attributes, "NORMAL"), uv = attribute(p.attributes, "TEXCOORD_0");
    int corner = attribute(p.attributes, "_KGX_CORNER");
    if (normal >= 0 && !(why = readFloats(m, normal, TINYGLTF_TYPE_VEC3, n, &ob->normal)).empty())
        return "NORMAL: " + why;
    if (uv >= 0 && !(why = readFloats(m, uv, TINYGLTF_TYPE_VEC2, n, &ob->texcoord)).empty())
        return "TEXCOORD_0: " + why;
    if (corner >= 0) {
        std::vector<float> numbers;
        if (!(why = readFloats(m, corner, TINYGLTF_TYPE_VEC2, n, &numbers)).empty() ||
            m.accessors[corner].componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT)
            return "_KGX_CORNER: " + (why.empty() ? "not unsigned 16-bit numbers" : why);
        ob->corner.assign(numbers.begin(), numbers.end());
    }
    if (p.mode == TINYGLTF_MODE_TRIANGLES &&
        !(why = readTriangles(m, p, n, &ob->triangles)).empty())
        return why;
    for (size_t t = 0; t < p.targets.size(); t++) {
        GltfOffsets offsets;
        int moves = attribute(p.targets[t], "POSITION"), turns = attribute(p.targets[t], "NORMAL");
        if (moves < 0)
            offsets.position.assign(3 * n, 0.0f);
        else if (!(why = readFloats(m, moves, TINYGLTF_TYPE_VEC3, n, &offsets.position)).empty())
            return format("morph target %zu: POSITION: ", t) + why;
        if (turns >= 0 &&
            !(why = readFloats(m, turns, TINYGLTF_TYPE_VEC3, n, &offsets.normal)).empty())
            return format("morph target %zu: NORMAL: ", t) + why;
        ob->targets.push_back(offsets);
    }
    return "";
}

// The target names a mesh gives in extras.targetNames, when it gives one
// string per target.
static std::vector<std::string> targetNames(const tinygltf::Mesh &mesh, size_t targets)
{
    const tinygltf::Value &names = mesh.extras.Get("targetNames");
    std::vector<std::string> out;
    for (size_t t = 0; names.IsArray() && t < names.ArrayLen() && names.ArrayLen() == targets; t++)
        out.push_back(names.Get((int)t).IsString() ? names.Get((int)t).Get<std::string>() : "");
    out.resize(targets);
    return out;
}

// Every primitive of every mesh, in order.  The targets are those of the
// first primitive that has any, named by its mesh; a primitive without
// targets stays still in each, one with another number of them is refused.
// Returns "" or what is wrong.
static std::string assetFromModel(const GltfModel &m, GltfAsset &asset)
{
    asset = GltfAsset();
    size_t targets = 0;
    for (const tinygltf::Mesh &mesh : m.meshes)
        for (const tinygltf::Primitive &p : mesh.primitives)
            if (!targets && !p.targets.empty()) {
                targets = p.targets.size();
                asset.targetNames = targetNames(mesh, targets);
            }
    for (size_t mi = 0; mi < m.meshes.size(); mi++) {
        const tinygltf::Mesh &mesh = m.meshes[mi];
        asset.name = asset.objects.empty() ? mesh.name : asset.name;
        for (size_t pi = 0; pi < mesh.primitives.size(); pi++) {
            const tinygltf::Primitive &p = mesh.primitives[pi];
            std::string where = format("mesh %zu primitive %zu: ", mi, pi);
            if (!p.targets.empty() && p.targets.size() != targets)
                return where + format("%zu morph targets, another primitive has %zu",
                                      p.targets.size(), targets);
            GltfObject &ob = asset.objects.emplace_back();
            ob.name = mesh.name.empty() ? format("mesh %zu", mi) : mesh.name;
            std::string why = readPrimitive(m, p, &ob);
            if (!why.empty())
                return where + why;
            ob.targets.resize(targets, {std::vector<float>(ob.position.size(), 0.0f), {}});
        }
    }
    return asset.objects.empty() ? "no mesh to read" : "";
}

// tinygltf's report, several lines at times, as one line.
static std::string oneLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    for (size_t at; (at = text.find('\n')) != std::string::npos;)
        text.replace(at, 1, "; ");
    return text.empty() ? "not a glTF asset" : text;
}

// Accepts every image without decoding it.
static bool skipImage(tinygltf::Image *, const int, std::string *, std::string *, int, int,
                      const unsigned char *, int, void *)
{
    return true;
}

Problem gltfDecode(const Input &in, GltfAsset &asset)
{
    const std::vector<unsigned char> &bytes = in.bytes;
    auto refuse = [&](const std::string &what) {
        return problemIn(KELO_BAD_IMPORT, in.name, what);
    };
    const size_t GLB_HEADER = 12, GLB_LENGTH_AT = 8;
    bool glb = bytes.size() >= 4 && memcmp(bytes.data(), "glTF", 4) == 0;
    if (glb && bytes.size() < GLB_HEADER)
        return refuse(format("truncated GLB: %zu bytes, less than its header", bytes.size()));
    if (glb && loadLE32(&bytes[GLB_LENGTH_AT]) > bytes.size())
        return refuse(format("truncated GLB: %zu bytes, its header gives %lu", bytes.size(),
                             (unsigned long)loadLE32(&bytes[GLB_LENGTH_AT])));
    auto first =
        std::find_if(bytes.begin(), bytes.end(), [](unsigned char c) { return !isspace(c); });
    if (!glb && (first == bytes.end() || *first != '{'))
        return refuse("not a glTF file: neither binary glTF nor JSON");

    size_t slash = in.name.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : in.name.substr(0, slash + 1);
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(skipImage, nullptr);
    GltfModel m;
    std::string err, warn;
    bool ok = glb ? loader.LoadBinaryFromMemory(&m, &err, &warn, bytes.data(),
                                                (unsigned int)bytes.size(), dir)
                  : loader.LoadASCIIFromString(&m, &err, &warn, (const char *)bytes.data(),
                                               (unsigned int)bytes.size(), dir);
    if (!ok)
        return refuse(oneLine(err));
    std::string why = assetFromModel(m, asset);
    return why.empty() ? Problem{} : refuse(why);
}
