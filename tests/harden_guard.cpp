// harden_guard.cpp -- a run never writes an output over a file it reads
#include "harden_util.h"

#include <gtest/gtest.h>

using namespace harden;

namespace {

struct GuardCase {
    const char *name;
    // Shell-free setup: links to make (link name, target, hard?) beside
    // b.kgx, v.kgx and l.arg (which lists "b.kgx v.kgx").
    std::vector<std::tuple<const char *, const char *, bool>> links;
    std::vector<std::string> args;
    const char *output, *input;  // as the message names them
};

class Guard : public ::testing::TestWithParam<GuardCase> {};

TEST_P(Guard, RefusesBeforeCreatingAnything)
{
    const GuardCase &c = GetParam();
    fs::path dir = scratchDir();
    writeFile(dir / "b.kgx", simpleModel(3));
    writeFile(dir / "v.kgx", simpleModel(3, 7));
    writeFile(dir / "l.arg", "b.kgx v.kgx\n");
    fs::create_directory(dir / "sub");
    for (auto &[link, target, hard] : c.links) {
        if (hard)
            fs::create_hard_link(dir / target, dir / link);
        else
            fs::create_symlink(target, dir / link);
    }
    auto before = snapshot(dir);
    std::vector<std::string> argv = {KEYBLEND_BIN};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Result r = run(dir, argv);
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find(std::string("\nOutput \"") + c.output + "\" is the same file as input \"" +
                         c.input + "\": nothing written\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(snapshot(dir), before);  // every input whole, no output made
    if (!HasFailure())
        fs::remove_all(dir);
}

const GuardCase guardCases[] = {
    {"OutputIsSymlinkToBase", {{"b.vdf", "b.kgx", false}}, {"b", "v"}, "b.vdf", "b.kgx"},
    {"OutputIsHardLinkToBase", {{"b.vdf", "b.kgx", true}}, {"b.kgx", "v.kgx"}, "b.vdf", "b.kgx"},
    {"NormalOutputIsVariant", {{"b.ndf", "v.kgx", true}}, {"-n", "b", "v"}, "b.ndf", "v.kgx"},
    {"TextureOutputIsVariant", {{"b.tdf", "v.kgx", false}}, {"-t", "b", "v.kgx"}, "b.tdf",
     "v.kgx"},
    // The variant "v" opens as v.kgx by the extension fallback.
    {"OutputIsVariantByFallbackName", {{"o.vdf", "v.kgx", false}}, {"-o", "o", "b", "v"}, "o.vdf",
     "v.kgx"},
    {"OptionOutputSpellsBaseOtherwise", {{"sub/b.vdf", "../b.kgx", false}},
     {"-o", "./sub/../sub/b.x", "b", "v"}, "./sub/../sub/b.vdf", "b.kgx"},
    {"OutputIsArgumentFile", {{"b.vdf", "l.arg", false}}, {"l.arg"}, "b.vdf", "l.arg"},
    // A variant named like an output that does not exist yet would be
    // opened after the output is made and read back as a model.
    {"VariantIsOutputToBe", {}, {"b", "v", "b.vdf"}, "b.vdf", "b.vdf"},
    {"VariantIsOutputToBeOtherSpelling", {}, {"-n", "b", "v", "sub/../b.ndf"}, "b.ndf",
     "sub/../b.ndf"},
};

// Test names already say which row; print no more than that.
void PrintTo(const GuardCase &c, std::ostream *os)
{
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Harden, Guard, ::testing::ValuesIn(guardCases),
                         [](const auto &p) { return std::string(p.param.name); });

// Outputs that merely exist, or share a name with an input in another
// directory, are not inputs: the run goes ahead and replaces them.
TEST(HardenGuard, UnrelatedFilesAreNoObstacle)
{
    fs::path dir = scratchDir();
    fs::create_directory(dir / "m");
    writeFile(dir / "m/b.kgx", simpleModel(3));
    writeFile(dir / "m/b.vdf", "old");
    writeFile(dir / "b.vdf", "stale output");
    writeFile(dir / "v.kgx", simpleModel(3, 7));
    Result r = run(dir, {KEYBLEND_BIN, "m/b", "v"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(dir / "m/b.vdf"), "old");
    EXPECT_EQ(le32(readFile(dir / "b.vdf")), 1u);
    if (!HasFailure())
        fs::remove_all(dir);
}

}  // namespace
