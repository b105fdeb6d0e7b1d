// kelo_cli.cpp -- kelo's commands on hand-made files: dump's three forms,
// check's verdicts and offsets, refused models and the command line
#include "kit/test.h"

using namespace kit;

// The vertex file of one object with four vertices, of which vertex 1
// moved by (2, 0, -1, 0) and vertex 3 by (0, 5, 0, 0): one record, first 1,
// three elements, the middle one a zero element inside the run.
static const char ONE_RECORD[] = "01000000 00000000 01000000 03000000"
                                 " 0200 0000 ffff 0000  0000 0000 0000 0000  0000 0500 0000 0000";

// A base of one object: four vertices, two normals, one textured primitive.
static const std::string smallBase =
    bytes({{Obj{{4, {7, 7, 7, 7}}, {2, {1, 1, 1, 1}}, {prim(4, std::string(12, 9))}}}});

TEST(KeloDump, TextSummaryAndJson)
{
    Scratch dir;
    spit(dir / "t.vdf", unhex(ONE_RECORD));
    struct {
        std::string options, out;
    } cases[] = {
        {"", "t.vdf: vdf, 1 records, 1 variant groups\n"
             "record 0 at offset 4: group 0, object 0, first 1, count 3\n"
             "        1:      2      0     -1      0\n"
             "        2:      0      0      0      0\n"
             "        3:      0      5      0      0\n"},
        {"--summary", "t.vdf: vdf, 1 records, 1 variant groups\n"
                      "group  object   first   count  largest\n"
                      "    0       0       1       3        5\n"},
        {"--json", "{\"file\": \"t.vdf\", \"kind\": \"vdf\", \"count\": 1, \"groups\": 1, \"records\": [\n"
                   "  {\"offset\": 4, \"group\": 0, \"object\": 0, \"first\": 1, \"count\": 3, "
                   "\"largest\": 5, \"elements\": [[2, 0, -1, 0], [0, 0, 0, 0], [0, 5, 0, 0]]}\n]}\n"},
        // Read as a texture file, the same 24 bytes of elements make one and
        // a half elements of eight values: the run passes the end.
        {"--kind tdf", ""},
    };
    for (const auto &c : cases) {
        Result r = sh(dir.dir, KELO + " dump " + c.options + " t.vdf");
        EXPECT_EQ(r.out, c.out) << c.options;
        EXPECT_EQ(r.code, c.out.empty() ? 2 : 0) << c.options;
    }
    EXPECT_EQ(sh(dir.dir, KELO + " dump --kind tdf t.vdf").err,
              "kelo: t.vdf: offset 4: record 0: a run of 3 tdf elements needs 48 bytes, 24 remain\n");
}

// Each broken file is refused with exit code 2 and the offset of the field
// where it stops making sense.
TEST(KeloCheck, FindsTheOffsetOfEachFault)
{
    Scratch dir;
    spit(dir / "base.kgx", smallBase);
    const std::string rec0 = "00000000 00000000 01000000 01000200 03000400";  // object 0, vertex 0
    struct {
        const char *what;
        std::string bytes;
        const char *kind;
        int code;
        std::string offset;
    } cases[] = {
        {"two variant groups", "02000000" + rec0 + rec0, "vdf", 0, ""},
        {"empty file", "", "vdf", 2, "offset 0:"},
        {"count promises more", "03000000" + rec0 + rec0, "vdf", 2, "offset 44:"},
        {"records beyond count", "01000000" + rec0 + rec0, "vdf", 2, "offset 24:"},
        {"truncated head", "02000000" + rec0 + "000000000000", "vdf", 2, "offset 24:"},
        {"run past the end", "01000000 00000000 00000000 05000000 0100 0200 0300 0400", "vdf", 2,
         "offset 4:"},
        {"object outside", "01000000 01000000 00000000 00000000", "vdf", 2, "offset 4:"},
        {"vertices outside", "01000000 00000000 03000000 02000000" + std::string(32, '0'), "vdf",
         2, "offset 8:"},
        {"normals outside", "01000000 00000000 02000000 01000000 0100 0200 0300 0400", "ndf", 2,
         "offset 8:"},
        {"primitives outside", "01000000 00000000 02000000 00000000", "tdf", 2, "offset 8:"},
    };
    for (const auto &c : cases) {
        spit(dir / "f.bin", unhex(c.bytes));
        Result r = sh(dir.dir, KELO + " check --kind " + c.kind + " base.kgx f.bin");
        EXPECT_EQ(r.code, c.code) << c.what << r.err;
        EXPECT_NE(r.err.find(c.offset), std::string::npos) << c.what << ": " << r.err;
    }
    spit(dir / "good.vdf", unhex("02000000" + rec0 + rec0));
    EXPECT_EQ(sh(dir.dir, KELO + " check -v base.kgx good.vdf").out,
              "good.vdf: 2 vdf records in 2 variant groups fit base.kgx (1 objects)\n");
}

// A base that is no model is refused with exit code 3 and the offset at
// which it stops making sense; one that cannot be opened with 30.
TEST(KeloCheck, RefusesBrokenModels)
{
    Scratch dir;
    spit(dir / "t.vdf", unhex("00000000"));
    const std::string &good = smallBase;
    auto with = [&](size_t at, char b) { return std::string(good).replace(at, 1, 1, b); };
    struct {
        const char *what;
        std::string model;
        std::string message;
    } cases[] = {
        {"short header", good.substr(0, 8), "offset 8: only 8 bytes"},
        {"wrong identifier", with(0, 0x42), "offset 0: first byte is 0x42"},
        {"table past the end", with(8, 9), "offset 8: the table of 9 objects"},
        {"vertices past the end", with(16, (char)200), "offset 12: object 0: 200 vertices"},
        {"packet past the end", good.substr(0, good.size() - 1),
         "offset 88: object 0: the packet of primitive 0"},
    };
    for (const auto &c : cases) {
        spit(dir / "bad.kgx", c.model);
        Result r = sh(dir.dir, KELO + " check bad.kgx t.vdf");
        EXPECT_EQ(r.code, 3) << c.what;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
    }
    EXPECT_EQ(sh(dir.dir, KELO + " check missing.kgx t.vdf").code, 30);
}

TEST(KeloCommandLine, CodesAndMessages)
{
    Scratch dir;
    spit(dir / "base.kgx", smallBase);
    spit(dir / "t.vdf", unhex(ONE_RECORD));
    struct {
        std::string args;
        int code;
        std::string text;  // a part of standard output (code 0) or of the error stream
    } cases[] = {
        {"", 1, "usage: kelo COMMAND"},
        {"--version", 0, "kelo 1.0\n"},
        {"frobnicate", 1, "'frobnicate' is not a command"},
        {"apply --help", 0, "usage: kelo apply BASE.kgx --variant K"},
        {"dump t.bin", 1, "cannot tell the kind of t.bin; use --kind"},
        {"dump --kind xyz t.vdf", 1, "unknown kind xyz"},
        {"check base.kgx", 1, "no difference file named"},
        {"apply base.kgx --vdf t.vdf -o o.kgx", 1, "--variant is required"},
        {"apply base.kgx --variant -1 --vdf t.vdf -o o.kgx", 1, "not a number"},
        {"apply base.kgx --variant 1 --vdf t.vdf -o o.kgx", 4, "no variant 1"},
        {"apply base.kgx --variant 0 --ndf t.vdf -o o.kgx", 2, "offset 8: record 0: normals 1 to 3"},
        {"blend base.kgx --vdf t.vdf 1 2 -o o.kgx", 4, "1 variant groups, but 2 weights"},
        {"blend base.kgx --vdf t.vdf 1 x -o o.kgx", 1, "x is not a weight"},
        {"svg base.kgx --view under -o o.svg", 1, "unknown view under"},
        {"svg base.kgx --variant 0 -o o.svg", 1, "--variant needs --vdf"},
    };
    for (const auto &c : cases) {
        Result r = sh(dir.dir, KELO + " " + c.args);
        EXPECT_EQ(r.code, c.code) << c.args;
        EXPECT_NE((c.code ? r.err : r.out).find(c.text), std::string::npos) << c.args << ": " << r.err;
    }
}
