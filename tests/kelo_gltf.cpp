// kelo_gltf.cpp -- kelo export and import with glTF assets, checked by tools
// no one here wrote: the Khronos validator finds nothing in what export
// writes, three.js in headless Chromium sees kelo apply's variant at weight
// 1; export, import --variants and keyblend give back the Kelo files; bad
// assets are refused with the file, the reason and the code, leaving nothing
#include "kelo.h"
#include "kit/test.h"

#include <nlohmann/json.hpp>

#include <bit>
#include <cmath>

using namespace kit;

namespace {

const fs::path HERE = fs::path(__FILE__).parent_path();

Result kelo(const fs::path &dir, const std::string &args) { return sh(dir, KELO + " " + args); }

std::string le32(const std::vector<uint32_t> &w)
{
    std::string s(4 * w.size(), '\0');
    for (size_t i = 0; i < w.size(); i++)
        storeLE32((unsigned char *)&s[4 * i], w[i]);
    return s;
}

// A textured quad in kelo's layout with a normal per corner pair; a
// triangle with an unused vertex; points without normals; scale word 1000
// steps per metre.  Variant 0 lifts a corner of the triangle (a sparse
// target), 1 swells everything and turns the quad's normals, 2 is the base.
std::string model(int variant)
{
    Obj quad{{{-1000, -1000, 0, 0}, {1000, -1000, 0, 0}, {1000, 1000, 0, 0}, {-1000, 1000, 0, 0}},
             {{0, 0, 4096, 0}, {0, 2896, 2896, 0}},
             {prim(MODE_TEXTURED | MODE_FOUR_CORNERS, le32({cornerWord(0, 7, 250), cornerWord(1, 47, 200),
                                                            cornerWord(2, 87, 150), cornerWord(3, 127, 100), 0, 0, 1, 1}))}},
        tri{{{0, 0, 0, 0}, {900, 0, 0, 0}, {0, 900, 0, 0}, {5, 5, 5, 0}}, {{0, 0, 4096, 0}}, {prim(0, le32({0, 1, 2, 0, 0, 0}))}},
        points{{{-3000, 3000, 0, 0}, {-2993, 2989, 500, 0}, {-2986, 2978, 1000, 0}}};
    for (Obj *o : {&quad, &tri, &points}) {
        o->scale = 1000 * 65536;
        for (Elem &e : o->verts)
            for (int a = 0; a < 3 && variant == 1; a++)
                e[a] = int16_t(e[a] + e[a] / 5 + 3);
    }
    tri.verts[2][2] += variant == 0 ? 700 : 0;
    quad.norms[1][1] -= variant == 1 ? 1200 : 0;
    return bytes({{quad, tri, points}});
}

// The generated model and the examples, their differences from keyblend,
// and each exported: model.glb at the objects' scale, examples.gltf at 1000.
struct Assets : Scratch {
    Assets()
    {
        for (int v = -1; v < 3; v++)
            spit(dir / (v < 0 ? "base.kgx" : format("v%d.kgx", v)), model(v));
        sh(dir, KEYBLEND + " -n -o model base.kgx v0.kgx v1.kgx v2.kgx");
        const std::string ex = (HERE.parent_path() / "examples/").string();
        sh(dir, KEYBLEND + " -n -o examples " + ex + "base.kgx " + ex + "moved.kgx " + ex + "normals.kgx");
        EXPECT_EQ(kelo(dir, "export base.kgx --vdf model.vdf --ndf model.ndf -o model.glb").code, 0);
        EXPECT_EQ(kelo(dir, "export " + ex + "base.kgx --vdf examples.vdf --ndf examples.ndf --scale 1000 "
                            "-o examples.gltf").code, 0);
    }
};

}  // namespace

// Import with --variants writes the base and one model per target; keyblend
// on them writes the Kelo files export started from, byte for byte.
TEST(KeloGltf, RoundTrip)
{
    Assets dir;
    for (std::string name : {"model", "examples"}) {
        Result r = kelo(dir.dir, "import " + name + (name == "model" ? ".glb" : ".gltf") +
                                     " --scale 1000 -o back.kgx --variants back");
        ASSERT_EQ(r.code, 0) << r.err;
        ASSERT_EQ(sh(dir.dir, KEYBLEND + " -n -o back back.kgx " + r.out).code, 0) << r.out;
        for (std::string kind : {".vdf", ".ndf"})
            EXPECT_EQ(slurp(dir / ("back" + kind)), slurp(dir / (name + kind))) << name << kind;
    }
    // The imported base's scales and flags, and its topology, given again.
    ASSERT_EQ(kelo(dir.dir, "import examples.gltf --like back.kgx -o like.kgx").code, 0);
    EXPECT_EQ(slurp(dir / "like.kgx"), slurp(dir / "back.kgx"));
}

// The validator finds no error or warning in any asset; three.js at weight 1
// of variant 1 shows every vertex where kelo apply puts it.
TEST(KeloGltf, ValidatorAndBrowserAgree)
{
    const char *chromium = getenv("CHROMIUM");
    if (!fs::exists(HERE / "gltf/node_modules/.installed-lock") || !fs::exists(chromium ? chromium : "/usr/bin/chromium") ||
        std::system("node --version >/dev/null 2>&1") != 0) {
        if (getenv("CI"))
            FAIL() << "node, its tools or chromium are missing: run scripts/setup";
        GTEST_SKIP() << "node, its tools or chromium are missing: run scripts/setup";
    }
    Assets dir;
    const std::string node = "/usr/bin/env node " + (HERE / "gltf/").string();
    Result r = sh(dir.dir, node + "validate.mjs model.glb examples.gltf");
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
                          applied.value(applied.vertexAt(o, seen[o]["vertex"][i].get<uint32_t>()) + 2 * a))
                    << "object " << o << " vertex " << i;
    EXPECT_NE(slurp(dir / "at0.png"), slurp(dir / "at1.png"));
}

// An asset of one primitive: n vertices at (i, 2i, 3i) in the buffer b.bin
// (of BIG), targets named t0, t1, ... whose POSITION has m elements.
constexpr int BIG = 65538;
struct Asset {
    int n = 6, m = 6, targets = 1;
    std::string attributes = "\"POSITION\":0", uri = "b.bin";

    std::string json() const
    {
        std::string list, names;
        for (int t = 0; t < targets; t++) {
            list += format("%s{\"POSITION\":1}", t ? "," : "");
            names += format("%s\"t%d\"", t ? "," : "", t);
        }
        const char *accessor = R"({"bufferView":0,"componentType":5126,"count":%d,"type":"VEC3"})";
        return format(R"({"asset":{"version":"2.0"},"buffers":[{"uri":"%s","byteLength":%d}],)"
                      R"("bufferViews":[{"buffer":0,"byteLength":%d}],"accessors":[)",
                      uri.c_str(), 12 * BIG, 12 * BIG) + format(accessor, n) + "," + format(accessor, m) +
               format(R"(],"meshes":[{"primitives":[{"attributes":{%s},"targets":[%s]}],)"
                      R"("extras":{"targetNames":[%s]}}]})", attributes.c_str(), list.c_str(), names.c_str());
    }
};

// Each bad asset is refused with its file and what is wrong, and leaves the
// directory as it was: no model, no variant, no temporary.
TEST(KeloGltf, RefusesBadAssets)
{
    Scratch dir;
    auto with = [](auto change) { Asset a; change(a); return a.json(); };
    struct {
        std::string file, text, args;
        int code;
        std::string err;
    } rows[] = {
        {"t.gltf", "solid cube\n", "", 5, "t.gltf: not a glTF file: neither binary glTF nor JSON"},
        {"t.glb", "glTF" + le32({2, 1000, 0, 0}), "", 5, "t.glb: truncated GLB: 20 bytes, its header gives 1000"},
        {"t.gltf", with([](Asset &a) { a.attributes = ""; }), "", 5, "t.gltf: mesh 0 primitive 0: no POSITION"},
        {"t.gltf", with([](Asset &a) { a.m = 3; }), "", 5,
         "t.gltf: mesh 0 primitive 0: morph target 0: POSITION: accessor 1 has 3 elements for 6 vertices"},
        {"t.gltf", Asset().json(), "--scale 10000", 5, "t.gltf: object 0 vertex 2: coordinate 4 does not fit scale 10000"},
        {"t.gltf", with([](Asset &a) { a.n = a.m = BIG; }), "--scale 0.1", 5,
         "t.gltf: object 0: 65538 vertices and 21846 normals (an object holds at most 65535 of each)"},
        {"t.gltf", with([](Asset &a) { a.uri = "gone.bin"; }), "", 5, "t.gltf: File not found : gone.bin"},
        // The third of five variant files cannot be written: none is.
        {"t.gltf", with([](Asset &a) { a.targets = 5; }), "--variants v", 7, "v_t2.kgx: cannot open: Is a directory"},
    };
    fs::create_directory(dir / "v_t2.kgx");
    std::vector<uint32_t> values;
    for (int i = 0; i < 3 * BIG; i++)
        values.push_back(std::bit_cast<uint32_t>(float(i / 3 * (1 + i % 3))));
    spit(dir / "b.bin", le32(values));
    for (const auto &row : rows) {
        spit(dir / row.file, row.text);
        size_t before = snapshot(dir.dir).size();
        Result r = kelo(dir.dir, "import " + row.file + " " + row.args + " -o out.kgx");
        EXPECT_EQ(r.code, row.code) << row.err;
        EXPECT_EQ(r.err, "kelo: " + row.err + "\n");
        EXPECT_EQ(snapshot(dir.dir).size(), before) << row.err;
        fs::remove(dir / row.file);
    }
}
