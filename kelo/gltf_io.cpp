// gltf_io.cpp -- glTF assets through tinygltf: encoded as one buffer, one
// mesh, one node and one scene; and loaded behind kelo's own checks, which
// tinygltf does not make (the GLB's chunks, the JSON's depth and integers)
// and kelo's own file access (buffer files inside the asset's folder only)
#include "gltf.h"

// The system's headers come first: tinygltf includes its JSON library with
// hidden visibility, which would hide the declarations that library pulls in.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// tinygltf's implementation is compiled here and nowhere else.  Images are
// never decoded: kelo reads and writes geometry only.
#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

#include <algorithm>
#include <cerrno>
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
        if (!ob.material.empty()) {
            p.material = (int)model.materials.size();
            model.materials.emplace_back().name = ob.material;
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

/* ---- Loading ---- */

namespace {

// The deepest nesting of JSON arrays and objects an asset may have.  kelo's
// own assets nest 6 deep; tinygltf copies extras recursively, so that a
// deeper nesting could exhaust the stack.
constexpr size_t JSON_DEPTH_MAX = 32;

// The part of the asset's JSON a value stands in, as far as kelo reads it.
enum class Part : uint8_t {
    OTHER,
    ROOT,
    ACCESSORS,
    ACCESSOR,
    SPARSE,
    SPARSE_PART,
    VIEWS,
    VIEW,
    BUFFERS,
    BUFFER,
    MESHES,
    MESH,
    PRIMITIVES,
    PRIMITIVE,
    ATTRIBUTES,
    TARGETS,
    NODES,
    NODE,
    CHILDREN,
    NUMBERS,  // a node's matrix, translation, rotation or scale
    SCENES,
    SCENE,
    SCENE_NODES,
};

// The parts inside others: member `key` of an object, or (key null) any
// element of an array.
struct Inside {
    Part parent;
    const char *key;
    Part part;
};
constexpr Inside INSIDE[] = {
    {Part::ROOT, "accessors", Part::ACCESSORS},   {Part::ACCESSORS, nullptr, Part::ACCESSOR},
    {Part::ACCESSOR, "sparse", Part::SPARSE},     {Part::SPARSE, "indices", Part::SPARSE_PART},
    {Part::SPARSE, "values", Part::SPARSE_PART},  {Part::ROOT, "bufferViews", Part::VIEWS},
    {Part::VIEWS, nullptr, Part::VIEW},           {Part::ROOT, "buffers", Part::BUFFERS},
    {Part::BUFFERS, nullptr, Part::BUFFER},       {Part::ROOT, "meshes", Part::MESHES},
    {Part::MESHES, nullptr, Part::MESH},          {Part::MESH, "primitives", Part::PRIMITIVES},
    {Part::PRIMITIVES, nullptr, Part::PRIMITIVE}, {Part::PRIMITIVE, "attributes", Part::ATTRIBUTES},
    {Part::PRIMITIVE, "targets", Part::TARGETS},  {Part::TARGETS, nullptr, Part::ATTRIBUTES},
    {Part::ROOT, "nodes", Part::NODES},           {Part::NODES, nullptr, Part::NODE},
    {Part::NODE, "children", Part::CHILDREN},     {Part::NODE, "matrix", Part::NUMBERS},
    {Part::NODE, "translation", Part::NUMBERS},   {Part::NODE, "rotation", Part::NUMBERS},
    {Part::NODE, "scale", Part::NUMBERS},         {Part::ROOT, "scenes", Part::SCENES},
    {Part::SCENES, nullptr, Part::SCENE},         {Part::SCENE, "nodes", Part::SCENE_NODES},
};

// The integers kelo reads, which tinygltf keeps in an int (wrapping 2^32 to
// 0) or drops when they are negative or not integers: each must be a JSON
// integer from `least` to 2^31 - 1, so that none wraps and the sum or
// product of two stays far inside 64 bits.  A null key: every member or
// element.
struct Integer {
    Part part;
    const char *key;
    int least;
};
constexpr Integer INTEGERS[] = {
    {Part::ACCESSOR, "bufferView", 0},
    {Part::ACCESSOR, "byteOffset", 0},
    {Part::ACCESSOR, "count", 1},
    {Part::ACCESSOR, "componentType", 0},
    {Part::SPARSE, "count", 1},
    {Part::SPARSE_PART, "bufferView", 0},
    {Part::SPARSE_PART, "byteOffset", 0},
    {Part::SPARSE_PART, "componentType", 0},
    {Part::VIEW, "buffer", 0},
    {Part::VIEW, "byteOffset", 0},
    {Part::VIEW, "byteLength", 1},
    {Part::VIEW, "byteStride", 0},
    {Part::BUFFER, "byteLength", 1},
    {Part::PRIMITIVE, "indices", 0},
    {Part::PRIMITIVE, "material", 0},
    {Part::PRIMITIVE, "mode", 0},
    {Part::ATTRIBUTES, nullptr, 0},
    {Part::ROOT, "scene", 0},
    {Part::NODE, "mesh", 0},
    {Part::CHILDREN, nullptr, 0},
    {Part::SCENE_NODES, nullptr, 0},
};

// The parts that tinygltf drops without a word when they are not arrays
// (or, for numbers, hold anything but numbers), which would leave a node
// unplaced or without its children.
constexpr Part ARRAYS[] = {Part::CHILDREN, Part::NUMBERS, Part::SCENE_NODES};

// A buffer as the JSON declares it.
struct DeclaredBuffer {
    std::string uri;  // as written, "" when it has none
    uint64_t length = 0;
};

// Reads the asset's JSON once before tinygltf does, as events, holding
// one key per level of nesting and the buffers' URIs: refuses a nesting
// deeper than JSON_DEPTH_MAX and an integer kelo reads that is not one, and
// notes the buffers.
class JsonCheck {
public:
    std::string wrong;  // what is wrong, "" while nothing is
    std::vector<DeclaredBuffer> buffers;

    bool null() { return value(nullptr, false); }
    bool boolean(bool) { return value(nullptr, false); }
    bool number_integer(int64_t v) { return value(&v, true); }
    bool number_unsigned(uint64_t v)
    {
        int64_t w = v > INT64_MAX ? INT64_MAX : (int64_t)v;
        return value(&w, true);
    }
    bool number_float(double, const std::string &) { return value(nullptr, true); }
    bool string(std::string &s)
    {
        if (levels.size() && levels.back().part == Part::BUFFER && levels.back().key == "uri")
            buffers.back().uri = s;
        return value(nullptr, false);
    }
    bool binary(nlohmann::json::binary_t &) { return value(nullptr, false); }
    bool start_object(size_t) { return open(false); }
    bool start_array(size_t) { return open(true); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(std::string &k)
    {
        levels.back().key = k;
        return true;
    }
    bool parse_error(size_t at, const std::string &, const nlohmann::detail::exception &)
    {
        wrong = format("not valid JSON (at byte %zu)", at);
        return false;
    }

private:
    struct Level {
        Part part;
        bool array;
        std::string key;      // an object's member being read
        size_t elements = 0;  // an array's elements so far
    };
    std::vector<Level> levels;

    // Counts an element of an array; the rule of an integer kelo reads for
    // the value that begins here, or null.
    const Integer *begin()
    {
        if (levels.empty())
            return nullptr;
        Level &l = levels.back();
        l.elements += l.array;
        for (const Integer &rule : INTEGERS)
            if (rule.part == l.part && (!rule.key || (!l.array && l.key == rule.key)))
                return &rule;
        return nullptr;
    }

    // The part the value that begins here stands in.
    Part partHere() const
    {
        Part part = levels.empty() ? Part::ROOT : Part::OTHER;
        for (const Inside &in : INSIDE)
            if (!levels.empty() && in.parent == levels.back().part &&
                (levels.back().array ? !in.key : in.key && levels.back().key == in.key))
                part = in.part;
        return part;
    }

    // Checks the value that begins here: a number, an array or neither
    // (an object, a string, ...).
    bool value(const int64_t *integer, bool number, bool array = false)
    {
        bool mustBeArray = std::ranges::count(ARRAYS, partHere()) > 0;
        const Integer *rule = begin();
        if (rule && (!integer || *integer < rule->least || *integer > INT32_MAX)) {
            wrong = format("%s must be an integer from %d to %d", path().c_str(), rule->least,
                           INT32_MAX);
            return false;
        }
        bool inNumbers = !levels.empty() && levels.back().part == Part::NUMBERS;
        if ((mustBeArray && !array) || (inNumbers && !number)) {
            wrong = path() + (inNumbers ? " must be a number" : " must be an array");
            return false;
        }
        if (rule && rule->part == Part::BUFFER)
            buffers.back().length = (uint64_t)*integer;
        return true;
    }

    bool open(bool array)
    {
        Part part = partHere();
        if (!value(nullptr, false, array))
            return false;
        if (levels.size() == JSON_DEPTH_MAX) {
            wrong = format("nested deeper than %zu levels", JSON_DEPTH_MAX);
            return false;
        }
        if (part == Part::BUFFER)
            buffers.emplace_back();
        levels.push_back({part, array, "", 0});
        return true;
    }

    bool close()
    {
        levels.pop_back();
        return true;
    }

    // Where the value being read stands: "accessors[3].sparse.count".
    std::string path() const
    {
        std::string p;
        for (const Level &l : levels) {
            if (l.array)
                p += format("[%zu]", l.elements - 1);
            else
                p.append(p.empty() ? "" : ".").append(messageText(l.key));
        }
        return p;
    }
};

// The buffer files of one asset, as tinygltf asks for them.
struct BufferFiles {
    std::string asset, folder;                 // the asset's name, and its folder
    std::map<std::string, uint64_t> declared;  // bytes to read, by percent-decoded URI
    uint64_t read = 0;                         // bytes read from them
    Problem problem;                           // why the last one could not be read
};

// A descriptor closed when it goes out of scope.
struct Descriptor {
    int fd;
    explicit Descriptor(int d) : fd(d) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
};

}  // namespace

// The components of a URI path inside the folder, "." dropped and ".."
// taken back; false when it is absolute, holds a null byte or leaves the
// folder.
static bool insideFolder(const std::string &uri, std::vector<std::string> &parts)
{
    if (uri.empty() || uri[0] == '/' || uri.find('\0') != std::string::npos)
        return false;
    for (size_t at = 0, end; at <= uri.size(); at = end + 1) {
        end = std::min(uri.find('/', at), uri.size());
        std::string part = uri.substr(at, end - at);
        if (part == "..") {
            if (parts.empty())
                return false;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    return true;
}

// Reads the first `length` bytes of the regular file that uri names inside
// the folder, never following a symbolic link and never opening anything
// but a regular file, whose size is checked first.
static Problem readBufferFile(const BufferFiles &files, const std::string &uri, uint64_t length,
                              std::vector<unsigned char> &out)
{
    auto refuse = [&](const std::string &what) {
        return problemIn(KELO_BAD_IMPORT, files.asset,
                         format("buffer file \"%s\" ", messageText(uri).c_str()) + what);
    };
    std::vector<std::string> parts;
    if (!insideFolder(uri, parts))
        return refuse("lies outside the asset's folder");
    if (parts.empty())
        return refuse("is not a regular file");
    Descriptor dir(open(files.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    for (size_t i = 0; dir.fd >= 0 && i < parts.size(); i++) {
        bool last = i + 1 == parts.size();
        if (fstatat(dir.fd, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return refuse("is not in the asset's folder");
        if (S_ISLNK(st.st_mode))
            return refuse("passes through a symbolic link, which kelo does not follow");
        if (last ? !S_ISREG(st.st_mode) : !S_ISDIR(st.st_mode))
            return refuse(last ? "is not a regular file" : "is not in the asset's folder");
        int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (last ? 0 : O_DIRECTORY);
        Descriptor next(openat(dir.fd, parts[i].c_str(), flags));
        std::swap(dir.fd, next.fd);
    }
    // The file opened is checked again: it may have changed since.
    if (dir.fd < 0 || fstat(dir.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return refuse(format("cannot be opened: %s", strerror(errno)));
    if ((uint64_t)st.st_size < length)
        return refuse(format("holds %llu bytes, its buffer declares %llu",
                             (unsigned long long)st.st_size, (unsigned long long)length));
    noteInput(st, format("%s's buffer file \"%s\"", files.asset.c_str(), messageText(uri).c_str()));
    out.resize(length);
    for (size_t got = 0; got < length;) {
        ssize_t n = pread(dir.fd, out.data() + got, length - got, (off_t)got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return refuse(n < 0 ? format("cannot be read: %s", strerror(errno))
                                : std::string("ended while it was read"));
        got += (size_t)n;
    }
    return {};
}

// tinygltf's file system: every file exists, so that it asks for each
// buffer file once, by its percent-decoded URI (the base folder it is given
// is empty), and reading it is kelo's business.
static bool anyFile(const std::string &, void *) { return true; }
static std::string sameName(const std::string &name, void *) { return name; }
static bool readFile(std::vector<unsigned char> *out, std::string *, const std::string &uri,
                     void *files)
{
    BufferFiles &f = *(BufferFiles *)files;
    auto declared = f.declared.find(uri);
    f.problem = readBufferFile(f, uri, declared == f.declared.end() ? 0 : declared->second, *out);
    f.read += f.problem ? 0 : out->size();
    return !f.problem;
}
static bool writeNoFile(std::string *, const std::string &, const std::vector<unsigned char> &,
                        void *)
{
    return false;
}

// Accepts every image without decoding it.
static bool skipImage(tinygltf::Image *, const int, std::string *, std::string *, int, int,
                      const unsigned char *, int, void *)
{
    return true;
}

// How much of tinygltf's report a message shows.
constexpr size_t REPORT_MAX = 200;

// tinygltf's report, several lines at times, as one short line.
static std::string oneLine(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.remove_suffix(1);
    std::string line;
    for (char c : text.substr(0, 2 * REPORT_MAX))
        line += c == '\n' ? std::string_view("; ") : std::string_view(&c, 1);
    return text.empty() ? "not a glTF asset" : messageText(line, REPORT_MAX);
}

// Where a GLB's header gives its version and its length.
constexpr size_t GLB_VERSION_AT = 4, GLB_LENGTH_AT = 8;

// The GLB's JSON chunk, its chunks checked to lie inside the length its
// header gives (tinygltf lets the binary chunk run 8 bytes past it).
static std::string glbLayout(const std::vector<unsigned char> &bytes, std::string_view &text)
{
    const uint64_t HEADER = 12, CHUNK_HEAD = 8;
    if (bytes.size() < HEADER)
        return format("truncated GLB: %zu bytes, less than its header", bytes.size());
    if (uint32_t version = loadLE32(&bytes[GLB_VERSION_AT]); version != 2)
        return format("binary glTF version %lu; kelo reads version 2", (unsigned long)version);
    uint64_t length = loadLE32(&bytes[GLB_LENGTH_AT]);
    if (length > bytes.size())
        return format("truncated GLB: %zu bytes, its header gives %llu", bytes.size(),
                      (unsigned long long)length);
    uint64_t jsonEnd = length < HEADER + CHUNK_HEAD
                           ? UINT64_MAX
                           : HEADER + CHUNK_HEAD + loadLE32(&bytes[HEADER]),
             rest = jsonEnd <= length ? length - jsonEnd : 0;
    if (jsonEnd > length ||
        (rest > 0 && (rest < CHUNK_HEAD || loadLE32(&bytes[jsonEnd]) > rest - CHUNK_HEAD)))
        return format("its chunks do not fit the %llu bytes its header gives",
                      (unsigned long long)length);
    text =
        std::string_view((const char *)&bytes[HEADER + CHUNK_HEAD], jsonEnd - HEADER - CHUNK_HEAD);
    return "";
}

// A version "MAJOR.MINOR" as a pair, each part held at most 1000 so that
// no count of digits can wrap it; false when s is not of that form.
static bool versionParse(const std::string &s, std::pair<uint32_t, uint32_t> &v)
{
    size_t dot = s.find('.');
    auto digits = [&](size_t from, size_t to, uint32_t &n) {
        n = 0;
        for (size_t i = from; i < to; i++) {
            if (s[i] < '0' || s[i] > '9')
                return false;
            n = std::min<uint32_t>(n * 10 + (uint32_t)(s[i] - '0'), 1000);
        }
        return to > from;
    };
    return dot != std::string::npos && digits(0, dot, v.first) &&
           digits(dot + 1, s.size(), v.second);
}

// glTF 2 of any minor version, that needs nothing newer than 2.0 to be read.
static std::string versionProblem(const tinygltf::Asset &asset)
{
    std::pair<uint32_t, uint32_t> v, least;
    if (!versionParse(asset.version, v) || v.first != 2)
        return format("asset.version \"%s\": kelo reads glTF 2",
                      messageText(asset.version).c_str());
    if (!asset.minVersion.empty() &&
        (!versionParse(asset.minVersion, least) || least > std::pair<uint32_t, uint32_t>{2, 0}))
        return format("asset.minVersion \"%s\": kelo reads glTF 2.0",
                      messageText(asset.minVersion).c_str());
    return "";
}

// Required extensions that kelo reads: quantized attributes are read as
// integers of any component type are.
static bool readsExtension(const std::string &name) { return name == "KHR_mesh_quantization"; }

Problem gltfLoad(const Input &in, tinygltf::Model &m, uint64_t &bytesRead)
{
    const std::vector<unsigned char> &bytes = in.bytes;
    auto refuse = [&](const std::string &what) {
        return problemIn(KELO_BAD_IMPORT, in.name, what);
    };
    bool glb = bytes.size() >= 4 && memcmp(bytes.data(), "glTF", 4) == 0;
    std::string_view text((const char *)bytes.data(), bytes.size());
    size_t first = text.find_first_not_of(" \t\n\r\f\v");
    if (glb) {
        if (std::string why = glbLayout(bytes, text); !why.empty())
            return refuse(why);
    } else if (first == std::string_view::npos || text[first] != '{') {
        return refuse("not a glTF file: neither binary glTF nor JSON");
    }
    JsonCheck check;
    nlohmann::json::sax_parse(text.begin(), text.end(), &check);
    if (!check.wrong.empty())
        return refuse(check.wrong);
    // tinygltf gives a GLB's binary chunk to every buffer without a URI,
    // where glTF lets only the first one stand for it.
    for (size_t i = 1; glb && i < check.buffers.size(); i++)
        if (check.buffers[i].uri.empty())
            return refuse(format("buffers[%zu] has no uri: only the first buffer of a GLB is "
                                 "its binary chunk",
                                 i));

    size_t slash = in.name.find_last_of('/');
    BufferFiles files;
    files.asset = in.name;
    files.folder = slash == std::string::npos ? "." : in.name.substr(0, slash + 1);
    for (const DeclaredBuffer &b : check.buffers)
        if (!b.uri.empty() && !tinygltf::IsDataURI(b.uri)) {
            uint64_t &length = files.declared[tinygltf::dlib::urldecode(b.uri)];
            length = std::max(length, b.length);
        }
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(skipImage, nullptr);
    loader.SetFsCallbacks({anyFile, sameName, readFile, writeNoFile, &files});
    std::string err, warn;
    bool ok;
    // tinygltf reports some faults of an asset only by throwing; running out
    // of memory stays what it is.
    try {
        ok = glb ? loader.LoadBinaryFromMemory(&m, &err, &warn, bytes.data(),
                                               loadLE32(&bytes[GLB_LENGTH_AT]), "")
                 : loader.LoadASCIIFromString(&m, &err, &warn, text.data(),
                                              (unsigned int)text.size(), "");
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const std::length_error &) {
        throw;
    } catch (const std::exception &e) {
        return refuse("tinygltf failed: " + messageText(e.what(), REPORT_MAX));
    }
    if (files.problem)
        return files.problem;
    if (!ok || !err.empty())
        return refuse(oneLine(err));
    if (std::string why = versionProblem(m.asset); !why.empty())
        return refuse(why);
    for (const std::string &name : m.extensionsRequired)
        if (!readsExtension(name))
            return refuse(format("requires the extension \"%s\", which kelo does not read",
                                 messageText(name).c_str()));
    bytesRead = bytes.size() + files.read;
    return {};
}
