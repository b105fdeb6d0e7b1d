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

// The sample models kelo exports for Blender to open, their targets unnamed.
const std::string EX = (HERE.parent_path() / "examples/").string();
const std::vector<std::string> SAMPLES = {EX + "base.kgx", EX + "moved.kgx", EX + "normals.kgx"};

// The one Blender run, before every test: make.py exports the scenes it makes
// and says where Blender shows them (made.json); reopen.py does so for the
// asset kelo exported of the samples, ex.glb (opened.json), and exports it
// again untouched, as ex_same.glb.
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
        std::string keyblend = KEYBLEND + " -n -o ex";
        for (const std::string &model : SAMPLES)
            keyblend += " " + model;
        ASSERT_EQ(sh(dir->dir, keyblend).code, 0);
        Result r =
            sh(dir->dir, KELO + " export " + SAMPLES[0] + " --vdf ex.vdf --ndf ex.ndf -o ex.glb");
        ASSERT_EQ(r.code, 0) << r.err;
        // Blender's Python takes its prefix from the first python3 on PATH:
        // another install there would hide Debian's numpy from it.
        r = run(dir->dir,
                words(blender + " -b --factory-startup --python-exit-code 1 -P " +
                      (HERE / "blender/make.py").string() + " -P " +
                      (HERE / "blender/reopen.py").string() + " -- . ex.glb"),
                {"PATH=/usr/bin:/bin"}, 60000);
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

struct Made : ::testing::TestWithParam<std::string> {};

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

// Opened in Blender, the samples' asset has one shape key per variant group,
// in order, named as export names them, each at value 1 where the variant
// lies; exported again by Blender, which splits and renumbers its vertices,
// import --like the base and keyblend on its argument file give the vertex
// differences export started from, byte for byte.
TEST(Blender, OpensInBlenderAndComesBackOntoItsBase)
{
    const fs::path &dir = BlenderRun::dir->dir;
    const json &seen = BlenderRun::opened.at("ex.glb");
    EXPECT_EQ(seen["keys"], json({"variant0", "variant1"}));
    expectSamePlaces(seen["points"], dir, SAMPLES, 0.01);
    Result r = sh(dir, KELO + " import ex_same.glb --like " + SAMPLES[0] +
                           " --variants ex_same -o ex_same.kgx");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(sh(dir, KEYBLEND + " ex_same.arg").code, 0);
    EXPECT_EQ(slurp(dir / "ex_same.vdf"), slurp(dir / "ex.vdf"));
}
