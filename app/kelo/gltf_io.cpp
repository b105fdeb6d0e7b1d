// gltf_io.cpp -- glTF 2.0 assets with morph targets: writing and reading
// them through tinygltf, and mapping them to and from KGX object arrays
#include "gltf_io.h"

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
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

using tinygltf::Accessor;
using tinygltf::Model;

// printf into a std::string, for problem texts.
static std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
static std::string format(const char *fmt, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    return text;
}

/* ---- Writing ---- */

namespace {

// The model being written: one buffer, one view per run of bytes.
struct Writer {
    Model model;

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
        *type = wide ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
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
            int type, v = integers(ob.triangles, n > 65535, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER, &type);
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

// What makes the asset unwritable, or "": array sizes that do not agree,
// an object without vertices (glTF has no empty accessor), a vertex number
// out of range.
static std::string assetFault(const GltfAsset &asset)
{
    if (asset.objects.empty())
        return "no objects to write";
    for (size_t k = 0; k < asset.objects.size(); k++) {
        const GltfObject &ob = asset.objects[k];
        size_t n = ob.position.size() / 3;
        bool sizes = n > 0 && ob.position.size() == 3 * n && ob.triangles.size() % 3 == 0 &&
                     (ob.normal.empty() || ob.normal.size() == 3 * n) &&
                     (ob.texcoord.empty() || ob.texcoord.size() == 2 * n) &&
                     (ob.corner.empty() || ob.corner.size() == 2 * n) &&
                     ob.targets.size() == asset.targetNames.size();
        for (const GltfOffsets &t : ob.targets)
            sizes = sizes && t.position.size() == 3 * n && (t.normal.empty() || t.normal.size() == 3 * n);
        if (!sizes)
            return format("object %zu: arrays of sizes that do not agree", k);
        for (uint32_t i : ob.triangles)
            if (i >= n)
                return format("object %zu: vertex %lu out of range", k, (unsigned long)i);
    }
    return "";
}

static bool endsWith(const std::string &s, const char *tail)
{
    size_t n = strlen(tail);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, tail) == 0;
}

GltfProblem gltfWrite(const GltfAsset &asset, const std::string &path)
{
    bool binary = endsWith(path, ".glb");
    if (!binary && !endsWith(path, ".gltf"))
        return {path, "the name must end in .glb or .gltf"};
    std::string fault = assetFault(asset);
    if (!fault.empty())
        return {path, fault};

    Writer w;
    tinygltf::Mesh mesh;
    mesh.name = asset.name;
    for (const GltfObject &ob : asset.objects)
        mesh.primitives.push_back(w.primitive(ob));
    mesh.weights.assign(asset.targetNames.size(), 0.0);
    if (!asset.targetNames.empty()) {
        tinygltf::Value::Array names;
        for (const std::string &name : asset.targetNames)
            names.emplace_back(name);
        tinygltf::Value::Object extras;
        extras["targetNames"] = tinygltf::Value(names);
        mesh.extras = tinygltf::Value(extras);
    }
    w.model.meshes.push_back(mesh);
    tinygltf::Node node;
    node.name = asset.name;
    node.mesh = 0;
    w.model.nodes.push_back(node);
    tinygltf::Scene scene;
    scene.nodes.push_back(0);
    w.model.scenes.push_back(scene);
    w.model.defaultScene = 0;
    w.model.asset.version = "2.0";
    w.model.asset.generator = "kelo";

    std::ostringstream bytes;
    tinygltf::TinyGLTF gltf;
    if (!gltf.WriteGltfSceneToStream(&w.model, bytes, !binary, binary))
        return {path, "the asset could not be encoded"};
    const std::string &text = bytes.str();
    FILE *fp = fopen(path.c_str(), "wb");
    if (!fp)
        return {path, format("cannot create: %s", strerror(errno))};
    bool written = fwrite(text.data(), 1, text.size(), fp) == text.size();
    if (fclose(fp) != 0 || !written) {
        int why = errno;
        remove(path.c_str());
        return {path, format("write failed: %s", strerror(why))};
    }
    return {};
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
static const unsigned char *viewSpan(const Model &m, int view, size_t offset, size_t stride,
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
static std::string readAccessor(const Model &m, int index, int type, std::vector<double> *out)
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
            (*out)[element * width + c] = component(p + (size_t)c * size, a.componentType, a.normalized);
    };
    if (a.bufferView >= 0) {
        int stride = (size_t)a.bufferView < m.bufferViews.size() ? a.ByteStride(m.bufferViews[a.bufferView]) : 0;
        const unsigned char *p = stride <= 0 ? nullptr
                                             : viewSpan(m, a.bufferView, a.byteOffset, stride,
                                                        a.count, elementBytes);
        if (!p)
            return format("accessor %d reaches beyond its buffer", index);
        for (size_t e = 0; e < a.count; e++)
            fill(e, p + e * stride);
    }
    if (!a.sparse.isSparse)
        return "";
    int indexSize = tinygltf::GetComponentSizeInBytes(a.sparse.indices.componentType);
    size_t count = a.sparse.count < 0 ? 0 : (size_t)a.sparse.count;
    const unsigned char *at = indexSize <= 0 ? nullptr
                                             : viewSpan(m, a.sparse.indices.bufferView,
                                                        a.sparse.indices.byteOffset, indexSize,
                                                        count, indexSize);
    const unsigned char *values = viewSpan(m, a.sparse.values.bufferView,
                                           a.sparse.values.byteOffset, elementBytes, count,
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

static std::string readFloats(const Model &m, int index, int type, size_t vertices,
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
static std::string readTriangles(const Model &m, const tinygltf::Primitive &p, size_t vertices,
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
static std::string readPrimitive(const Model &m, const tinygltf::Primitive &p, GltfObject *ob)
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
    if (p.mode == TINYGLTF_MODE_TRIANGLES && !(why = readTriangles(m, p, n, &ob->triangles)).empty())
        return why;
    for (size_t t = 0; t < p.targets.size(); t++) {
        GltfOffsets offsets;
        int moves = attribute(p.targets[t], "POSITION"), turns = attribute(p.targets[t], "NORMAL");
        if (moves < 0)
            offsets.position.assign(3 * n, 0.0f);
        else if (!(why = readFloats(m, moves, TINYGLTF_TYPE_VEC3, n, &offsets.position)).empty())
            return format("morph target %zu: POSITION: ", t) + why;
        if (turns >= 0 && !(why = readFloats(m, turns, TINYGLTF_TYPE_VEC3, n, &offsets.normal)).empty())
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

static GltfProblem assetFromModel(const std::string &path, const Model &m, GltfAsset *asset)
{
    *asset = GltfAsset();
    for (size_t mi = 0; mi < m.meshes.size(); mi++) {
        const tinygltf::Mesh &mesh = m.meshes[mi];
        for (size_t pi = 0; pi < mesh.primitives.size(); pi++) {
            const tinygltf::Primitive &p = mesh.primitives[pi];
            std::string where = format("mesh %zu primitive %zu: ", mi, pi);
            if (asset->objects.empty()) {
                asset->name = mesh.name;
                asset->targetNames = targetNames(mesh, p.targets.size());
            } else if (p.targets.size() != asset->targetNames.size()) {
                return {path, where + format("%zu morph targets, the first primitive has %zu",
                                             p.targets.size(), asset->targetNames.size())};
            }
            asset->objects.emplace_back();
            std::string why = readPrimitive(m, p, &asset->objects.back());
            if (!why.empty())
                return {path, where + why};
        }
    }
    if (asset->objects.empty())
        return {path, "no mesh to read"};
    return {};
}

static GltfProblem loadBytes(const std::string &path, std::vector<unsigned char> *bytes)
{
    FILE *fp = fopen(path.c_str(), "rb");
    if (!fp)
        return {path, format("cannot open: %s", strerror(errno))};
    unsigned char block[65536];
    size_t got;
    while ((got = fread(block, 1, sizeof block, fp)) > 0)
        bytes->insert(bytes->end(), block, block + got);
    int failed = ferror(fp) ? errno : 0;
    fclose(fp);
    if (failed)
        return {path, format("read failed: %s", strerror(failed))};
    if (bytes->size() > UINT32_MAX)
        return {path, "larger than 4 GiB"};
    return {};
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

GltfProblem gltfRead(const std::string &path, GltfAsset *asset)
{
    std::vector<unsigned char> bytes;
    if (GltfProblem p = loadBytes(path, &bytes))
        return p;
    const size_t GLB_HEADER = 12, GLB_LENGTH_AT = 8;
    bool glb = bytes.size() >= 4 && memcmp(bytes.data(), "glTF", 4) == 0;
    if (glb && bytes.size() < GLB_HEADER)
        return {path, format("truncated GLB: %zu bytes, less than its header", bytes.size())};
    if (glb && loadLE32(&bytes[GLB_LENGTH_AT]) > bytes.size())
        return {path, format("truncated GLB: %zu bytes, its header gives %lu", bytes.size(),
                             (unsigned long)loadLE32(&bytes[GLB_LENGTH_AT]))};
    auto first = std::find_if(bytes.begin(), bytes.end(), [](unsigned char c) { return !isspace(c); });
    if (!glb && (first == bytes.end() || *first != '{'))
        return {path, "not a glTF file: neither binary glTF nor JSON"};

    size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(skipImage, nullptr);
    Model m;
    std::string err, warn;
    bool ok = glb ? loader.LoadBinaryFromMemory(&m, &err, &warn, bytes.data(),
                                                (unsigned int)bytes.size(), dir)
                  : loader.LoadASCIIFromString(&m, &err, &warn, (const char *)bytes.data(),
                                               (unsigned int)bytes.size(), dir);
    if (!ok)
        return {path, oneLine(err)};
    return assetFromModel(path, m, asset);
}

/* ---- From KGX ---- */

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

// Packet word w of the primitive whose packet starts at byte `at`; bytes
// beyond the packets read as 0, as the model builder writes them.
static uint32_t packetWord(const KgxObjectArrays &ob, size_t at, uint32_t w)
{
    unsigned char word[4] = {0, 0, 0, 0};
    size_t first = at + 4 * (size_t)w;
    for (size_t i = 0; i < 4 && first + i < ob.packets.size(); i++)
        word[i] = ob.packets[first + i];
    return loadLE32(word);
}

// The corners of object ob's primitives as triangles, three corners each,
// fanned from each primitive's first corner.  Returns "" or what is wrong.
static std::string triangleCorners(const KgxObjectArrays &ob, std::vector<Corner> *out)
{
    size_t nVert = ob.vert.size() / ELEMENT_VALUES, nNorm = ob.norm.size() / ELEMENT_VALUES;
    size_t at = 0;
    for (size_t j = 0; j < ob.primHeaders.size(); j++) {
        uint32_t header = ob.primHeaders[j], words = primPacketWords(header);
        uint32_t mode = primMode(header), n = mode & MODE_FOUR_CORNERS ? 4 : 3;
        if (words < n)
            return format("primitive %zu: a packet of %lu words for %lu corners", j,
                          (unsigned long)words, (unsigned long)n);
        Corner c[4];
        for (uint32_t i = 0; i < n; i++) {
            uint32_t word = packetWord(ob, at, i);
            c[i].vertex = cornerIndex(word);
            c[i].normal = words >= 2 * n ? cornerIndex(packetWord(ob, at, n + i)) : c[i].vertex;
            c[i].textured = mode & MODE_TEXTURED;
            c[i].u = c[i].textured ? cornerU(word) : 0;
            c[i].v = c[i].textured ? cornerV(word) : 0;
            if (c[i].vertex >= nVert)
                return format("primitive %zu: vertex %lu out of range", j, (unsigned long)c[i].vertex);
            if (nNorm && c[i].normal >= nNorm)
                return format("primitive %zu: normal %lu out of range", j, (unsigned long)c[i].normal);
        }
        out->insert(out->end(), {c[0], c[1], c[2]});
        if (n == 4)
            out->insert(out->end(), {c[0], c[2], c[3]});
        at += PRIM_HEAD * (size_t)words;
    }
    return "";
}

constexpr double NORMAL_ONE = 4096;  // the length of a unit normal in a KGX model

// A KGX normal as a unit vector: value / 4096 when that is of unit length
// within NORMAL_SLACK (so that import gets the same integers back), else
// scaled to unit length; +z for a zero normal, which has no direction.
static void unitNormal(const int16_t *n, float *out)
{
    double len = std::sqrt((double)n[0] * n[0] + (double)n[1] * n[1] + (double)n[2] * n[2]);
    double div = std::fabs(len / NORMAL_ONE - 1) <= NORMAL_SLACK ? NORMAL_ONE : len;
    for (int a = 0; a < 3; a++)
        out[a] = len == 0 ? (a == 2) : (float)(n[a] / div);
}

// Turns each triangle whose corners' normals point against its winding, so
// that its front, counter-clockwise in glTF, faces where its normals point.
static void orientTriangles(const KgxObjectArrays &ob, std::vector<Corner> *corners)
{
    if (ob.norm.empty())
        return;
    for (size_t j = 0; j + 2 < corners->size(); j += 3) {
        const Corner *c = &(*corners)[j];
        double e[2][3], facing = 0;
        for (int a = 0; a < 3; a++)
            for (int i = 0; i < 2; i++)
                e[i][a] = (double)ob.vert[ELEMENT_VALUES * c[i + 1].vertex + a] - ob.vert[ELEMENT_VALUES * c[0].vertex + a];
        for (int a = 0; a < 3; a++) {
            double cross = e[0][(a + 1) % 3] * e[1][(a + 2) % 3] - e[0][(a + 2) % 3] * e[1][(a + 1) % 3];
            for (int i = 0; i < 3; i++)
                facing += cross * ob.norm[ELEMENT_VALUES * c[i].normal + a];
        }
        if (facing < 0)
            std::swap((*corners)[j + 1], (*corners)[j + 2]);
    }
}

// The glTF vertices of one object: one per distinct corner, then one for
// each vertex and each normal that no corner uses.
static std::vector<Corner> objectVertices(const KgxObjectArrays &ob, std::vector<Corner> &corners,
                                          std::vector<uint32_t> *triangles)
{
    size_t nVert = ob.vert.size() / ELEMENT_VALUES, nNorm = ob.norm.size() / ELEMENT_VALUES;
    std::map<uint64_t, uint32_t> number;
    std::vector<Corner> vertices;
    std::vector<bool> vertUsed(nVert), normUsed(nNorm);
    auto vertexOf = [&](const Corner &c) {
        auto [it, added] = number.emplace(c.key(), (uint32_t)vertices.size());
        if (added)
            vertices.push_back(c);
        vertUsed[c.vertex] = true;
        if (c.normal < nNorm)
            normUsed[c.normal] = true;
        return it->second;
    };
    for (const Corner &c : corners)
        triangles->push_back(vertexOf(c));
    for (uint32_t v = 0; v < nVert; v++)
        if (!vertUsed[v])
            vertexOf({v, v < nNorm ? v : 0, false, 0, 0});
    for (uint32_t k = 0; k < nNorm && nVert; k++)
        if (!normUsed[k])
            vertexOf({k < nVert ? k : 0, k, false, 0, 0});
    return vertices;
}

static double stepsOf(const KgxObjectArrays &ob, double stepsPerMetre)
{
    if (stepsPerMetre > 0)
        return stepsPerMetre;
    return ob.scale ? ob.scale / (double)SCALE_WORD_ONE : 1.0;
}

GltfProblem gltfFromKgx(const std::string &file, const std::vector<KgxObjectArrays> &base,
                        const std::vector<KgxVariant> &variants, double stepsPerMetre,
                        bool normalTargets, GltfAsset *asset)
{
    *asset = GltfAsset();
    for (const KgxVariant &var : variants)
        asset->targetNames.push_back(var.name);
    for (size_t k = 0; k < base.size(); k++) {
        const KgxObjectArrays &ob = base[k];
        std::vector<Corner> corners;
        std::string why = triangleCorners(ob, &corners);
        if (!why.empty())
            return {file, format("object %zu ", k) + why};
        if (ob.vert.size() < ELEMENT_VALUES)
            return {file, format("object %zu has no vertices, which glTF cannot hold", k)};
        orientTriangles(ob, &corners);
        GltfObject g;
        std::vector<Corner> vertices = objectVertices(ob, corners, &g.triangles);
        bool normals = ob.norm.size() >= ELEMENT_VALUES;
        bool textured = std::any_of(corners.begin(), corners.end(), [](const Corner &c) { return c.textured; });
        double steps = stepsOf(ob, stepsPerMetre);
        for (const Corner &c : vertices) {
            for (int a = 0; a < 3; a++)
                g.position.push_back((float)(ob.vert[ELEMENT_VALUES * c.vertex + a] / steps));
            if (normals) {
                float n[3];
                unitNormal(&ob.norm[ELEMENT_VALUES * (size_t)c.normal], n);
                g.normal.insert(g.normal.end(), n, n + 3);
            }
            if (textured)
                g.texcoord.insert(g.texcoord.end(), {c.u / 255.0f, 1 - c.v / 255.0f});
            g.corner.insert(g.corner.end(), {(uint16_t)c.vertex, (uint16_t)c.normal});
        }
        for (const KgxVariant &var : variants) {
            const KgxObjectArrays *vo = k < var.objects.size() ? &var.objects[k] : nullptr;
            if (!vo || vo->vert.size() != ob.vert.size() || (normalTargets && vo->norm.size() != ob.norm.size()))
                return {file, format("variant \"%s\" object %zu does not match the base", var.name.c_str(), k)};
            GltfOffsets t;
            for (size_t i = 0; i < vertices.size(); i++) {
                size_t v = ELEMENT_VALUES * (size_t)vertices[i].vertex, n = ELEMENT_VALUES * (size_t)vertices[i].normal;
                for (int a = 0; a < 3; a++)
                    t.position.push_back((float)((vo->vert[v + a] - ob.vert[v + a]) / steps));
                for (int a = 0; a < 3 && normalTargets && normals; a++)
                    t.normal.push_back((float)(vo->norm[n + a] / NORMAL_ONE - g.normal[3 * i + a]));
            }
            g.targets.push_back(t);
        }
        asset->objects.push_back(g);
    }
    return {};
}

/* ---- To KGX ---- */

// Coordinate a of vertex i, with target t's offset added (t < 0: the base).
static double coordinate(const std::vector<float> &base, const GltfObject &g, size_t i, int a, int t,
                         bool normal)
{
    const std::vector<float> *offsets =
        t < 0 ? nullptr : normal ? &g.targets[t].normal : &g.targets[t].position;
    return (double)base[3 * i + a] + (offsets && !offsets->empty() ? (double)(*offsets)[3 * i + a] : 0.0);
}

// x in steps of the scale, or INT32_MIN when it falls outside 16 bits.
static int32_t quantise(double x, double steps)
{
    double q = std::round(x * steps);
    return q >= -32768.0 && q <= 32767.0 ? (int32_t)q : INT32_MIN;
}

static int16_t normalValue(double x)
{
    double q = std::round(x * NORMAL_ONE);
    return std::isnan(q) ? 0 : (int16_t)std::clamp(q, -32768.0, 32767.0);
}

// A texture coordinate as a byte: 0..1 maps to 0..255, and a coordinate
// outside 0..1 tiles (its fractional part is mapped).
static uint8_t texByte(double t)
{
    if (!(t >= 0 && t <= 1))
        t -= std::floor(t);
    return std::isfinite(t) ? (uint8_t)std::round(t * 255.0) : 0;
}

static void appendBits(std::vector<uint32_t> *key, const std::vector<float> &values, size_t i)
{
    for (size_t a = 0; !values.empty() && a < 3; a++)
        key->push_back(std::bit_cast<uint32_t>(values[3 * i + a]));
}

// Gives each glTF vertex the number of its class (equal keys, one class).
// With keyOrder the classes are numbered in the order of their keys, which
// begin with the KGX numbers of _KGX_CORNER; otherwise in order of first
// appearance.  Returns one representative vertex per class.
static std::vector<size_t> classes(const std::vector<std::vector<uint32_t>> &keys, bool keyOrder,
                                   std::vector<uint32_t> *number)
{
    std::map<std::vector<uint32_t>, uint32_t> ids;
    for (const std::vector<uint32_t> &key : keys)
        ids.emplace(key, (uint32_t)ids.size());
    uint32_t rank = 0;
    for (auto &entry : ids)
        entry.second = keyOrder ? rank++ : entry.second;
    std::vector<size_t> representative(ids.size(), SIZE_MAX);
    for (size_t i = 0; i < keys.size(); i++) {
        number->push_back(ids[keys[i]]);
        representative[number->back()] = std::min(representative[number->back()], i);
    }
    return representative;
}

// The flat normal of triangle j of the base (t < 0) or of target t.
static void flatNormal(const GltfObject &g, size_t j, int t, int16_t *out)
{
    double p[3][3];
    for (int c = 0; c < 3; c++)
        for (int a = 0; a < 3; a++)
            p[c][a] = coordinate(g.position, g, g.triangles[3 * j + c], a, t, false);
    double e[2][3], n[3];
    for (int a = 0; a < 3; a++) {
        e[0][a] = p[1][a] - p[0][a];
        e[1][a] = p[2][a] - p[0][a];
    }
    for (int a = 0; a < 3; a++)
        n[a] = e[0][(a + 1) % 3] * e[1][(a + 2) % 3] - e[0][(a + 2) % 3] * e[1][(a + 1) % 3];
    double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int a = 0; a < 3; a++)
        out[a] = len > 0 ? normalValue(n[a] / len) : 0;
    out[3] = 0;
}

// The vertex and normal arrays of one object, of the base (t < 0) or of
// target t.  Returns "" or the coordinate that does not fit.
static std::string objectValues(const GltfObject &g, int t, double steps,
                                const std::vector<size_t> &vertexOf,
                                const std::vector<size_t> &normalOf, KgxObjectArrays *ob)
{
    ob->vert.clear();
    ob->norm.clear();
    for (size_t i : vertexOf) {
        for (int a = 0; a < 3; a++) {
            double x = coordinate(g.position, g, i, a, t, false);
            int32_t q = quantise(x, steps);
            if (q == INT32_MIN)
                return format("vertex %zu%s: coordinate %g does not fit scale %g", i,
                              t < 0 ? "" : format(" in morph target %d", t).c_str(), x, steps);
            ob->vert.push_back((int16_t)q);
        }
        ob->vert.push_back(0);
    }
    int16_t n[4] = {0, 0, 0, 0};
    for (size_t i : normalOf) {
        for (int a = 0; a < 3; a++)
            n[a] = normalValue(coordinate(g.normal, g, i, a, t, true));
        ob->norm.insert(ob->norm.end(), n, n + 4);
    }
    for (size_t j = 0; g.normal.empty() && j < g.triangles.size() / 3; j++) {
        flatNormal(g, j, t, n);
        ob->norm.insert(ob->norm.end(), n, n + 4);
    }
    return "";
}

GltfProblem gltfToKgx(const std::string &file, const GltfAsset &asset,
                      const std::vector<uint32_t> &scales, KgxImport *out)
{
    *out = KgxImport();
    out->variants.resize(asset.targetNames.size());
    for (size_t k = 0; k < asset.objects.size(); k++) {
        const GltfObject &g = asset.objects[k];
        size_t n = g.position.size() / 3;
        bool carried = !g.corner.empty();
        std::vector<std::vector<uint32_t>> vertKeys(n), normKeys(n);
        for (size_t i = 0; i < n; i++) {
            vertKeys[i].push_back(carried ? g.corner[2 * i] : 0);
            normKeys[i].push_back(carried ? g.corner[2 * i + 1] : 0);
            appendBits(&vertKeys[i], g.position, i);
            appendBits(&normKeys[i], g.normal, i);
            for (const GltfOffsets &t : g.targets) {
                appendBits(&vertKeys[i], t.position, i);
                appendBits(&normKeys[i], t.normal, i);
            }
        }
        std::vector<uint32_t> vertNumber, normNumber;
        std::vector<size_t> vertexOf = classes(vertKeys, carried, &vertNumber);
        std::vector<size_t> normalOf;
        if (!g.normal.empty())
            normalOf = classes(normKeys, carried, &normNumber);
        size_t normals = g.normal.empty() ? g.triangles.size() / 3 : normalOf.size();
        if (vertexOf.size() > CORNER_INDEX_MAX || normals > CORNER_INDEX_MAX)
            return {file, format("object %zu: %zu vertices and %zu normals (an object holds at most %lu of each)",
                                 k, vertexOf.size(), normals, (unsigned long)CORNER_INDEX_MAX)};

        uint32_t word = scales.empty() ? SCALE_WORD_ONE : scales[std::min(k, scales.size() - 1)];
        double steps = (word ? word : SCALE_WORD_ONE) / (double)SCALE_WORD_ONE;
        KgxObjectArrays ob;
        ob.scale = word;
        for (size_t j = 0; j < g.triangles.size() / 3; j++) {
            bool textured = !g.texcoord.empty();
            ob.primHeaders.push_back(primHeader(textured ? MODE_TEXTURED : 0, 6));
            uint32_t words[6];
            for (int c = 0; c < 3; c++) {
                size_t i = g.triangles[3 * j + c];
                words[c] = textured ? cornerWord(vertNumber[i], texByte(g.texcoord[2 * i]),
                                                 texByte(1 - (double)g.texcoord[2 * i + 1]))
                                    : cornerWord(vertNumber[i]);
                words[3 + c] = cornerWord(g.normal.empty() ? (uint32_t)j : normNumber[i]);
            }
            for (uint32_t w : words) {
                ob.packets.resize(ob.packets.size() + 4);
                storeLE32(&ob.packets[ob.packets.size() - 4], w);
            }
        }
        for (int t = -1; t < (int)asset.targetNames.size(); t++) {
            KgxObjectArrays &into = t < 0 ? ob : out->variants[t].emplace_back(ob);
            std::string why = objectValues(g, t, steps, vertexOf, normalOf, &into);
            if (!why.empty())
                return {file, format("object %zu ", k) + why};
        }
        out->base.push_back(std::move(ob));
    }
    return {};
}

uint32_t gltfFitScale(const GltfAsset &asset)
{
    double most = 0;
    for (const GltfObject &g : asset.objects)
        for (size_t i = 0; i < g.position.size() / 3; i++)
            for (int t = -1; t < (int)g.targets.size(); t++)
                for (int a = 0; a < 3; a++)
                    most = std::max(most, std::fabs(coordinate(g.position, g, i, a, t, false)));
    if (most == 0)
        return SCALE_WORD_ONE;
    // |x| x word / 65536 <= 32767 then holds for every coordinate x.
    double word = std::floor(32767.0 * SCALE_WORD_ONE / most);
    return word >= (double)UINT32_MAX ? UINT32_MAX : (uint32_t)word;
}
