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

std::string packet(const std::vector<uint32_t> &words)
{
    std::string s(4 * words.size(), '\0');
    for (size_t i = 0; i < words.size(); i++)
        storeLE32((unsigned char *)&s[4 * i], words[i]);
    return s;
}

// A cube of textured quads in kelo's layout, a normal per face; a grid of
// triangles, every other one textured, in packets of one word per corner
// (normals numbered like the vertices); four points without normals.  Scale
// word 1000 steps per metre.  Variant 0 lifts one grid vertex (a sparse
// target), 1 swells everything and turns the cube's normals, 2 is the base.
std::string model(int variant)
{
    Obj cube, grid, points;
    for (int i = 0; i < 8; i++)
        cube.verts.push_back({int16_t(i & 1 ? 1000 : -1000), int16_t(i & 2 ? 1000 : -1000), int16_t(i & 4 ? 1000 : -1000), 0});
    const uint32_t faces[6][4] = {{0, 2, 6, 4}, {1, 5, 7, 3}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 1, 3, 2}, {4, 6, 7, 5}};
    for (uint32_t f = 0; f < 6; f++) {
        Elem n = {0, 0, 0, 0};
        n[f / 2] = int16_t(f % 2 ? 4096 : -4096);
        cube.norms.push_back(n);
        cube.prims.push_back(prim(MODE_TEXTURED | MODE_FOUR_CORNERS,
                                  packet({cornerWord(faces[f][0], 7, 250), cornerWord(faces[f][1], 47, 200),
                                          cornerWord(faces[f][2], 87, 150), cornerWord(faces[f][3], 127, 100), f, f, f, f})));
    }
    for (int i = 0; i < 9; i++) {
        grid.verts.push_back({int16_t(600 * (i % 3) - 600), int16_t(600 * (i / 3) - 600), int16_t(40 * (i % 2)), 0});
        grid.norms.push_back({int16_t(i % 2 ? 2365 : -2365), 2365, 2365, 0});
    }
    for (uint32_t v : {0, 1, 3, 4})
        for (uint32_t t = 0; t < 2; t++)
            grid.prims.push_back(prim(t ? MODE_TEXTURED : 0, packet({cornerWord(v, 30, 60), cornerWord(v + 1 + 3 * t),
                                                                     cornerWord(v + 4 - t, 200, 9)})));
    for (int i = 0; i < 4; i++)
        points.verts.push_back({int16_t(-3000 + 7 * i), int16_t(3000 - 11 * i), int16_t(500 * i), 0});
    for (Obj *o : {&cube, &grid, &points}) {
        o->scale = 1000 * 65536;
        for (Elem &e : o->verts)
            for (int a = 0; a < 3 && variant == 1; a++)
                e[a] = int16_t(e[a] + e[a] / 5 + 3);
    }
    if (variant == 0)
        grid.verts[4][2] += 700;
    for (Elem &n : cube.norms)
        n[(n[0] != 0) + 1] += variant == 1 ? 1000 : 0;
    return bytes({{cube, grid, points}});
}

// The generated model and the examples, their differences from keyblend,
// and each exported: model.glb at the object's scale, examples.gltf at 1000.
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

// What of the node tools is missing, or "".
std::string toolsMissing()
{
    for (const char *need : {"node_modules/gltf-validator", "node_modules/three", "node_modules/playwright-core"})
        if (!fs::exists(HERE / "gltf" / need))
            return (HERE / "gltf" / need).string();
    if (std::system("node --version >/dev/null 2>&1") != 0)
        return "node";
    const char *chromium = getenv("CHROMIUM");
    return fs::exists(chromium ? chromium : "/usr/bin/chromium") ? "" : "chromium";
}

}  // namespace

// Import with --variants writes the base and one model per target; keyblend
// on them writes the Kelo files export started from, byte for byte.
TEST(KeloGltf, RoundTrip)
{
    Assets dir;
    for (const char *name : {"model", "examples"}) {
        std::string asset = name + std::string(name[0] == 'm' ? ".glb" : ".gltf");
        Result r = kelo(dir.dir, "import " + asset + " --scale 1000 -o back.kgx --variants back");
        ASSERT_EQ(r.code, 0) << r.err;
        ASSERT_EQ(sh(dir.dir, KEYBLEND + " -n -o back back.kgx " + r.out).code, 0) << r.out;
        for (const char *kind : {".vdf", ".ndf"})
            EXPECT_EQ(slurp(dir / ("back" + std::string(kind))), slurp(dir / (name + std::string(kind)))) << name << kind;
    }
    // The imported base's scales and flags, and its topology, given again.
    ASSERT_EQ(kelo(dir.dir, "import examples.gltf --like back.kgx -o like.kgx").code, 0);
    EXPECT_EQ(slurp(dir / "like.kgx"), slurp(dir / "back.kgx"));
}

// The validator finds no error or warning in any asset; three.js at weight 1
// of variant 1 shows every vertex where kelo apply puts it.
TEST(KeloGltf, ValidatorAndBrowserAgree)
{
    if (std::string missing = toolsMissing(); !missing.empty()) {
        if (getenv("CI"))
            FAIL() << missing << " is missing: run scripts/setup";
        GTEST_SKIP() << missing << " is missing: run scripts/setup";
    }
    Assets dir;
    const std::string tools = (HERE / "gltf").string();
    Result r = sh(dir.dir, "/usr/bin/env node " + tools + "/validate.mjs model.glb examples.gltf");
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    ASSERT_EQ(kelo(dir.dir, "apply base.kgx --variant 1 --vdf model.vdf -o v.kgx").code, 0);
    ::Model applied;
    ASSERT_FALSE(modelLoad((dir / "v.kgx").string(), applied));
    r = sh(dir.dir, "/usr/bin/env node " + tools + "/morph.mjs model.glb 1 at0.png at1.png");
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

// An asset of one primitive: n vertices at unit x (i, 2i, 3i) in the
// buffer b.bin, targets named t0, t1, ... whose POSITION has m elements.
struct Asset {
    int n = 6, m = 6, targets = 1;
    double unit = 1;
    std::string attributes = "\"POSITION\":0", uri = "b.bin";

    std::string json() const
    {
        std::string targetList, names;
        for (int t = 0; t < targets; t++) {
            targetList += format("%s{\"POSITION\":1}", t ? "," : "");
            names += format("%s\"t%d\"", t ? "," : "", t);
        }
        return format(R"({"asset":{"version":"2.0"},"buffers":[{"uri":"%s","byteLength":%d}],)"
                      R"("bufferViews":[{"buffer":0,"byteLength":%d}],"accessors":[)"
                      R"({"bufferView":0,"componentType":5126,"count":%d,"type":"VEC3"},)"
                      R"({"bufferView":0,"componentType":5126,"count":%d,"type":"VEC3"}],"meshes":[)"
                      R"({"primitives":[{"attributes":{%s},"targets":[%s]}],"extras":{"targetNames":[%s]}}]})",
                      uri.c_str(), 12 * n, 12 * n, n, m, attributes.c_str(), targetList.c_str(), names.c_str());
    }
    std::string buffer() const
    {
        std::string s(12 * (size_t)n, '\0');
        for (int i = 0; i < 3 * n; i++)
            storeLE32((unsigned char *)&s[4 * i], std::bit_cast<uint32_t>(float(unit * (i / 3) * (1 + i % 3))));
        return s;
    }
};

// Each bad asset is refused with its file and what is wrong, and leaves the
// directory as it was: no model, no variant, no temporary.
TEST(KeloGltf, RefusesBadAssets)
{
    Scratch dir;
    auto asset = [](auto change) { Asset a; change(a); return a; };
    const std::string glbHead = "glTF" + packet({2, 1000, 0, 0});
    struct {
        std::string file, text;
        Asset a;
        std::string args;
        int code;
        std::string err;
    } rows[] = {
        {"t.gltf", "solid cube\n", {}, "", 5, "t.gltf: not a glTF file: neither binary glTF nor JSON"},
        {"t.glb", glbHead, {}, "", 5, "t.glb: truncated GLB: 20 bytes, its header gives 1000"},
        {"t.gltf", "", asset([](Asset &a) { a.attributes = ""; }), "", 5,
         "t.gltf: mesh 0 primitive 0: no POSITION"},
        {"t.gltf", "", asset([](Asset &a) { a.m = 3; }), "", 5,
         "t.gltf: mesh 0 primitive 0: morph target 0: POSITION: accessor 1 has 3 elements for 6 vertices"},
        {"t.gltf", "", asset([](Asset &a) { a.unit = 100; }), "--scale 1000", 5,
         "t.gltf: object 0 vertex 1: coordinate 100 does not fit scale 1000"},
        {"t.gltf", "", asset([](Asset &a) { a.n = a.m = 65538; }), "--scale 0.1", 5,
         "t.gltf: object 0: 65538 vertices and 21846 normals (an object holds at most 65535 of each)"},
        {"t.gltf", "", asset([](Asset &a) { a.uri = "gone.bin"; }), "", 5, "t.gltf: File not found : gone.bin"},
        // The third of five variant files cannot be written: none is.
        {"t.gltf", "", asset([](Asset &a) { a.targets = 5; }), "--variants v", 7,
         "v_t2.kgx: cannot open: Is a directory"},
        {"t.gltf", "", {}, "--objects single", 1, "import: --objects is for OBJ files"},
    };
    fs::create_directory(dir / "v_t2.kgx");
    for (const auto &row : rows) {
        spit(dir / row.file, row.text.empty() ? row.a.json() : row.text);
        spit(dir / "b.bin", row.a.buffer());
        auto before = snapshot(dir.dir);
        Result r = kelo(dir.dir, "import " + row.file + " " + row.args + " -o out.kgx");
        EXPECT_EQ(r.code, row.code) << row.err;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), "kelo" + std::string(row.code == 1 ? " " : ": ") + row.err + "\n");
        EXPECT_EQ(snapshot(dir.dir), before) << row.err;
        fs::remove(dir / row.file);
    }
}
