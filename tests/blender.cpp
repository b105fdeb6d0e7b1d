// blender.cpp -- shape keys between Blender and kelo, Debian's Blender run
// headless once on the scripts of tests/blender: its scenes come in where it
// shows them, kelo's assets open with one shape key per variant, and an asset
// that went through Blender comes back onto its base with its differences
#include "kit/test.h"
#include "mesh.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace kit;
using nlohmann::json;

namespace {

const fs::path HERE = fs::path(__FILE__).parent_path();

// A box of six textured four-corner faces, a flat normal each (named by the
// second half of the packet).  Variant 0 lifts the top, 1 moves a corner, 2
// is the base.
std::string quads(int variant)
{
    const uint32_t faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                  {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    Obj box;
    for (int i = 0; i < 8; i++)
        box.verts.push_back({int16_t(i & 1 ? 500 : -500), int16_t(i & 2 ? 500 : -500),
                             int16_t(i & 4 ? (variant == 0 ? 800 : 500) : -500), 0});
    box.verts[1][0] += variant == 1 ? 100 : 0;
    for (uint32_t f = 0; f < 6; f++) {
        Elem n{};
        n[2 - f / 2] = f % 2 ? 4096 : -4096;
        box.norms.push_back(n);
        const uint32_t *c = faces[f];
        box.prims.push_back(
            prim(MODE_TEXTURED | MODE_FOUR_CORNERS,
                 le32({cornerWord(c[0], 0, 0), cornerWord(c[1], 255, 0), cornerWord(c[2], 255, 255),
                       cornerWord(c[3], 0, 255), f, f, f, f})));
    }
    box.scale = 1000;
    return bytes({{box}});
}

// Per vertex: x y z in the base, then in each variant, side by side.
using Rows = std::vector<std::vector<double>>;

// Blender's rows (keys.points, in metres) and those of the models in dir (a
// base and its variants, as keyblend takes them, in steps of the base's first
// object's scale) match both ways within tol steps: a vertex of each lies
// where one of the other does, in the base and in every variant.
void expectSamePlaces(const json &points, const fs::path &dir,
                      const std::vector<std::string> &models, double tol)
{
    std::vector<::Model> m(models.size());
    for (size_t k = 0; k < models.size(); k++)
        ASSERT_FALSE(modelLoad((dir / models[k]).string(), m[k])) << models[k];
    Rows kgx, seen = points.get<Rows>();
    for (uint32_t o = 0; o < m[0].obj.size(); o++)
        for (uint32_t j = 0; j < m[0].obj[o].nVert; j++) {
            auto &row = kgx.emplace_back();
            for (const ::Model &v : m)
                for (uint32_t a = 0; a < 3; a++)
                    row.push_back(v.value(v.vertexAt(o, j) + 2 * a));
        }
    for (auto &row : seen)
        for (double &x : row)
            x *= scaleOf(m[0].obj[0].scale) / double(SCALE_ONE);
    // The rows of a that no row of b matches within tol in every value.
    auto unmatched = [tol](const Rows &a, const Rows &b) {
        auto near = [tol](double x, double y) { return std::abs(x - y) <= tol; };
        return std::ranges::count_if(a, [&](const auto &r) {
            return std::ranges::none_of(
                b, [&](const auto &s) { return std::ranges::equal(r, s, near); });
        });
    };
    EXPECT_EQ(unmatched(seen, kgx), 0) << "of " << seen.size();
    EXPECT_EQ(unmatched(kgx, seen), 0) << "of " << kgx.size();
}

// The assets kelo exports for Blender to open: the sample models, their
// targets unnamed, and quads(), its targets named by --names.  models: the
// base, then the variants.
struct Exported {
    std::string name;
    std::vector<std::string> models;
    std::string names;
    std::vector<std::string> keys;
};
const std::string EX = (HERE.parent_path() / "examples/").string();
const Exported EXPORTED[] = {
    {"ex", {EX + "base.kgx", EX + "moved.kgx", EX + "normals.kgx"}, "", {"variant0", "variant1"}},
    {"quads",
     {"quads.kgx", "q0.kgx", "q1.kgx", "q2.kgx"},
     " --names Lift,Poke,Rest",
     {"Lift", "Poke", "Rest"}},
};

// The one Blender run, before every test: make.py exports the scenes it makes
// and says where Blender shows them (made.json); reopen.py does so for the
// assets kelo exported (opened.json) and exports them again untouched, as
// NAME_same.glb.
struct BlenderRun : ::testing::Environment {
    static inline std::unique_ptr<Scratch> dir;
    static inline json made, opened;

    void SetUp() override
    {
        const std::string blender = "/usr/bin/blender";
        if (!fs::exists(blender)) {
            ASSERT_FALSE(getenv("CI")) << "CI runs the Blender tests: scripts/setup installs it";
            GTEST_SKIP() << "skipped: no Blender (scripts/setup installs it)";
        }
        dir = std::make_unique<Scratch>();
        for (int v = -1; v < 3; v++)
            spit(*dir / (v < 0 ? "quads.kgx" : format("q%d.kgx", v)), quads(v));
        std::vector<std::string> argv =
            words(blender + " -b --factory-startup --python-exit-code 1 -P " +
                  (HERE / "blender/make.py").string() + " -P " +
                  (HERE / "blender/reopen.py").string() + " -- .");
        for (const Exported &a : EXPORTED) {
            std::string keyblend = KEYBLEND + " -n -o " + a.name;
            for (const std::string &model : a.models)
                keyblend += " " + model;
            ASSERT_EQ(sh(dir->dir, keyblend).code, 0);
            Result r =
                sh(dir->dir, KELO + " export " + a.models[0] + " --vdf " + a.name + ".vdf --ndf " +
                                 a.name + ".ndf" + a.names + " -o " + a.name + ".glb");
            ASSERT_EQ(r.code, 0) << r.err;
            argv.push_back(a.name + ".glb");
        }
        // Blender's Python takes its prefix from the first python3 on PATH:
        // another install there would hide Debian's numpy from it.
        Result r = run(dir->dir, argv, {"PATH=/usr/bin:/bin"}, 60000);
        ASSERT_EQ(r.code, 0) << r.out << r.err;
        made = json::parse(slurp(*dir / "made.json"));
        opened = json::parse(slurp(*dir / "opened.json"));
    }
    void TearDown() override
    {
        // Kept for a look when a case failed: a Scratch without a path removes nothing.
        if (dir && ::testing::UnitTest::GetInstance()->failed_test_count() > 0) {
            fprintf(stderr, "scratch directory kept: %s\n", dir->dir.c_str());
            dir->dir.clear();
        }
        dir.reset();
    }
};
::testing::Environment *const blenderRun = ::testing::AddGlobalTestEnvironment(new BlenderRun);

void PrintTo(const Exported &a, std::ostream *os) { *os << a.name; }

struct Made : ::testing::TestWithParam<std::string> {};
struct Back : ::testing::TestWithParam<Exported> {};

}  // namespace

// Import --variants (each key's file named after it), keyblend and apply put
// every vertex of every key where Blender shows it, within half a step.
TEST_P(Made, ComesInWhereBlenderShowsIt)
{
    const fs::path &dir = BlenderRun::dir->dir;
    const std::string stem = GetParam();
    const json &scene = BlenderRun::made.at(stem + ".glb");
    Result r = sh(dir, KELO + " import " + stem + ".glb -o " + stem + ".kgx --variants " + stem);
    ASSERT_EQ(r.code, 0) << r.err;
    std::string keyblend = KEYBLEND + " " + stem + ".kgx";
    for (const auto &key : scene["keys"])
        keyblend += " " + stem + "_" + key.get<std::string>() + ".kgx";
    ASSERT_EQ(sh(dir, keyblend).code, 0) << "import wrote:\n" << r.out;
    std::vector<std::string> models = {stem + ".kgx"};
    for (size_t k = 0; k < scene["keys"].size(); k++) {
        models.push_back(format("%s%zu.kgx", stem.c_str(), k));
        ASSERT_EQ(sh(dir, format("%s apply %s.kgx --variant %zu --vdf %s.vdf -o %s", KELO.c_str(),
                                 stem.c_str(), k, stem.c_str(), models.back().c_str()))
                      .code,
                  0);
    }
    expectSamePlaces(scene["points"], dir, models, 0.51);
}
// A monkey with a key that squashes, one that moves a vertex, one that moves
// nothing; a cone moved, turned and scaled below a parent, its key named in
// Japanese; a torus of two materials; a monkey and a sphere, keys of their own.
INSTANTIATE_TEST_SUITE_P(Blender, Made, ::testing::Values("monkey", "placed", "torus", "pair"),
                         [](const auto &each) { return each.param; });

// Opened in Blender, the asset has one shape key per variant group, in order,
// named as export named them, each at value 1 where the variant lies; back
// through Blender, which splits and renumbers vertices and cuts four-corner
// faces in two, import --like the base and keyblend on the argument file
// import writes give the vertex differences export started from, byte for
// byte.
TEST_P(Back, OpensInBlenderAndComesBackOntoItsBase)
{
    const fs::path &dir = BlenderRun::dir->dir;
    const Exported &a = GetParam();
    const json &seen = BlenderRun::opened.at(a.name + ".glb");
    EXPECT_EQ(seen["keys"], json(a.keys));
    expectSamePlaces(seen["points"], dir, a.models, 0.01);
    const std::string p = a.name + "_same";
    Result r = sh(dir, KELO + " import " + p + ".glb --like " + a.models[0] + " --variants " + p +
                           " -o " + p + ".kgx");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(sh(dir, KEYBLEND + " " + p + ".arg").code, 0);
    EXPECT_EQ(slurp(dir / (p + ".vdf")), slurp(dir / (a.name + ".vdf")));
}
INSTANTIATE_TEST_SUITE_P(Blender, Back, ::testing::ValuesIn(EXPORTED),
                         [](const auto &each) { return each.param.name; });
