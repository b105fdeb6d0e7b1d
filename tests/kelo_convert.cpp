// kelo_convert.cpp -- kelo import and export with OBJ files and glTF assets:
// back through keyblend and kelo apply, round trips, the meshes OBJ texts
// make, assets checked by the Khronos validator and by three.js in headless
// Chromium, and bad inputs refused with the file, the reason and the code
#include "gltf.h"
#include "kit/test.h"
#include "obj.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

using namespace kit;

namespace {

const fs::path HERE = fs::path(__FILE__).parent_path();

Result kelo(const fs::path &dir, const std::string &args) { return sh(dir, KELO + " " + args); }

// Runs the command lines in dir in turn; false, with the failure reported,
// at the first that does not end with 0.
bool ran(const fs::path &dir, std::initializer_list<std::string> lines)
{
    for (const std::string &line : lines)
        if (Result r = sh(dir, line); r.code != 0) {
            ADD_FAILURE() << line << ": exit " << r.code << "\n" << r.err;
            return false;
        }
    return true;
}

// The cube of examples/obj, its +x face at x, its texture shifted by du
// (wrapping at 1).
std::string cube(const char *x, double du)
{
    return format("o cube\nv -1 -1 -1\nv %s -1 -1\nv %s 1 -1\nv -1 1 -1\nv -1 -1 1\nv %s -1 1\n"
                  "v %s 1 1\nv -1 1 1\nvt %g 0\nvt %g 0\nvt %g 1\nvt %g 1\n",
                  x, x, x, x, du, 1 + du, 1 + du, du) +
           "f 1/1 4/2 3/3 2/4\nf 5/1 6/2 7/3 8/4\nf 1/1 2/2 6/3 5/4\n"
           "f 2/1 3/2 7/3 6/4\nf 3/1 4/2 8/3 7/4\nf 4/1 1/2 5/3 8/4\n";
}

// The mesh of an OBJ text at scale 1 (or the problem), one line per object:
// its group, vertex values, normal values, primitive headers and packet words.
std::string mesh(const std::string &text, bool single = false)
{
    ObjText t;
    Mesh m;
    if (Problem p = objParse(text, "t.obj", single, t); p || (p = meshBuild(t, {SCALE_ONE}, m)))
        return problemMessage(p);
    std::string s;
    auto add = [&s](const char *fmt, const auto &values, const char *end) {
        for (auto x : values)
            s += format(fmt, x);
        s += end;
    };
    for (const MeshObject &o : m.obj)
        s += o.group + ":", add(" %d", o.vert, " |"), add(" %d", o.norm, " |"),
            add(" %x", o.head, " |"), add(" %x", o.packet, "\n");
    return s;
}

// A textured quad in kelo's layout with a normal per corner pair; a
// triangle with an unused vertex and an unused normal; points without normals; scale word 1000
// steps per metre.  Variant 0 lifts a corner of the triangle (a sparse
// target), 1 swells everything and turns the quad's normals, 2 is the base.
std::string model(int variant)
{
    Obj quad{{{-1000, -1000, 0, 0}, {1000, -1000, 0, 0}, {1000, 1000, 0, 0}, {-1000, 1000, 0, 0}},
             {{0, 0, 4096, 0}, {0, 2896, 2896, 0}},
             {prim(MODE_TEXTURED | MODE_FOUR_CORNERS,
                   le32({cornerWord(0, 7, 250), cornerWord(1, 47, 200), cornerWord(2, 87, 150),
                         cornerWord(3, 127, 100), 0, 0, 1, 1}))}},
        tri{{{0, 0, 0, 0}, {900, 0, 0, 0}, {0, 900, 0, 0}, {5, 5, 5, 0}},
            {{0, 0, 4096, 0}, {4096, 0, 100, 0}},
            {prim(0, le32({0, 1, 2, 0, 0, 0}))}},
        points{{{-3000, 3000, 0, 0}, {-2993, 2989, 500, 0}, {-2986, 2978, 1000, 0}}};
    for (Obj *o : {&quad, &tri, &points}) {
        o->scale = 1000 * SCALE_ONE;
        for (Elem &e : o->verts)
            for (int a = 0; a < 3 && variant == 1; a++)
                e[a] = int16_t(e[a] + e[a] / 5 + 3);
    }
    tri.verts[2][2] += variant == 0 ? 700 : 0;
    quad.norms[1][1] -= variant == 1 ? 1200 : 0;
    return bytes({{quad, tri, points}});
}

// s with the first `from` made `to`.
std::string replaced(std::string s, const std::string &from, const std::string &to)
{
    return s.replace(s.find(from), from.size(), to);
}

// 65,535 vertices, the first three the corners of two triangles that differ
// in their texture: 65,538 glTF vertices, the last (the last vertex, which
// the variant moves) numbered 65,537, past 16 bits.
std::string wide(int16_t lift)
{
    Obj o{std::vector<Elem>(65535, {1, 2, 3, 0}), {}, {}, 1000 * SCALE_ONE};
    o.verts[1][0] = o.verts[2][1] = 9, o.verts.back()[2] += lift;
    for (uint8_t u : {0, 1})
        o.prims.push_back(
            prim(MODE_TEXTURED, le32({cornerWord(0, u), cornerWord(1, u), cornerWord(2, u)})));
    return bytes({{o}});
}

// An asset of one primitive: n vertices at (i, 2i, 3i) in the buffer b.bin
// (of BIG; no buffer and zeros without uri), targets named t0, t1, ... (or
// names, a JSON list) whose POSITION has m elements; more meshes after it,
// and its nodes (with what follows them).
constexpr int BIG = 65538;
struct Asset {
    int n = 6, m = 6, targets = 1;
    std::string attributes = "\"POSITION\":0", uri = "b.bin", names = "", more = "",
                nodes = R"([{"mesh":0}])";

    std::string json() const
    {
        std::string list, given = names;
        for (int t = 0; t < targets; t++) {
            list += format("%s{\"POSITION\":1}", t ? "," : "");
            given += names.empty() ? format("%s\"t%d\"", t ? "," : "", t) : "";
        }
        std::string view = uri.empty() ? "" : R"("bufferView":0,)";
        std::string accessor = "{" + view + R"("componentType":5126,"count":%d,"type":"VEC3"})";
        return format(R"({"asset":{"version":"2.0"},)") +
               (uri.empty() ? ""
                            : format(R"("buffers":[{"uri":"%s","byteLength":%d}],)"
                                     R"("bufferViews":[{"buffer":0,"byteLength":%d}],)",
                                     uri.c_str(), 12 * BIG, 12 * BIG)) +
               R"("accessors":[)" + format(accessor.c_str(), n) + "," +
               format(accessor.c_str(), m) +
               format(R"(],"meshes":[{"primitives":[{"attributes":{%s},"targets":[%s]}],)"
                      R"("extras":{"targetNames":[%s]}}%s],"nodes":%s})",
                      attributes.c_str(), list.c_str(), given.c_str(), more.c_str(), nodes.c_str());
    }
};

// Binary glTF of a JSON chunk and a binary chunk of bin bytes whose header
// says binLength.
std::string glb(std::string json, uint32_t binLength, const std::string &bin)
{
    json.resize((json.size() + 3) / 4 * 4, ' ');
    return "glTF" + le32({2, (uint32_t)(28 + json.size() + bin.size())}) +
           le32({(uint32_t)json.size(), 0x4E4F534A}) + json + le32({binLength, 0x004E4942}) + bin;
}

}  // namespace

// Import with --like, keyblend, kelo apply: each applied variant is the
// variant's own import byte for byte.  Export then import at the same scale
// gives the model back byte for byte: groups, quads, fans, untextured faces,
// partial and computed normals, a shifted texture.
TEST(KeloObj, PipelineAndRoundTrip)
{
    Scratch dir;
    spit(dir / "base.obj", cube("1", 0));
    spit(dir / "pushed.obj", cube("1.5", 0));
    spit(dir / "shifted.obj", cube("1", 0.1));
    spit(dir / "poly.obj",
         "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv -0.5 0.5 0.25\nvt 0 0\nvt 0.3 0.7\nvt 1 1\n"
         "vn 0 0 1\nvn 0.6 0 0.8\ng left\nf 1/1/1 2/2/1 3/3/2\nf 1 3 4\ng right side\n"
         "f 1//2 2//1 3//2 4//1 5//2\nf -1/-1 -2/-2 -3/-3 -4/-1\n");
    const std::string import = KELO + " import ", scale = " --scale 123.25 -o ";
    ASSERT_TRUE(ran(dir.dir, {import + "base.obj" + scale + "base.kgx",
                              import + "poly.obj" + scale + "poly.kgx",
                              import + "pushed.obj --like base.kgx -o pushed.kgx",
                              import + "shifted.obj --like base.kgx -o shifted.kgx",
                              KEYBLEND + " -n -t -o d base.kgx pushed.kgx shifted.kgx"}));
    const std::string apply = " apply base.kgx --vdf d.vdf --ndf d.ndf --tdf d.tdf -o a.kgx";
    for (auto [k, v] : {std::pair{0, "pushed"}, {1, "shifted"}}) {
        ASSERT_TRUE(ran(dir.dir, {KELO + apply + format(" --variant %d", k)}));
        EXPECT_EQ(slurp(dir / "a.kgx"), slurp(dir / (std::string(v) + ".kgx"))) << v;
    }
    for (std::string m : {"poly", "shifted"}) {
        ASSERT_TRUE(ran(dir.dir, {KELO + " export " + m + ".kgx -o b.obj",
                                  import + "b.obj" + scale + "b.kgx"}));
        EXPECT_EQ(slurp(dir / "b.kgx"), slurp(dir / (m + ".kgx"))) << m;
    }
}

// The meshes OBJ texts make.  Every corner form, with texture bytes that
// tile outside 0..1; corners without a normal index get their vertex's
// normal, computed after the file's from every face around it weighted by
// its area; a vn of length 2 is normalised; vertices and normals are
// numbered per object in file order, only those a face uses.
// One object per group in order of first appearance, a repeated name joins
// its object, empty groups vanish, faces before any group are "default";
// shared vertices are copied into each object; a pentagon is a fan.  A
// byte-order mark before the first line is skipped.
TEST(KeloObj, Meshes)
{
    const std::string sq =
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0.5 1\nvn 0 0 1\nvn 0 0 -2\n";
    const std::string groups = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv -1 1 0\n"
                               "f 1 2 3\ng a\nf 1 3 4\no empty\ng b\nf 1 2 3 4 5\ng a\nf 2 3 4\n";
    const std::string rows[][2] = {
        {sq + "vt 1.25 -0.75\nvt 2 1e300\nf 1/4 2/5 3/4",
         "| 4000600 | 40400000 1 40400002 0 1 2\n"},
        {sq + "f 4/3/1 3/2/1 2/1/1 1/1/2", "| c000800 | 80ff0003 ff000002 1 0 0 0 0 1\n"},
        {"v 9 9 9\nv 0 0 0\nv 2 0 0\nv 0 2 0\nv 0 0 2\nvn 0 0 -2\nf 2//1 3//1 4//1\nf 2 5 3",
         "default: 0 0 0 0 2 0 0 0 0 2 0 0 0 0 2 0 | 0 0 -4096 0 0 2896 2896 0 0 2896 2896 0 0 "
         "4096 0 0 | 600 600 | 0 1 2 0 0 0 0 3 1 1 3 2\n"},
        {"\xEF\xBB\xBF" + groups,
         "default: 0 0 0 0 1 0 0 0 1 1 0 0 | 0 0 4096 0 0 0 4096 0 0 0 4096 0 | 600 | 0 1 2 0 1 2\n"
         "a: 0 0 0 0 1 0 0 0 1 1 0 0 0 1 0 0 | 0 0 4096 0 0 0 4096 0 0 0 4096 0 0 0 4096 0 | 600 "
         "600 | 0 2 3 0 2 3 1 2 3 1 2 3\n"
         "b: 0 0 0 0 1 0 0 0 1 1 0 0 0 1 0 0 -1 1 0 0 | 0 0 4096 0 0 0 4096 0 0 0 4096 0 0 0 4096 "
         "0 0 0 4096 0 | 600 600 600 | 0 1 2 0 1 2 0 2 3 0 2 3 0 3 4 0 3 4\n"},
    };
    for (const auto &[text, part] : rows)
        EXPECT_NE(mesh(text + "\n").find(part), std::string::npos) << text << "\n"
                                                                   << mesh(text + "\n");
    EXPECT_NE(mesh(groups, true).find("| 600 600 600 600 600 600 |"), std::string::npos);
}

// Export reads each primitive's corners by one rule: word c the vertex and
// texture bytes, word n + c the normal, words past 2n ignored; a shorter
// packet names no normals (each corner's is the one numbered like its
// vertex), and corners have none in an object without normals.  Fewer words
// than corners and indices outside the object are refused at the header.
TEST(KeloObj, ExportReadsCorners)
{
    const std::vector<Elem> four = {{0, 0, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}, {1, 1, 0, 0}};
    const std::string at = "kelo: t.kgx: offset 104: object 0 primitive 0: ";
    struct {
        uint32_t mode;
        std::vector<uint32_t> packet;
        bool normals;
        std::string want;  // the face, or the problem
    } rows[] = {
        {0, {0, 1, 2, 3, 2, 1, 0}, true, "f 1//4 2//3 3//2\n"},
        {MODE_FOUR_CORNERS, {3, 2, 1, 0, 1}, true, "f 4//4 3//3 2//2 1//1\n"},
        {0, {0, 1, 2, 9, 9, 9}, false, "f 1 2 3\n"},
        {0, {0, 1}, true, at + "its packet has fewer words than corners\n"},
        {0, {0, 1, 4}, true, at + "a vertex index is out of range\n"},
        {0, {0, 1, 2, 0, 4, 0}, true, at + "a normal index is out of range\n"},
    };
    for (const auto &row : rows) {
        const std::string image = bytes({{Obj{
            four, row.normals ? four : std::vector<Elem>{}, {prim(row.mode, le32(row.packet))}}}});
        ::Model m;
        m.name = "t.kgx", m.image.assign(image.begin(), image.end());
        std::string text;
        ASSERT_FALSE(modelParse(m));
        Problem p = objExport(m, text);
        EXPECT_EQ(p ? problemMessage(p) : text.substr(text.rfind("f ")), row.want);
    }
}

// Texts that are no positive number, or whose scale word falls outside
// 16.16, are no scale (how scales print: the fitted rows of the import table).
TEST(KeloObj, Scales)
{
    uint32_t scale;
    for (const char *bad : {"0", "-1", "abc", "", "1e-9", "nan", "inf", "70000"})
        EXPECT_FALSE(scaleParse(bad, scale)) << bad;
}

// The generated model, the wide one and the examples, their differences
// from keyblend, and each exported at its objects' scales, the examples'
// targets named.  Import --like the model, with --variants, writes the
// model itself, one model per target and an argument file naming them (the
// base, which begins with '-', as ./-back.kgx); keyblend on it writes the
// Kelo files export started from, byte for byte (quads, one-word packets, a
// normal no corner uses).  Without --like the vertices come back too, a
// normal within a step.  The
// validator finds no error or warning in any asset; three.js at weight 1 of
// variant 1 shows every vertex where kelo apply puts it.
TEST(KeloGltf, RoundTripValidatorAndBrowser)
{
    Scratch dir;
    for (int v = -1; v < 3; v++)
        spit(dir / (v < 0 ? "base.kgx" : format("v%d.kgx", v)), model(v));
    spit(dir / "wide.kgx", wide(0)), spit(dir / "lifted.kgx", wide(5));
    const std::string ex = (HERE.parent_path() / "examples/").string();
    ASSERT_TRUE(ran(
        dir.dir,
        {KEYBLEND + " -n -o model base.kgx v0.kgx v1.kgx v2.kgx",
         KEYBLEND + " -n wide.kgx lifted.kgx",
         KEYBLEND + " -n -o examples " + ex + "base.kgx " + ex + "moved.kgx " + ex + "normals.kgx",
         KELO + " export wide.kgx --vdf wide.vdf --ndf wide.ndf -o wide.glb",
         KELO + " export base.kgx --vdf model.vdf --ndf model.ndf -o model.glb",
         KELO + " export " + ex + "base.kgx --vdf examples.vdf --ndf examples.ndf " +
             "--names up,turned -o examples.gltf"}));
    for (auto [asset, base] : {std::pair<std::string, std::string>{"model.glb", "base.kgx"},
                               {"examples.gltf", ex + "base.kgx"},
                               {"wide.glb", ""},
                               {"model.glb", ""}}) {
        std::string name = fs::path(asset).stem(),
                    like = base.empty() ? "--scale 1000" : "--like " + base;
        Result r = kelo(dir.dir, "import " + asset + " " + like + " -o -back.kgx --variants back");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(name != "examples" || r.out == "back_up.kgx\nback_turned.kgx\n") << r.out;
        ASSERT_EQ(sh(dir.dir, KEYBLEND + " -n -o back back.arg").code, 0) << r.out;
        EXPECT_EQ(slurp(dir / "back.vdf"), slurp(dir / (name + ".vdf"))) << like;
        if (base.empty())
            continue;
        EXPECT_EQ(slurp(dir / "back.ndf"), slurp(dir / (name + ".ndf"))) << like;
        EXPECT_EQ(slurp(dir / "-back.kgx"), slurp(dir / base)) << like;
    }
    // Exported at unit length, (4096, 0, 100) comes back as 4096 times that, rounded.
    ::Model back;
    ASSERT_FALSE(modelLoad((dir / "-back.kgx").string(), back));
    EXPECT_EQ(hex(std::string((const char *)&back.image[back.normalAt(1, 1)], 6)),
              "ff 0f 00 00 64 00");
    // Each object a material of its own, named as its OBJ group.  Variant 0 moves one vertex:
    // its offsets are sparse; variant 2 none: no data.
    const std::string glb = slurp(dir / "model.glb");
    const auto json = nlohmann::json::parse(glb.substr(20, word(glb, 12)));
    EXPECT_EQ(json["materials"][json["meshes"][0]["primitives"][2]["material"].get<int>()]["name"],
              "object2");
    const auto &accessors = json["accessors"];
    EXPECT_TRUE(std::ranges::any_of(accessors, [](auto &a) { return a.contains("sparse"); }));
    EXPECT_TRUE(std::ranges::any_of(
        accessors, [](auto &a) { return !a.contains("sparse") && !a.contains("bufferView"); }));

    const char *chromium = getenv("CHROMIUM");
    if (!fs::exists(HERE / "gltf/node_modules/.installed-lock") ||
        !fs::exists(chromium ? chromium : "/usr/bin/chromium") ||
        std::system("node --version >/dev/null 2>&1") != 0) {
        ASSERT_FALSE(getenv("CI")) << "node, its tools or chromium are missing: run scripts/setup";
        GTEST_SKIP() << "node, its tools or chromium are missing: run scripts/setup";
    }
    const std::string node = "/usr/bin/env node " + (HERE / "gltf/").string();
    Result r = sh(dir.dir, node + "validate.mjs model.glb examples.gltf wide.glb");
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    ASSERT_EQ(kelo(dir.dir, "apply base.kgx --variant 1 --vdf model.vdf -o v.kgx").code, 0);
    ::Model applied;
    ASSERT_FALSE(modelLoad((dir / "v.kgx").string(), applied));
    r = sh(dir.dir, node + "morph.mjs model.glb 1 at0.png at1.png");
    ASSERT_EQ(r.code, 0) << r.err;
    nlohmann::json seen = nlohmann::json::parse(r.out);
    ASSERT_EQ(seen.size(), applied.obj.size());
    for (uint32_t o = 0; o < applied.obj.size(); o++)
        for (size_t i = 0; i < seen[o]["vertex"].size(); i++)
            for (uint32_t a = 0; a < 3; a++)
                EXPECT_EQ(std::lround(seen[o]["position"][3 * i + a].get<double>() * 1000),
                          applied.value(applied.vertexAt(o, seen[o]["vertex"][i].get<uint32_t>()) +
                                        2 * a))
                    << "object " << o << " vertex " << i;
    EXPECT_NE(slurp(dir / "at0.png"), slurp(dir / "at1.png"));
}

// The asset as import holds it, one line per object: its name and material,
// positions, normals, triangles and, per target, the offsets of the vertices
// it moves and of the normals it turns, as VERTEX(x y z), rounded.
std::string placed(const std::string &json, const std::string &bin)
{
    GltfAsset a;
    std::string bytes = glb(json, (uint32_t)bin.size(), bin);
    if (Problem p = gltfDecode({"t.glb", {bytes.begin(), bytes.end()}}, a))
        return problemMessage(p);
    auto num = [](double x) { return format(" %g", std::round(x * 1e4) / 1e4 + 0.0); };
    auto list = [&](const auto &v, bool moves = false) {
        std::string s;
        for (size_t i = 0; i < v.size(); i += moves ? 3 : 1)
            if (!moves)
                s += num(v[i]);
            else if (v[i] != 0 || v[i + 1] != 0 || v[i + 2] != 0)
                s += format(" %zu(", i / 3) + num(v[i]).substr(1) + num(v[i + 1]) + num(v[i + 2]) +
                     ")";
        return s;
    };
    std::string s;
    for (const GltfObject &o : a.objects) {
        s += o.name + "/" + o.material + ":" + list(o.position) + " |" + list(o.normal) + " |" +
             list(o.triangles);
        for (size_t t = 0; t < o.targets.size(); t++)
            s += " | " + a.targetNames[t] + ":" + list(o.targets[t].position, true) +
                 list(o.targets[t].normal, true);
        s += "\n";
    }
    return s;
}

// Each node places its mesh: TRS (its rotation made unit) and matrices
// composed down the hierarchy, on positions; their linear part on position
// offsets; the inverse transpose on normals, made unit again, and on each
// target's turned normal, whose offset is the difference; a mirror turns
// triangles over.
// Objects in scene order: the asset's scene, or every node that is no
// node's child, depth first, a mesh held twice twice.  The targets of
// several meshes are matched by name, in order of first appearance.
TEST(KeloGltf, ScenePlacesMeshes)
{
    // One triangle, (1 0 0) (0 2 0) (0 0 3) facing +x +y +z; offsets that
    // move vertex 0 by (1 1 1) and turn its normal by (0 1 0); vertex 1 by (0 0 1).
    const std::vector<float> values = {1, 0, 0, 0, 2, 0, 0, 0, 3, 1, 0, 0, 0, 1, 0,
                                       0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0,
                                       0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    std::vector<uint32_t> words;
    std::string accessors;
    for (float v : values)
        words.push_back(std::bit_cast<uint32_t>(v));
    for (int k = 0; k < 5; k++)
        accessors += format(R"(%s{"bufferView":0,"byteOffset":%d,"componentType":5126,)"
                            R"("count":3,"type":"VEC3"})",
                            k ? "," : "", 36 * k);
    const std::string head =
        R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":180}],)"
        R"("bufferViews":[{"buffer":0,"byteLength":180}],"accessors":[)" +
        accessors +
        R"(],"materials":[{"name":"skin"}],"meshes":[{"name":"A","primitives":[{"attributes":)"
        R"({"POSITION":0,"NORMAL":1},"material":0,"targets":[{"POSITION":2,"NORMAL":3}]}],)"
        R"("extras":{"targetNames":["a"]}},{"name":"B","primitives":[{"attributes":)"
        R"({"POSITION":0,"NORMAL":1},"targets":[{"POSITION":4},{"POSITION":2,"NORMAL":3}]}],)"
        R"("extras":{"targetNames":["b","a"]}}],"nodes":)";
    const std::string still = " | 1 0 0 0 1 0 0 0 1 | 0 1 2";
    const std::string rows[][2] = {
        {R"([{"mesh":0,"translation":[10,0,0],"rotation":[0,0,1,1],)"
         R"("scale":[2,1,1]}]})",
         "A/skin: 10 2 0 8 0 0 10 0 3 | 0 1 0 -1 0 0 0 0 1 | 0 1 2 | a: 0(-1 2 1) "
         "0(-0.8944 -0.5528 0)\n"},
        {R"([{"matrix":[1,0,0,0,0,1,0,0,0,0,1,0,0,0,5,1],"children":[1]},)"
         R"({"mesh":0,"scale":[1,1,-1]}]})",
         "A/skin: 1 0 5 0 2 5 0 0 2 | 1 0 0 0 1 0 0 0 -1 | 0 2 1 | a: 0(1 1 -1) "
         "0(-0.2929 0.7071 0)\n"},
        {R"([{"mesh":1},{"mesh":0}]})",
         "B/: 1 0 0 0 2 0 0 0 3" + still +
             " | b: 1(0 0 1) | a: 0(1 1 1) 0(0 1 0)\nA/skin: 1 0 0 0 2 "
             "0 0 0 3" +
             still + " | b: | a: 0(1 1 1) 0(0 1 0)\n"},
        {R"([{"mesh":1},{"mesh":0,"translation":[1,0,0]},{"children":[3,1]},)"
         R"({"mesh":0,"translation":[2,0,0]},{"mesh":1}],"scene":1,"scenes":[{"nodes":[4]},)"
         R"({"nodes":[2,0]}]})",
         "A/skin: 3 0 0 2 2 0 2 0 3" + still +
             " | a: 0(1 1 1) 0(0 1 0) | b:\nA/skin: 2 0 0 1 2 0 1 0 3" + still +
             " | a: 0(1 1 1) 0(0 1 0) | b:\nB/: 1 0 0 0 2 0 0 0 3" + still +
             " | a: 0(1 1 1) 0(0 1 0) | b: 1(0 0 1)\n"},
    };
    for (const auto &[nodes, want] : rows)
        EXPECT_EQ(placed(head + nodes, le32(words)), want) << nodes;
}

// Each bad input is refused with the exact message and code, and leaves the
// directory as it was: no model, no variant, no temporary.  Rows of code 0
// are the edges of what is taken.
TEST(KeloImport, RefusesBadInputs)
{
    Scratch dir;
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n", c = cube("1", 0);
    spit(dir / "base.obj", c);
    ASSERT_EQ(kelo(dir.dir, "import base.obj --scale 100 -o base.kgx").code, 0);
    auto swap = [&c](const char *from, const char *to) { return replaced(c, from, to); };
    const std::string a0 = Asset().json(), view0 = R"("bufferView":0,"c)";
    // Sparse indices from b.bin: 2 bytes of 0 (or at offset, 16256 as 16 bits)
    auto sparse = [](const std::string &offset, int n = 6) {
        return replaced(Asset{.n = n, .m = n}.json(), R"("type":"VEC3"}],)",
                        R"("type":"VEC3","sparse":{"count":2,"indices":{"bufferView":0,)" + offset +
                            R"("componentType":)" + (n == 6 ? "5121" : "5123") +
                            R"(},"values":{"bufferView":0}}}],)");
    };
    // The view 2 bytes into b.bin, both accessors `offset` into it.
    auto shifted = [&](const std::string &offset) {
        std::string s =
            replaced(a0, "0,\"byteLength\":786456", "0,\"byteOffset\":2,\"byteLength\":786448");
        return replaced(replaced(s, view0, "\"bufferView\":0," + offset + "\"c"), view0,
                        "\"bufferView\":0," + offset + "\"c");
    };
    struct Row {
        std::string file, text, args;
        int code;
        std::string err, out{};  // out: the variant files import prints
    };
    // Refusals with the default options: the message after "t.gltf: " and after "t.obj".
    auto gltf = [](const std::string &text, const std::string &why) {
        return Row{"t.gltf", text, "", 5, "t.gltf: " + why};
    };
    auto obj = [](const std::string &text, const std::string &why) {
        return Row{"t.obj", text, "", 5, "t.obj" + why};
    };
    auto uri = [](const char *u) { return Asset{.uri = u}.json(); };
    auto nodes = [](const char *n) { return Asset{.nodes = n}.json(); };
    auto file = [](const char *u, const char *what) {
        return format("buffer file \"%s\" %s", u, what);
    };
    auto buffer = [&](const char *u, const char *what) { return gltf(uri(u), file(u, what)); };
    auto integer = [](const char *at, int least = 0) {
        return format("%s must be an integer from %d to 2147483647", at, least);
    };
    auto tooMuch = [](const std::string &json, size_t targets, size_t buffers) {
        size_t bytes = json.size() + buffers;
        return format("its meshes and %zu morph targets make more than the %zu vertices "
                      "and triangles an asset of %zu bytes may",
                      targets, std::max<size_t>(16 * bytes, 1 << 21), bytes);
    };
    const std::string glbJson = R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":0}]})",
                      past = glb(glbJson, 12, std::string(4, '\0')),
                      many = Asset{.n = BIG, .m = BIG, .targets = 2000}.json(),
                      floor = Asset{.n = 65535, .m = 65535, .targets = 24, .uri = ""}.json();
    auto objLike = [](const std::string &text, const std::string &why) {
        return Row{"t.obj", text, "--like base.kgx", 6, "t.obj" + why};
    };
    auto gltfLike = [&a0](const std::string &base, const std::string &why) {
        return Row{"t.gltf", a0, "--like " + base, 6, "t.gltf: object 0: " + why};
    };
    // --fit takes the largest scale at which every coordinate a face uses fits.
    auto fitted = [](const char *most, const std::string &scale) {
        return Row{"t.obj", format("v %s 0 0\nv 0 0 0\nv 0 0 0\nf 1 2 3\nv 1e30 0 0\n", most), "",
                   0, "t.obj: fitted scale " + scale};
    };
    const std::string prim0 = "mesh 0 primitive 0: ", target0 = prim0 + "morph target 0: ";
    const Row rows[] = {
        fitted("3", "10922.33333"),
        fitted("1e9", "0.00003"),
        obj("v 1 2 nan\n", ":1: malformed number \"nan\""),
        obj("v 1 2\n", ":1: v needs 3 numbers"),
        // A damaged keyword before numbers would drop a vertex and shift every index after it.
        obj("v\xe9 1 2 3\n" + tri + "f 1 2 3\n", ":1: unknown statement with numbers \"v\\xe9\""),
        obj(tri + "f 1 2 4\n", ":4: vertex index 4 out of range (3 defined so far)"),
        obj(tri + "f 0 1 2\n", ":4: vertex index 0 out of range (3 defined so far)"),
        obj(tri + "f -4 1 2\n", ":4: vertex index -4 out of range (3 defined so far)"),
        obj(tri + "f 1 2 3x\n", ":4: malformed index \"3x\""),
        obj(tri + "f 1 2\n", ":4: face with 2 corners (at least 3 needed)"),
        obj(tri + "vn 0 0 1\nf 1 2//1 3\n", ":5: corners of one face in different forms"),
        obj(tri + "f 1/1/1/1 2 3\n", ":4: malformed corner \"1/1/1/1\""),
        obj(tri + "f 1// 2 3\n", ":4: malformed corner \"1//\""),
        // Coordinates round to the nearest step, which must lie in -32768..32767.
        {"t.obj", "v 0 0 0\nv 32767.4 -32768.4 0\nv 0 1 0\nf 1 2 3\n", "--scale 1", 0, ""},
        {"t.obj", "v 0 0 0\nv 32767.5 0 0\nv 0 1 0\nf 1 2 3\n", "--scale 1", 5,
         "t.obj:2: coordinate 32767.5 does not fit scale 1"},
        obj(tri, ": no faces to import"),
        // Triangles of three new vertices each, 65,535 vertices in one group, and one vertex more.
        {"t.obj", repeat(tri + "f -3 -2 -1\n", 21845) + "v 0 0 0\nf -1 -2 -3\n", "--scale 1", 5,
         "t.obj:87382: group \"default\" uses more than 65535 vertices (an object holds at most "
         "65535)"},
        {"t.obj", repeat(tri + "f -3 -2 -1\n", 21845), "--scale 1", 0, ""},
        // --like names the first difference in topology.
        objLike(c + "g extra\nf 1/1 2/2 3/3\n", ": 2 objects, base.kgx has 1"),
        objLike(swap("f 1/1 4/2 3/3 2/4\n", "f 1/1 4/2 3/3\nf 1/1 3/3 2/4\n"),
                ": object 0 (group \"cube\") has 7 primitives, base.kgx has 6"),
        objLike(swap("f 5/1 6/2 7/3 8/4", "f 6/2 7/3 8/4 5/1"),
                ":15: object 0 (group \"cube\") primitive 1 is textured quad, vertices 5 6 7 4, "
                "normals 5 6 7 4; in base.kgx: textured quad, vertices 4 5 6 7, normals 4 5 6 7"),
        objLike(
            c.substr(0, c.find("f ")) + repeat("vn 0 0 1\n", 8) +
                "f 1/1/8 4/2/5 3/3/6 2/4/7\nf 5/1/4 6/2/3 7/3/2 8/4/1\nf 1/1/8 2/2/7 6/3/3 5/4/4\n"
                "f 2/1/7 3/2/6 7/3/2 6/4/3\nf 3/1/6 4/2/5 8/3/1 7/4/2\nf 4/1/5 1/2/8 5/3/4 8/4/1\n",
            ":22: object 0 (group \"cube\") primitive 0 is textured quad, vertices 0 3 2 1, "
            "normals 7 4 5 6; in base.kgx: textured quad, vertices 0 3 2 1, normals 0 3 2 1"),
        objLike(swap("f 3/1 4/2 8/3 7/4", "f 3 4 8 7"),
                ":18: object 0 (group \"cube\") primitive 4 is plain quad, vertices 2 3 7 6, "
                "normals 2 3 7 6; in base.kgx: textured quad, vertices 2 3 7 6, normals 2 3 7 6"),
        gltf("solid cube\n", "not a glTF file: neither binary glTF nor JSON"),
        {"t.glb", "glTF" + le32({2, 1000, 0, 0}), "", 5,
         "t.glb: truncated GLB: 20 bytes, its header gives 1000"},
        // Binary chunks: tinygltf would read one past the GLB's length and throw at one of 0 bytes.
        {"t.glb", past, "", 5,
         format("t.glb: its chunks do not fit the %zu bytes its header gives", past.size())},
        {"t.glb", glb(glbJson, 4, std::string(4, '\0')), "", 5,
         "t.glb: " + integer("buffers[0].byteLength", 1)},
        {"t.glb", glb(replaced(glbJson, "0}", "4},{\"byteLength\":4}"), 4, std::string(4, '\0')),
         "", 5, "t.glb: buffers[1] has no uri: only the first buffer of a GLB is its binary chunk"},
        // Integers that tinygltf would wrap or drop; nesting that would exhaust its stack.
        gltf(replaced(a0, view0, R"("bufferView":0,"byteOffset":18446744073709551604,"c)"),
             integer("accessors[0].byteOffset")),
        gltf(replaced(a0, view0, R"("bufferView":-1,"c)"), integer("accessors[0].bufferView")),
        gltf(Asset{.n = 0}.json(), integer("accessors[0].count", 1)),
        gltf(sparse(R"("byteOffset":-1,)"), integer("accessors[1].sparse.indices.byteOffset")),
        gltf(Asset{.attributes = R"("POSITION":4294967296)"}.json(),
             integer("meshes[0].primitives[0].attributes.POSITION")),
        gltf(R"({"asset":{},"extras":)" + repeat("[", 20000) + repeat("]", 20000) + "}",
             "nested deeper than 32 levels"),
        // glTF's rules on what the numbers mean.
        gltf(replaced(a0, "5126", "5130"),
             prim0 + "POSITION: accessor 0: component type 5130 is not one glTF "
                     "2.0 allows"),
        gltf(replaced(Asset{.n = BIG}.json(), view0, R"("bufferView":0,"byteOffset":4,"c)"),
             prim0 + "POSITION: accessor 0 reaches beyond its buffer"),
        gltf(replaced(a0, view0, R"("bufferView":1,"c)"),
             prim0 + "POSITION: accessor 0: buffer view 1 does not exist"),
        // Elements that overlap, and components off their alignment (the offsets add up).
        gltf(replaced(a0, R"({"buffer":0,)", R"({"buffer":0,"byteStride":8,)"),
             prim0 + "POSITION: accessor 0: byte stride 8 is less than its 12-byte elements"),
        gltf(shifted(""),
             prim0 + "POSITION: accessor 0 starts at a byte offset that is not a multiple of its "
                     "4-byte components"),
        {"t.gltf", shifted(R"("byteOffset":2,)"), "--scale 1", 0, ""},
        // glTF 2 of any minor version that needs no more than 2.0.
        gltf(replaced(a0, "\"2.0\"", "\"3.0\""), "asset.version \"3.0\": kelo reads glTF 2"),
        gltf(replaced(a0, "\"2.0\"", R"("2.0","minVersion":"2.1")"),
             "asset.minVersion \"2.1\": kelo reads glTF 2.0"),
        {"t.gltf", replaced(a0, "\"2.0\"", R"("2.10","minVersion":"2.0")"), "--scale 1", 0, ""},
        {"t.glb", "glTF" + le32({1, 1000, 0, 0}), "", 5,
         "t.glb: binary glTF version 1; kelo reads version 2"},
        // Signed bytes of b.bin: -128 and 63 among them; the fitted scale holds them.
        {"t.gltf", replaced(a0, "5126", "5120"), "", 0, "t.gltf: fitted scale 255.99219"},
        gltf(sparse(""), target0 + "POSITION: accessor 1: sparse index 0 after "
                                   "0: they must increase"),
        gltf(sparse(R"("byteOffset":14,)", 16256), target0 +
                                                       "POSITION: accessor 1: sparse index 16256 "
                                                       "beyond its 16256 elements"),
        // Characters that are invisible or turn the text's direction show as their bytes.
        gltf(replaced(a0, "{",
                      R"({"extensionsRequired":["KHR_mesh_quantization",)"
                      R"("\u0080\u009f\u00a0\u200a\u200b\u200f\u2010\u2027)"
                      R"(\u2028\u202e\u202f\u2065\u2066\u2069\u206a\ufeff"],)"),
             "requires the extension "
             "\"\\xc2\\x80\\xc2\\x9f\u00a0\u200a\\xe2\\x80\\x8b\\xe2\\x80\\x8f"
             "\u2010\u2027\\xe2\\x80\\xa8\\xe2\\x80\\xae\u202f\u2065\\xe2\\x81\\xa6\\xe2\\x81\\xa9"
             "\u206a\\xef\\xbb\\xbf\", which kelo does not read"),
        gltf(Asset{.attributes = ""}.json(), prim0 + "no POSITION"),
        gltf(Asset{.m = 3}.json(), target0 + "POSITION: accessor 1 has 3 elements for 6 "
                                             "vertices"),
        {"t.gltf", a0, "--scale 10000", 5,
         "t.gltf: object 0 vertex 2: coordinate 4 does not fit scale 10000"},
        {"t.gltf", Asset{.n = BIG, .m = BIG}.json(), "--scale 0.1", 5,
         "t.gltf: object 0: 65538 vertices and 21846 normals (an object holds at most 65535 of "
         "each)"},
        // Buffer files: regular files inside the asset's folder, no link followed, nothing but
        // the bytes declared read (huge.bin has 1 GB).
        buffer("gone.bin", "is not in the asset's folder"),
        {"sub/t.gltf", a0, "", 5, "sub/t.gltf: " + file("b.bin", "is not in the asset's folder")},
        gltf(uri(("..%2F%01" + std::string(99, 'x')).c_str()),
             file(("../\\x01" + std::string(60, 'x') + "...").c_str(),
                  "lies outside the asset's folder")),
        buffer("/etc/passwd", "lies outside the asset's folder"),
        buffer("link.bin", "passes through a symbolic link, which kelo does not follow"),
        buffer("fifo", "is not a regular file"),
        buffer("sub", "is not a regular file"),
        buffer(".", "is not a regular file"),
        {"t.gltf", uri("huge.bin"), "--scale 1", 0, ""},
        // Work bounded by the asset's size: 16 vertices and triangles a byte, 2^21 at least,
        // whatever one accessor is used for; tinygltf's report and input text cut short.
        {"t.gltf", Asset{.n = 65535, .m = 65535, .targets = 23, .uri = ""}.json(), "", 0,
         "t.gltf: fitted scale 1"},
        gltf(floor, tooMuch(floor, 24, 0)),
        gltf(many, tooMuch(many, 2000, 12 * BIG)),
        gltf(replaced(a0, R"("bufferView":0,"componentType":5126,"count":6)",
                      R"("componentType":5126,"count":16777216)"),
             prim0 + "POSITION: accessor 0 has 16777216 elements, more than the "
                     "65535 kelo reads without a buffer view"),
        {"t.gltf", Asset{.targets = 10000}.json(), "--variants v", 5,
         "t.gltf: 10000 morph targets, more than the 1000 files --variants writes"},
        gltf(R"({"asset":{"version":"2.0"},"meshes":[{"primitives":[)" + repeat("{},", 260000) +
                 "{}]}]}",
             repeat("'attributes' property is missing in Primitive.; ", 5).substr(0, 200) + "..."),
        gltf(replaced(a0, R"("VEC3")", "\"\\u0007" + std::string(1 << 22, 'X') + "\""),
             "Unsupported `type` for accessor object. Got \"\\x07" + std::string(154, 'X') + "..."),
        // Variant files: letters of any script kept, white space, invisible and shell characters
        // made '_', two names made one numbered, a missing one the target's number, a long one
        // cut between characters; a mesh without extras leaves them unnamed.
        {"t.gltf",
         Asset{.targets = 5,
               .names = R"("smile left/\u00e9","smile left?\u00e9","","笑顔\u00a0\u202e$x+y",")" +
                        repeat("あ", 30) + "\""}
             .json(),
         "--scale 1 --variants w", 0, "",
         "w_smile_left_é.kgx\nw_smile_left_é_1.kgx\nw_2.kgx\nw_笑顔_x+y.kgx\nw_" +
             repeat("あ", 21) + ".kgx\n"},
        {"t.gltf", replaced(a0, R"("extras":{"targetNames":["t0"]})", R"("extras":5)"),
         "--scale 1 --variants u", 0, "", "u_0.kgx\n"},
        // The third of five variant files cannot be written: none is.
        {"t.gltf", Asset{.targets = 5}.json(), "--scale 1 --variants v", 7,
         "v_t2.kgx: cannot open: Is a directory"},
        {"t.gltf", Asset{.targets = 0}.json(), "--variants v", 5,
         "t.gltf: no morph targets in its scene, so --variants has no model to write"},
        // The scene: each node reached once, no cycle, matrices that place points; the targets of
        // several meshes matched by name, or by index when none is named.
        gltf(nodes(R"([{"name":"Arm","children":[1]},{"children":[0],"mesh":0}],"scene":0,)"
                   R"("scenes":[{"nodes":[0]}])"),
             "node \"Arm\" is its own ancestor: the node hierarchy has a cycle"),
        gltf(nodes(R"([{"children":[2]},{"children":[2]},{"mesh":0}])"),
             "node 2 is reached twice: from node 0 and from node 1"),
        gltf(nodes(R"([{"mesh":0,"scale":[1,0,1]}])"),
             "node 0: its matrix, composed with its ancestors', is not invertible"),
        gltf(nodes(R"([{"scale":[1e300,1,1],"children":[1]},{"mesh":0,"scale":[1e300,1,1]}])"),
             "node 1: its matrix, composed with its ancestors', is not finite"),
        gltf(nodes(R"([{"mesh":0,"matrix":[1,0,0,1,0,1,0,0,0,0,1,0,0,0,0,1]}])"),
             "node 0: its matrix's last row is not 0 0 0 1"),
        gltf(nodes(R"([{"mesh":0,"translation":[0,1e39]}])"),
             "node 0: its translation holds 2 numbers, not 3"),
        gltf(nodes(R"([{"mesh":0,"translation":[0,1e39,0]}])"),
             "node 0: its matrix puts a coordinate beyond a float's range"),
        gltf(nodes(R"([{"mesh":0,"rotation":[0,0,"x",1]}])"),
             "nodes[0].rotation[2] must be a number"),
        gltf(nodes(R"([{"mesh":0,"children":1}])"), "nodes[0].children must be an array"),
        gltf(nodes(R"([{"mesh":0}],"scenes":[{"nodes":[-1]}])"), integer("scenes[0].nodes[0]")),
        gltf(nodes(R"([{"mesh":4294967296}])"), integer("nodes[0].mesh")),
        gltf(nodes(R"([{"mesh":1,"children":[2]}])"), "node 0 names node 2, which does not exist"),
        gltf(nodes(R"([{"mesh":1}])"), "node 0: mesh 1 does not exist"),
        gltf(nodes(R"([{"mesh":0}],"scene":0)"), "scene 0 does not exist"),
        gltf(nodes(R"([{"children":[1]},{}],"scene":0,"scenes":[{"nodes":[1]}])"),
             "node 1 is reached twice: from node 0 and from scene 0"),
        gltf(nodes(R"([{"mesh":0}],"scene":0,"scenes":[{"nodes":[]}])"),
             "its scene places no mesh"),
        gltf(Asset{.targets = 2, .names = R"("a","a")"}.json(),
             "mesh 0: morph target name \"a\" used twice"),
        gltf(
            Asset{
                .more =
                    R"(,{"name":"B","primitives":[{"attributes":{"POSITION":0},"targets":[{"POSITION":1}]}]})",
                .nodes = R"([{"mesh":0},{"mesh":1}])"}
                .json(),
            "mesh 0 and mesh \"B\": unnamed morph targets match by index only when no mesh "
            "names one and all have as many"),
        // --like maps each glTF vertex to the base vertex at its position (a0's are at (i, 2i,
        // 3i)) and refuses the first that fits no base vertex or two, or that moves apart from
        // those on its vertex in a target, and the first base vertex none covers.  A primitive
        // goes to the object its material names; others pair with the unnamed objects, or all go
        // to a base of one object.
        {"t.gltf",
         replaced(a0, "[{\"attributes",
                  R"([{"attributes":{"POSITION":0},"targets":[{"POSITION":1}]},{"attributes)"),
         "--like six.kgx --variants v", 0, "", "v_t0.kgx\n"},
        gltfLike("gap.kgx", "the vertex at (5, 10, 15) m matches no vertex of gap.kgx"),
        gltfLike("twice.kgx", "the vertex at (2, 4, 6) m could be vertex 2 or 6 of twice.kgx"),
        gltfLike("more.kgx", "vertex 6 of more.kgx, at (9, 9, 9) m, is not in the asset"),
        {"t.gltf", a0, "--like two.kgx", 6,
         "t.gltf: 1 primitives have no material naming an object of two.kgx, for 2 of its "
         "objects that no material names"},
        {"t.gltf",
         replaced(replaced(a0, R"("targets")", R"("material":0,"targets")"), R"({"asset")",
                  R"({"materials":[{"name":"object1"}],"asset")"),
         "--like two.kgx", 6,
         "t.gltf: object 0: vertex 0 of two.kgx, at (0, 0, 0) m, is not in the asset"},
        {"t.gltf", replaced(a0, view0, R"("c)"), "--like zero.kgx --variants v", 6,
         "t.gltf: object 0: vertex 0 of zero.kgx, at (0, 0, 0) m: morph target 0 \"t0\" puts "
         "the asset's vertices there in different places"},
        // Six glTF normals on a vertex of 66 normals: 396 weighings, more than 64 each.
        {"t.gltf",
         replaced(replaced(replaced(a0, view0, R"("c)"), R"("POSITION":0)",
                           R"("POSITION":0,"NORMAL":0)"),
                  R"({"POSITION":1})", R"({"POSITION":1,"NORMAL":1})"),
         "--like fan.kgx --variants v", 5,
         "t.gltf: object 0: its normals would be weighed against those of fan.kgx more than 64 "
         "times each on average"},
    };
    std::vector<Elem> six;
    for (int16_t i = 0; i < 6; i++)
        six.push_back({i, int16_t(2 * i), int16_t(3 * i), 0});
    auto base = [&](const char *name, std::vector<Elem> verts, int objects = 1) {
        spit(dir / name, bytes({std::vector<Obj>(objects, Obj{verts, {}, {}, SCALE_ONE})}));
    };
    base("six.kgx", six), base("two.kgx", six, 2), base("zero.kgx", {{0, 0, 0, 0}});
    Obj fan{{{0, 0, 0, 0}}, std::vector<Elem>(66), {}, SCALE_ONE};
    for (uint32_t n = 0; n < 66; n += 3)
        fan.prims.push_back(prim(0, le32({0, 0, 0, n, n + 1, n + 2})));
    spit(dir / "fan.kgx", bytes({{fan}}));
    six.push_back({9, 9, 9, 0}), base("more.kgx", six);
    six[6] = six[2], base("twice.kgx", six);
    six.erase(six.begin() + 5), six[5] = {9, 9, 9, 0}, base("gap.kgx", six);
    fs::create_directory(dir / "v_t2.kgx"), fs::create_directory(dir / "sub");
    fs::create_symlink("/etc/passwd", dir / "link.bin"), mkfifo((dir / "fifo").c_str(), 0600);
    std::vector<uint32_t> values;
    for (int i = 0; i < 3 * BIG; i++)
        values.push_back(std::bit_cast<uint32_t>(float(i / 3 * (1 + i % 3))));
    spit(dir / "b.bin", le32(values)), spit(dir / "huge.bin", "");
    fs::resize_file(dir / "huge.bin", 1 << 30);
    auto entries = [&] { return std::distance(fs::recursive_directory_iterator(dir.dir), {}); };
    for (const auto &row : rows) {
        spit(dir / row.file, row.text);
        auto before = entries();
        // In 256 MiB of address space (but under the sanitizers, which reserve terabytes).
#ifdef KEYBLEND_SANITIZED
        Result r = kelo(dir.dir, "import " + row.file + " " + row.args + " -o out.kgx");
#else
        Result r = sh(dir.dir, "/usr/bin/prlimit --as=268435456 " + KELO + " import " + row.file +
                                   " " + row.args + " -o out.kgx");
#endif
        EXPECT_EQ(r.code, row.code) << row.err;
        EXPECT_EQ(r.err, row.err.empty() ? "" : "kelo: " + row.err + "\n");
        EXPECT_EQ(r.out, row.out);
        // The model, each variant's and the argument file.
        auto files = std::ranges::count(row.out, '\n') + !row.out.empty();
        EXPECT_EQ(entries(), before + !row.code + files) << row.err;
        fs::remove(dir / row.file), fs::remove(dir / "out.kgx");
    }
}
