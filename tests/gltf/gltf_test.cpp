// gltf_test.cpp -- kelo's glTF module on a generated model of several
// objects and targets: what it writes reads back exactly and maps back to
// the same KGX values, bad files are refused with their reason, and (with
// the node tools of this folder) the Khronos validator finds nothing and
// three.js in headless Chromium sees base + offset at weight 1.
#include "gltf_io.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <fstream>

namespace fs = std::filesystem;

// A primitive of kelo's layout (word c: vertex and texture bytes of corner
// c, word n + c: its normal) or, without normals, of one word per corner.
static void addPrimitive(KgxObjectArrays *ob, bool textured, std::vector<uint16_t> corners,
                         const std::vector<uint16_t> &normals = {})
{
    uint32_t n = (uint32_t)corners.size();
    ob->primHeaders.push_back(primHeader((textured ? MODE_TEXTURED : 0) | (n == 4 ? MODE_FOUR_CORNERS : 0),
                                         n + (uint32_t)normals.size()));
    std::vector<uint32_t> words;
    for (uint32_t c = 0; c < n; c++)
        words.push_back(cornerWord(corners[c], (uint8_t)(40 * c + 7), (uint8_t)(255 - 50 * c)));
    words.insert(words.end(), normals.begin(), normals.end());
    for (uint32_t w : words) {
        ob->packets.resize(ob->packets.size() + 4);
        storeLE32(&ob->packets[ob->packets.size() - 4], w);
    }
}

static void addElement(std::vector<int16_t> *values, int x, int y, int z)
{
    values->insert(values->end(), {(int16_t)x, (int16_t)y, (int16_t)z, 0});
}

// A cube of textured quads with a normal per face; a 5 x 5 grid of
// triangles, textured and not, in one-word packets, with normals of length
// 4096.3 as the example models have, one vertex and one normal unused and
// scale word 0; a cloud of points.
static std::vector<KgxObjectArrays> generatedModel()
{
    std::vector<KgxObjectArrays> m(3);
    for (int i = 0; i < 8; i++)
        addElement(&m[0].vert, i & 1 ? 1000 : -1000, i & 2 ? 1000 : -1000, i & 4 ? 1000 : -1000);
    const uint16_t faces[6][4] = {{0, 2, 6, 4}, {1, 5, 7, 3}, {0, 4, 5, 1},
                                  {2, 3, 7, 6}, {0, 1, 3, 2}, {4, 6, 7, 5}};
    for (uint16_t f = 0; f < 6; f++) {
        addElement(&m[0].norm, f / 2 == 0 ? (f % 2 ? 4096 : -4096) : 0, f / 2 == 1 ? (f % 2 ? 4096 : -4096) : 0,
                   f / 2 == 2 ? (f % 2 ? 4096 : -4096) : 0);
        addPrimitive(&m[0], true, {faces[f][0], faces[f][1], faces[f][2], faces[f][3]}, {f, f, f, f});
    }
    m[0].scale = 1000 * SCALE_WORD_ONE;
    for (int i = 0; i <= 25; i++) {
        addElement(&m[1].vert, 300 * (i % 5) - 600, 300 * (i / 5) - 600, 40 * (i % 3));
        addElement(&m[1].norm, i % 2 ? 2365 : -2365, i % 3 ? 2365 : -2365, 2365);
    }
    for (uint16_t v = 0; v < 19; v++)
        if (v % 5 < 4) {
            addPrimitive(&m[1], v % 2, {v, (uint16_t)(v + 1), (uint16_t)(v + 6)});
            addPrimitive(&m[1], false, {v, (uint16_t)(v + 6), (uint16_t)(v + 5)});
        }
    for (int i = 0; i < 5; i++)
        addElement(&m[2].vert, -3000 + 7 * i, 3000 - 11 * i, 500 * i);
    m[2].scale = 500 * SCALE_WORD_ONE;
    return m;
}

// "lift" moves one grid vertex (a sparse target), "swell" moves every
// vertex and turns the cube's normals (dense), "still" moves nothing.
static std::vector<KgxVariant> generatedVariants(const std::vector<KgxObjectArrays> &base)
{
    std::vector<KgxVariant> v = {{"lift", base}, {"swell", base}, {"still", base}};
    v[0].objects[1].vert[4 * 12 + 2] += 700;
    for (KgxObjectArrays &ob : v[1].objects)
        for (size_t i = 0; i < ob.vert.size(); i++)
            ob.vert[i] = (int16_t)(ob.vert[i] + (i % 4 == 3 ? 0 : ob.vert[i] / 5 + 3));
    for (size_t i = 0; i < v[1].objects[0].norm.size(); i += 4)
        v[1].objects[0].norm[i + (i / 4) % 3] += 1000;
    return v;
}

// The corners of an object's primitives in kelo's layout: vertex, normal,
// U and V of each, as a set (import makes triangles of quads).
static std::set<std::array<uint32_t, 4>> corners(const KgxObjectArrays &ob)
{
    std::set<std::array<uint32_t, 4>> out;
    size_t at = 0;
    for (uint32_t header : ob.primHeaders) {
        uint32_t n = primPacketWords(header) / 2;
        for (uint32_t c = 0; c < n; c++) {
            uint32_t word = loadLE32(&ob.packets[at + 4 * c]);
            out.insert({cornerIndex(word), cornerIndex(loadLE32(&ob.packets[at + 4 * (n + c)])), cornerU(word), cornerV(word)});
        }
        at += 8 * (size_t)n;
    }
    return out;
}

class Gltf : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("gltf_test_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        base = generatedModel();
        for (const KgxObjectArrays &ob : base)
            scales.push_back(ob.scale);
        variants = generatedVariants(base);
        GltfProblem p = gltfFromKgx("generated.kgx", base, variants, 0, true, &asset);
        ASSERT_FALSE(p) << p.what;
        for (const char *name : {"model.glb", "model.gltf"}) {
            p = gltfWrite(asset, path(name));
            ASSERT_FALSE(p) << p.file << ": " << p.what;
        }
    }
    void TearDown() override
    {
        if (!HasFailure())
            fs::remove_all(dir);
    }
    std::string path(const std::string &name) const { return (dir / name).string(); }

    fs::path dir;
    std::vector<KgxObjectArrays> base;
    std::vector<KgxVariant> variants;
    std::vector<uint32_t> scales;
    GltfAsset asset;
};

// Both encodings read back as written, and import gives back the KGX values
// of the base and of every variant exactly.
TEST_F(Gltf, ReadsBackWhatItWrote)
{
    for (const char *name : {"model.glb", "model.gltf"}) {
        GltfAsset back;
        GltfProblem p = gltfRead(path(name), &back);
        ASSERT_FALSE(p) << p.what;
        EXPECT_TRUE(back == asset) << name;

        KgxImport im;
        p = gltfToKgx(path(name), back, scales, &im);
        ASSERT_FALSE(p) << p.what;
        ASSERT_EQ(im.variants.size(), variants.size());
        for (size_t t = 0; t <= variants.size(); t++) {
            const auto &want = t ? variants[t - 1].objects : base;
            const auto &got = t ? im.variants[t - 1] : im.base;
            ASSERT_EQ(got.size(), want.size());
            for (size_t k = 0; k < want.size(); k++)
                EXPECT_TRUE(got[k].vert == want[k].vert && got[k].norm == want[k].norm &&
                            got[k].scale == want[k].scale)
                    << name << ": model " << t << " object " << k;
        }
        EXPECT_EQ(corners(im.base[0]), corners(base[0])) << name;
    }
    // Without the KGX numbers, equal positions and moves weld: one KGX
    // vertex per vertex of the model again, every one of them distinct.
    GltfAsset plain = asset;
    for (GltfObject &ob : plain.objects)
        ob.corner.clear();
    KgxImport im;
    GltfProblem p = gltfToKgx("plain", plain, scales, &im);
    ASSERT_FALSE(p) << p.what;
    for (size_t k = 0; k < base.size(); k++)
        EXPECT_EQ(im.base[k].vert.size(), base[k].vert.size()) << "object " << k;
}

static std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(Gltf, RefusesBadFiles)
{
    using nlohmann::json;
    const json good = json::parse(slurp(path("model.gltf")));
    struct Case {
        const char *name;
        std::string bytes;
        const char *expected;
    };
    auto edited = [&](auto edit) {
        json j = good;
        edit(j);
        return j.dump();
    };
    const Case cases[] = {
        {"text.gltf", "solid cube\nfacet normal 0 0 1\n", "not a glTF file"},
        {"cut.glb", slurp(path("model.glb")).substr(0, 200), "truncated GLB"},
        {"nopos.gltf", edited([](json &j) { j["meshes"][0]["primitives"][1]["attributes"].erase("POSITION"); }),
         "mesh 0 primitive 1: no POSITION"},
        {"count.gltf", edited([](json &j) {
             auto &p = j["meshes"][0]["primitives"];
             p[2]["targets"][1]["POSITION"] = p[0]["attributes"]["POSITION"];
         }),
         "mesh 0 primitive 2: morph target 1: POSITION: accessor"},
        {"targets.gltf", edited([](json &j) { j["meshes"][0]["primitives"][2]["targets"].erase(0); }),
         "mesh 0 primitive 2: 2 morph targets, the first primitive has 3"},
        {"nobuffer.gltf", edited([](json &j) { j["buffers"][0]["uri"] = "missing.bin"; }), "missing.bin"},
        {"index.gltf", edited([](json &j) { j["accessors"][j["meshes"][0]["primitives"][0]["indices"].get<int>()]["count"] = 9999; }),
         "reaches beyond its buffer"},
    };
    for (const Case &c : cases) {
        std::ofstream(path(c.name), std::ios::binary) << c.bytes;
        GltfAsset a;
        GltfProblem p = gltfRead(path(c.name), &a);
        EXPECT_EQ(p.file, path(c.name));
        EXPECT_NE(p.what.find(c.expected), std::string::npos) << c.name << ": " << p.what;
    }
    // Import: a coordinate beyond 16 bits at the scale given, and the scale
    // that fits names the largest coordinate of base and targets alike.
    KgxImport im;
    GltfProblem p = gltfToKgx("big.glb", asset, {100 * SCALE_WORD_ONE}, &im);
    EXPECT_NE(p.what.find("object 1 vertex 0: coordinate -600 does not fit scale 100"), std::string::npos) << p.what;
    uint32_t fit = gltfFitScale(asset);
    EXPECT_FALSE(gltfToKgx("fit.glb", asset, {fit}, &im)) << fit;
    EXPECT_TRUE(gltfToKgx("fit.glb", asset, {fit + fit / 1000}, &im));
}

// What of the node tools is missing, or "".
static std::string toolsMissing()
{
    const char *chromium = getenv("CHROMIUM");
    for (std::string need : {"node_modules/gltf-validator", "node_modules/three", "node_modules/playwright-core"})
        if (!fs::exists(GLTF_TOOLS "/" + need))
            return GLTF_TOOLS "/" + need;
    if (std::system("node --version >/dev/null 2>&1") != 0)
        return "node";
    return fs::exists(chromium ? chromium : "/usr/bin/chromium") ? "" : "chromium";
}

static int run(const std::string &command, std::string *out)
{
    FILE *fp = popen(command.c_str(), "r");
    char block[4096];
    for (size_t got; fp && (got = fread(block, 1, sizeof block, fp)) > 0;)
        out->append(block, got);
    return fp ? pclose(fp) : -1;
}

TEST_F(Gltf, ValidatorAndBrowserAgree)
{
    // Without the tools the test is skipped, except in CI, where it fails.
    if (std::string missing = toolsMissing(); !missing.empty()) {
        if (getenv("CI"))
            FAIL() << missing << " is missing: run scripts/setup";
        GTEST_SKIP() << missing << " is missing: run scripts/setup";
    }
    const std::string tools = GLTF_TOOLS;
    std::string report;
    EXPECT_EQ(run("node " + tools + "/validate.mjs " + path("model.glb") + " " + path("model.gltf"), &report), 0)
        << report;

    const int k = 1;  // "swell": every object moves
    std::string out;
    ASSERT_EQ(run("node " + tools + "/morph.mjs " + path("model.gltf") + " " + std::to_string(k) + " " +
                      path("at0.png") + " " + path("at1.png"),
                  &out),
              0);
    nlohmann::json seen = nlohmann::json::parse(out);
    ASSERT_EQ(seen.size(), asset.objects.size());
    for (size_t o = 0; o < asset.objects.size(); o++) {
        const GltfObject &ob = asset.objects[o];
        ASSERT_EQ(seen[o].size(), ob.position.size());
        for (size_t i = 0; i < ob.position.size(); i++)
            EXPECT_EQ(seen[o][i].get<double>(), (double)ob.position[i] + ob.targets[k].position[i])
                << "object " << o << " value " << i;
    }
    EXPECT_NE(slurp(path("at0.png")), slurp(path("at1.png")));
}
