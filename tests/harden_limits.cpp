// harden_limits.cpp -- counts and offsets near 2^32, long names, deep
// directories and very long argument lists
#include "harden_util.h"

#include <gtest/gtest.h>

using namespace harden;

namespace {

// Runs keyblend in dir; a test keeps its directory when it fails.
class HardenLimits : public ::testing::Test {
protected:
    fs::path dir = scratchDir();
    void TearDown() override
    {
        if (!HasFailure())
            fs::remove_all(dir);
    }
    Result keyblend(std::vector<std::string> args, const fs::path &in = {})
    {
        args.insert(args.begin(), KEYBLEND_BIN);
        return run(in.empty() ? dir : in, args, 60000);
    }
};

// Offsets of the words of the first object entry.
enum { OBJECTS = 8, VERT_TOP = 12, N_VERT = 16, NORM_TOP = 20, N_NORM = 24, PRIM_TOP = 28,
       N_PRIM = 32, PRIM0 = 12 + 28 + 3 * 8 + 8 };

struct HugeCase {
    const char *name;
    size_t at;          // word set in both models (PRIM0: the packet length byte)
    uint32_t value;
    bool baseOnly;
    bool same;  // the variant is a copy of the base
    int code;
    const char *report;  // start of the last line on the error stream
};

class Huge : public HardenLimits, public ::testing::WithParamInterface<HugeCase> {};

// A tiny model that claims billions of something ends in the read or seek
// report at once, without reading on and without memory growing with the
// claim.
TEST_P(Huge, EndsInItsReportAtOnce)
{
    const HugeCase &c = GetParam();
    std::string b = simpleModel(3), v = c.same ? b : simpleModel(3, 5);
    for (std::string *m : {&b, &v}) {
        if (m == &v && c.baseOnly)
            break;
        if (c.at == PRIM0)
            (*m)[PRIM0 + 1] = (char)c.value;
        else
            setLe(*m, c.at, c.value);
    }
    writeFile(dir / "b.kgx", b);
    writeFile(dir / "v.kgx", v);
    Result r = keyblend({"-n", "-t", "b", "v"});
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.report), std::string::npos) << r.err;
    EXPECT_LT(r.seconds, 10);
    EXPECT_LT(r.maxRssKb, 200 * 1024);
}

const HugeCase hugeCases[] = {
    // Object 1's entry is read from the vertex data; its normal top points
    // past the end.
    {"ObjectCount", OBJECTS, 0xFFFFFFFF, false, true, 45,
     "\nUnexpected EOF: \"b.kgx\" at 65549 bytes"},
    {"VertexCount", N_VERT, 0xFFFFFFFF, false, false, 45, "\nUnexpected EOF: \"b.kgx\" at 88 bytes"},
    {"NormalCount", N_NORM, 0xFFFFFFFF, false, false, 45, "\nUnexpected EOF: \"b.kgx\" at 88 bytes"},
    {"PrimitiveCount", N_PRIM, 0xFFFFFFFF, false, false, 41, "\nUnexpected EOF: \"b.kgx\" at 92 bytes"},
    {"VertexCountOfBaseOnly", N_VERT, 0x80000000, true, false, 0, "No. of Vertices differ(\"v.kgx\")"},
    {"VertexTopWrapsAround", VERT_TOP, 0xFFFFFFF0, false, false, 32, "\nSeek error \"b.kgx\" at -4 bytes"},
    {"VertexTopPastTwoGiB", VERT_TOP, 0x80000000, false, false, 32, "\nSeek error \"b.kgx\" at "},
    {"VertexTopFarPastEnd", VERT_TOP, 0x7FFFFFF0, false, false, 45,
     "\nUnexpected EOF: \"b.kgx\" at 2147483644 bytes"},
    // 12 + 0xFFFFFFFF wraps to 11, inside the file: read from there.
    {"NormalTopWrapsIntoTheFile", NORM_TOP, 0xFFFFFFFF, false, false, 0, ""},
    {"PrimitiveTopPastTwoGiB", PRIM_TOP, 0x7FFFFFFF, false, false, 32, "\nSeek error \"b.kgx\" at "},
    {"PacketOf255Words", PRIM0, 255, false, false, 43, "\nUnexpected EOF: \"b.kgx\" at 76 bytes"},
};

// Test names already say which row; print no more than that.
void PrintTo(const HugeCase &c, std::ostream *os)
{
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(Harden, Huge, ::testing::ValuesIn(hugeCases),
                         [](const auto &p) { return std::string(p.param.name); });

// Names: absolute paths of 4000 characters through components of 255, a
// file name of 255 characters reached by the extension fallback from a
// directory, and 400 levels of relative directories.  Each run must give
// the bytes a run with short names gives.
TEST_F(HardenLimits, LongNamesGiveTheSameOutputs)
{
    writeFile(dir / "b.kgx", simpleModel(4));
    writeFile(dir / "v.kgx", simpleModel(4, 3));
    ASSERT_EQ(keyblend({"-n", "-t", "b", "v"}).code, 0);
    const std::string vdf = readFile(dir / "b.vdf"), tdf = readFile(dir / "b.tdf");

    fs::path deep = dir;
    auto left = [&] { return 4000 - (long)deep.string().size() - 1; };  // for the file name
    while (left() > 255)
        deep /= std::string((size_t)std::min(255L, left() - 129), 'p');
    fs::path name = deep / (std::string((size_t)left() - 4, 'b') + ".kgx");
    ASSERT_EQ(name.string().size(), 4000u);
    std::string c255(251, 'c'), nested = "d";
    for (int i = 0; i < 399; i++)
        nested += "/d";
    fs::create_directories(deep);
    fs::create_directories(dir / "s");
    fs::create_directories(dir / nested);
    fs::copy_file(dir / "b.kgx", name);
    fs::copy_file(dir / "v.kgx", deep / "v.kgx");
    fs::copy_file(dir / "b.kgx", dir / "s" / (c255 + ".kgx"));
    fs::copy_file(dir / "v.kgx", dir / nested / "v.kgx");

    struct {
        std::vector<std::string> args;
        fs::path vdf, tdf;
    } rows[] = {
        {{"-n", "-t", "-o", (deep / "o").string(), name.string(), (deep / "v").string()},
         deep / "o.vdf", deep / "o.tdf"},
        {{"-n", "-t", "s/" + c255, nested + "/v"}, dir / (c255 + ".vdf"), dir / (c255 + ".tdf")},
        {{"-t", "-o", nested + "/o", "b", nested + "/v"}, dir / nested / "o.vdf",
         dir / nested / "o.tdf"},
    };
    for (auto &row : rows) {
        Result r = keyblend(row.args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(readFile(row.vdf), vdf);
        EXPECT_EQ(readFile(row.tdf), tdf);
    }
}

// Names beyond what the system or the canonicaliser takes end in their
// defined reports with the name, and nothing is written past a buffer.
TEST_F(HardenLimits, NamesBeyondTheLimitsFailClearly)
{
    std::string d254(254, 'd');
    writeFile(dir / d254, simpleModel(2));
    writeFile(dir / "b.kgx", simpleModel(2));
    writeFile(dir / "v.kgx", simpleModel(2, 1));
    fs::path cwd = dir;
    while (cwd.string().size() < 300)
        cwd /= std::string(100, 'w');
    fs::create_directories(cwd);

    // The output name d254.vdf is longer than a component may be.
    Result r = keyblend({d254, "v"});
    EXPECT_EQ(r.code, 30);
    EXPECT_NE(r.err.find("\nCannot open: \"" + d254 + ".vdf\"\n"), std::string::npos) << r.err;
    // A working directory of more than 254 characters cannot be had for a
    // relative name's full path.
    r = keyblend({"../../../b", "../../../v"}, cwd);
    EXPECT_EQ(r.code, 51);
    EXPECT_NE(r.err.find("\nCannot getcwd: \"../../../b.kgx\"\n"), std::string::npos) << r.err;
    // With absolute names only, such a working directory does no harm.
    r = keyblend({"-o", (dir / "o").string(), (dir / "b").string(), (dir / "v").string()}, cwd);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(le32(readFile(dir / "o.vdf")), 1u);
}

// Argument files with tokens of a megabyte and with tens of thousands of
// entries, and a command line of twenty thousand words.
TEST_F(HardenLimits, HugeArgumentLists)
{
    writeFile(dir / "b.kgx", simpleModel(2));
    writeFile(dir / "v.kgx", simpleModel(2, 1));
    std::string big(1 << 20, 'x');
    writeFile(dir / "long.arg", "-n b " + big + " v\n" + big + ".kgx");
    Result r = keyblend({"long.arg"});
    EXPECT_EQ(r.code, 0) << r.err;  // names too long to open are skipped
    EXPECT_EQ(le32(readFile(dir / "b.vdf")), 1u);
    EXPECT_EQ(le32(readFile(dir / "b.ndf")), 1u);

    writeFile(dir / "longbase.arg", big + " v");
    r = keyblend({"longbase.arg"});
    EXPECT_EQ(r.code, 232);
    EXPECT_NE(r.err.find("\nCannot open: \"" + big + "\"\n"), std::string::npos);

    const uint32_t n = 30000;
    std::string many = "b";
    for (uint32_t i = 0; i < n; i++)
        many += i % 3 ? " v" : "\tmissing\n";
    writeFile(dir / "many.arg", many);
    r = keyblend({"many.arg"});
    EXPECT_EQ(r.code, 0) << r.err.substr(0, 400);
    std::string vdf = readFile(dir / "b.vdf");
    EXPECT_EQ(le32(vdf), n / 3 * 2);
    EXPECT_EQ(vdf.size(), 4 + (n / 3 * 2) * (12 + 2 * 8));  // two changed vertices each

    std::vector<std::string> words = {"b"};
    for (uint32_t i = 0; i < 20000; i++)
        words.push_back("v");
    r = keyblend(words);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(le32(readFile(dir / "b.vdf")), 20000u);
}

}  // namespace
