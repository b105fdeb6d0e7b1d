// gltf_test.cpp -- kelo's glTF module on a generated model of several
// objects and targets: what it writes reads back exactly and maps back to
// the same KGX values, bad files are refused with their reason, and (with
// the node tools of this folder) the Khronos validator finds nothing and
// three.js in headless Chromium sees base + offset at weight 1.
#include "gltf_io.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

// A primitive of n corners: word c holds vertex and texture bytes, and with
// normals word n + c the normal number (kelo's layout); without, the packet
// has one word per corner and normals are numbered as the vertices.
static void addPrimitive(KgxObjectArrays *ob, bool textured, std::vector<uint16_t> vertices,
                         std::vector<uint16_t> normals)
{
    uint32_t n = (uint32_t)vertices.size();
    uint32_t mode = (textured ? MODE_TEXTURED : 0) | (n == 4 ? MODE_FOUR_CORNERS : 0);
    ob->primHeaders.push_back(primHeader(mode, n + (uint32_t)normals.size()));
    std::vector<uint32_t> words;
    for (uint32_t c = 0; c < n; c++)
        words.push_back(cornerWord(vertices[c], (uint8_t)(40 * c + 7), (uint8_t)(255 - 50 * c)));
    for (uint16_t k : normals)
        words.push_back(cornerWord(k));
    for (uint32_t w : words) {
        ob->packets.resize(ob->packets.size() + 4);
        storeLE32(&ob->packets[ob->packets.size() - 4], w);
    }
}

static void addElement(std::vector<int16_t> *values, int x, int y, int z)
{
    values->insert(values->end(), {(int16_t)x, (int16_t)y, (int16_t)z, 0});
}

// Four objects: a cube of textured quads with per-face normals; a 9 x 9
// grid of untextured triangles (one vertex and one normal unused, scale
// word 0); a fan of one-word packets with normals of length 4096.3 (as the
// example models have); and a cloud of points without primitives.
static std::vector<KgxObjectArrays> generatedModel()
{
    std::vector<KgxObjectArrays> m(4);
    for (int i = 0; i < 8; i++)
        addElement(&m[0].vert, i & 1 ? 1000 : -1000, i & 2 ? 1000 : -1000, i & 4 ? 1000 : -1000);
    for (int a = 0; a < 3; a++)
        for (int s : {-4096, 4096})
            addElement(&m[0].norm, a == 0 ? s : 0, a == 1 ? s : 0, a == 2 ? s : 0);
    const uint16_t faces[6][4] = {{0, 2, 6, 4}, {1, 5, 7, 3}, {0, 4, 5, 1},
                                  {2, 3, 7, 6}, {0, 1, 3, 2}, {4, 6, 7, 5}};
    for (uint16_t f = 0; f < 6; f++)
        addPrimitive(&m[0], true, {faces[f][0], faces[f][1], faces[f][2], faces[f][3]}, {f, f, f, f});
    m[0].scale = 1000 * SCALE_WORD_ONE;

    for (int i = 0; i <= 81; i++)
        addElement(&m[1].vert, 300 * (i % 9) - 1200, 300 * (i / 9) - 1200, 40 * (i % 5));
    addElement(&m[1].norm, 0, 0, 4096);
    addElement(&m[1].norm, 0, 4096, 0);
    for (uint16_t r = 0; r < 8; r++)
        for (uint16_t c = 0; c < 8; c++) {
            uint16_t v = (uint16_t)(9 * r + c);
            addPrimitive(&m[1], false, {v, (uint16_t)(v + 1), (uint16_t)(v + 10)}, {0, 0, 0});
            addPrimitive(&m[1], false, {v, (uint16_t)(v + 10), (uint16_t)(v + 9)}, {0, 0, 0});
        }

    for (int i = 0; i < 6; i++) {
        addElement(&m[2].vert, 800 * (i % 3), 800 * (i / 3), 2000 + 100 * i);
        addElement(&m[2].norm, i % 2 ? 2365 : -2365, i % 3 ? 2365 : -2365, 2365);
    }
    for (uint16_t i = 1; i + 1 < 6; i++)
        addPrimitive(&m[2], i % 2, {0, i, (uint16_t)(i + 1)}, {});
    m[2].scale = 1000;

    for (int i = 0; i < 5; i++)
        addElement(&m[3].vert, -3000 + 7 * i, 3000 - 11 * i, 500 * i);
    m[3].scale = 500 * SCALE_WORD_ONE;
    return m;
}

// "lift" moves one grid vertex (a sparse target), "swell" moves every
// vertex and turns the cube's normals (dense), "still" moves nothing.
static std::vector<KgxVariant> generatedVariants(const std::vector<KgxObjectArrays> &base)
{
    std::vector<KgxVariant> v = {{"lift", base}, {"swell", base}, {"still", base}};
    v[0].objects[1].vert[4 * 40 + 2] += 700;
    for (KgxObjectArrays &ob : v[1].objects)
        for (size_t i = 0; i < ob.vert.size(); i++)
            ob.vert[i] = (int16_t)(ob.vert[i] + (i % 4 == 3 ? 0 : ob.vert[i] / 5 + 3));
    for (size_t i = 0; i < v[1].objects[0].norm.size(); i += 4)
        v[1].objects[0].norm[i + (i / 4) % 3] += 1000;
    return v;
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
    std::vector<uint32_t> scales() const
    {
        std::vector<uint32_t> words;
        for (const KgxObjectArrays &ob : base)
            words.push_back(ob.scale);
        return words;
    }

    fs::path dir;
    std::vector<KgxObjectArrays> base;
    std::vector<KgxVariant> variants;
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
        p = gltfToKgx(path(name), back, scales(), &im);
        ASSERT_FALSE(p) << p.what;
        ASSERT_EQ(im.base.size(), base.size());
        ASSERT_EQ(im.variants.size(), variants.size());
        for (size_t k = 0; k < base.size(); k++) {
            EXPECT_EQ(im.base[k].vert, base[k].vert) << "object " << k;
            EXPECT_EQ(im.base[k].norm, base[k].norm) << "object " << k;
            EXPECT_EQ(im.base[k].scale, base[k].scale);
            for (size_t t = 0; t < variants.size(); t++) {
                EXPECT_EQ(im.variants[t][k].vert, variants[t].objects[k].vert) << t << " " << k;
                EXPECT_EQ(im.variants[t][k].norm, variants[t].objects[k].norm) << t << " " << k;
            }
        }
    }
    // Without the KGX numbers, equal positions and moves weld: one KGX
    // vertex per vertex of the model again, every one of them distinct.
    GltfAsset plain = asset;
    for (GltfObject &ob : plain.objects)
        ob.corner.clear();
    KgxImport im;
    GltfProblem p = gltfToKgx("plain", plain, scales(), &im);
    ASSERT_FALSE(p) << p.what;
    for (size_t k = 0; k < base.size(); k++)
        EXPECT_EQ(im.base[k].vert.size(), base[k].vert.size()) << "object " << k;
}

static std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

static void spill(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
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
        {"targets.gltf", edited([](json &j) { j["meshes"][0]["primitives"][3]["targets"].erase(0); }),
         "mesh 0 primitive 3: 2 morph targets, the first primitive has 3"},
        {"nobuffer.gltf", edited([](json &j) { j["buffers"][0]["uri"] = "missing.bin"; }), "missing.bin"},
        {"index.gltf", edited([](json &j) { j["accessors"][j["meshes"][0]["primitives"][0]["indices"].get<int>()]["count"] = 9999; }),
         "mesh 0 primitive 0: accessor"},
    };
    for (const Case &c : cases) {
        spill(path(c.name), c.bytes);
        GltfAsset a;
        GltfProblem p = gltfRead(path(c.name), &a);
        EXPECT_EQ(p.file, path(c.name));
        EXPECT_NE(p.what.find(c.expected), std::string::npos) << c.name << ": " << p.what;
    }
    // Import: a coordinate beyond 16 bits at the scale given, and the scale
    // that fits names the largest coordinate of base and targets alike.
    KgxImport im;
    GltfProblem p = gltfToKgx("big.glb", asset, {100 * SCALE_WORD_ONE}, &im);
    EXPECT_NE(p.what.find("object 1 vertex 0: coordinate -1200 does not fit scale 100"), std::string::npos) << p.what;
    uint32_t fit = gltfFitScale(asset);
    EXPECT_FALSE(gltfToKgx("fit.glb", asset, {fit}, &im)) << fit;
    EXPECT_TRUE(gltfToKgx("fit.glb", asset, {fit + fit / 1000}, &im));
}

// The node tools: present, or this is not CI and the test is skipped.
static bool toolsMissing(std::string *why)
{
    const fs::path tools = GLTF_TOOLS;
    for (const char *need : {"node_modules/gltf-validator", "node_modules/three", "node_modules/playwright-core"})
        if (!fs::exists(tools / need))
            *why = tools.string() + "/" + need + " is missing: run scripts/setup";
    if (std::system("node --version >/dev/null 2>&1") != 0)
        *why = "node is missing";
    const char *chromium = getenv("CHROMIUM");
    if (!fs::exists(chromium ? chromium : "/usr/bin/chromium"))
        *why = "chromium is missing: run scripts/setup";
    return !why->empty();
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
    std::string why;
    if (toolsMissing(&why)) {
        if (getenv("CI"))
            FAIL() << why;
        GTEST_SKIP() << why;
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
