// kelo_cli.cpp -- kelo's commands on hand-made files: dump's three forms,
// check's verdicts and offsets, refused models, the command line, blend's
// rule and svg's picture
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

// Each broken file is refused with exit code 2, a base that is no model
// with 3, each with the offset of the field where it stops making sense.
TEST(KeloCheck, FindsTheOffsetOfEachFault)
{
    Scratch dir;
    const std::string rec0 = "00000000 00000000 01000000 01000200 03000400";  // object 0, vertex 0
    const std::string &good = smallBase;
    auto with = [&](size_t at, char b) { return std::string(good).replace(at, 1, 1, b); };
    struct {
        std::string model, file;
        const char *kind;
        int code;
        std::string message;
    } cases[] = {
        {good, "02000000" + rec0 + rec0, "vdf", 0, ""},
        {good, "", "vdf", 2, "offset 0: only 0 bytes"},
        {good, "03000000" + rec0 + rec0, "vdf", 2, "offset 44: the count at offset 0 promises 3"},
        {good, "01000000" + rec0 + rec0, "vdf", 2, "offset 24: the count at offset 0 says 1"},
        {good, "02000000" + rec0 + "000000000000", "vdf", 2, "offset 24: record 1: 6 bytes left"},
        {good, "01000000 00000000 00000000 05000000 0100 0200 0300 0400", "vdf", 2,
         "offset 4: record 0: a run of 5"},
        {good, "01000000 01000000 00000000 00000000", "vdf", 2, "offset 4: record 0: object 1"},
        {good, "01000000 00000000 03000000 02000000" + std::string(32, '0'), "vdf", 2,
         "offset 8: record 0: vertices 3 to 4"},
        {good, "01000000 00000000 02000000 01000000 0100 0200 0300 0400", "ndf", 2,
         "offset 8: record 0: normals 2 to 2"},
        {good, "01000000 00000000 02000000 00000000", "tdf", 2, "offset 8: record 0: primitives 2"},
        {good.substr(0, 8), "", "vdf", 3, "offset 8: only 8 bytes"},
        {with(0, 0x42), "", "vdf", 3, "offset 0: first byte is 0x42"},
        {with(8, 9), "", "vdf", 3, "offset 8: the table of 9 objects"},
        {with(16, (char)200), "", "vdf", 3, "offset 12: object 0: 200 vertices"},
        {good.substr(0, good.size() - 1), "", "vdf", 3, "offset 88: object 0: the packet of primitive 0"},
    };
    for (const auto &c : cases) {
        spit(dir / "base.kgx", c.model);
        spit(dir / "f.bin", unhex(c.file));
        Result r = sh(dir.dir, KELO + " check --kind " + c.kind + " base.kgx f.bin");
        EXPECT_EQ(r.code, c.code) << c.message << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.message << ": " << r.err;
    }
    spit(dir / "base.kgx", good);
    spit(dir / "good.vdf", unhex("02000000" + rec0 + rec0));
    EXPECT_EQ(sh(dir.dir, KELO + " check -v base.kgx good.vdf").out,
              "good.vdf: 2 vdf records in 2 variant groups fit base.kgx (1 objects)\n");
    EXPECT_EQ(sh(dir.dir, KELO + " check missing.kgx good.vdf").code, 30);
}

// The command table's parsing and help, and each command's own refusals.
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
        {"frobnicate", 1, "kelo: 'frobnicate' is not a command\n\nusage: kelo COMMAND"},
        {"apply --help", 0, "usage: kelo apply BASE.kgx --variant K [--vdf F] [--ndf F] [--tdf F] "
                            "-o OUT.kgx\n\nwrite the model"},
        {"apply base.kgx --vdf t.vdf -o o.kgx", 1, "kelo apply: --variant is required\n"
                                                   "usage: kelo apply BASE.kgx --variant K"},
        {"dump t.bin", 1, "cannot tell the kind of t.bin; use --kind"},
        {"dump --kind xyz t.vdf", 1, "--kind takes vdf, ndf or tdf, not \"xyz\""},
        {"dump t.vdf --kind", 1, "--kind needs a value"},
        {"dump t.vdf --frob", 1, "unknown option --frob"},
        {"dump t.vdf t.vdf", 1, "unexpected operand \"t.vdf\""},
        {"check base.kgx", 1, "needs BASE.kgx FILE..."},
        {"apply base.kgx --variant -1 --vdf t.vdf -o o.kgx", 1, "variant -1 is not a number"},
        {"apply base.kgx --variant 0 -o o.kgx", 1, "name at least one of --vdf, --ndf, --tdf"},
        {"apply base.kgx --variant 1 --vdf t.vdf -o o.kgx", 4, "no variant 1"},
        {"apply base.kgx --variant 0 --ndf t.vdf -o o.kgx", 2, "offset 8: record 0: normals 1 to 3"},
        {"blend base.kgx --vdf t.vdf 1 2 -o o.kgx", 4, "1 variant groups, but 2 weights"},
        {"blend base.kgx --vdf t.vdf 1 x -o o.kgx", 1, "x is not a weight"},
        // 1e308 x 5 is no finite number: refused before anything is read.
        {"blend base.kgx --vdf t.vdf 1e308 -o o.kgx", 1, "the weights are too large"},
        {"svg base.kgx --view under -o o.svg", 1, "--view takes front, top or side, not \"under\""},
        {"svg base.kgx --variant 0 -o o.svg", 1, "--variant needs --vdf"},
    };
    for (const auto &c : cases) {
        Result r = sh(dir.dir, KELO + " " + c.args);
        EXPECT_EQ(r.code, c.code) << c.args;
        EXPECT_NE((c.code ? r.err : r.out).find(c.text), std::string::npos) << c.args << ": " << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "o.kgx"));
}

// Two variant groups of one vertex and one normal blended with weights 0.5
// and 0.25: fractions add up before rounding, the move is rounded (not the
// position), halves away from zero, and a large sum clamps.
TEST(KeloBlend, BlendsEveryGroupWithItsWeight)
{
    Scratch dir;
    Obj o{{{10, 20, 30, -10}}, {{32000, -32000, 0, 0}}};
    spit(dir / "base.kgx", bytes({{o}}));
    spit(dir / "v.vdf", unhex("02000000 00000000 00000000 01000000 0400 fcff 0300 0100"
                              "         00000000 00000000 01000000 0200 0000 fdff 0000"));
    spit(dir / "v.ndf", unhex("02000000 00000000 00000000 01000000 a00f 60f0 0100 ffff"
                              "         00000000 00000000 00000000"));
    Result r = sh(dir.dir, KELO + " blend base.kgx --vdf v.vdf --ndf v.ndf 0.5 0.25 -o b.kgx");
    ASSERT_EQ(r.code, 0) << r.err;
    Obj want = o;
    // 10 + 2 + 0.5 = 12.5 -> 13; 20 - 2 = 18; 30 + 1.5 - 0.75 = 30.75 -> 31;
    // -10 + round(0.5) = -9, where rounding the position would give -10.
    want.verts = {{13, 18, 31, -9}};
    // 32000 + 2000 clamps to 32767, -32000 - 2000 to -32768; 0.5 -> 1; -0.5 -> -1.
    want.norms = {{32767, -32768, 1, -1}};
    EXPECT_EQ(hex(slurp(dir / "b.kgx")), hex(bytes({{want}})));
    // Weight 1 for one group and 0 for the other is that variant.
    ASSERT_EQ(sh(dir.dir, KELO + " blend base.kgx --vdf v.vdf 0 1 -o b.kgx").code, 0);
    want.verts = {{12, 20, 27, -10}};
    want.norms = o.norms;
    EXPECT_EQ(hex(slurp(dir / "b.kgx")), hex(bytes({{want}})));
}

// Three vertices; the variant moves vertex 0 across the picture and vertex
// 2 straight towards the viewer, which shows as a ring, not an arrow.
TEST(KeloSvg, ArrowsRingsAndLegend)
{
    Scratch dir;
    Obj o{{{0, 0, 0, 0}, {100, 100, 0, 0}, {50, 0, 0, 0}}};
    spit(dir / "base.kgx", bytes({{o}}));
    spit(dir / "v.vdf", unhex("01000000 00000000 00000000 03000000 1e00 2800 0000 0000"
                                  " 0000 0000 0000 0500  0000 0000 3c00 0000"));
    struct {
        std::string view;
        int lines, rings;
    } cases[] = {{"front", 1, 1}, {"top", 2, 0}, {"side", 2, 0}};
    for (const auto &c : cases) {
        Result r = sh(dir.dir, KELO + " svg base.kgx --vdf v.vdf --variant 0 --view " + c.view +
                                " -o p.svg");
        ASSERT_EQ(r.code, 0) << r.err;
        std::string svg = slurp(dir / "p.svg");
        auto count = [&](const std::string &part) {
            int n = 0;
            for (size_t at = svg.find(part); at != std::string::npos; at = svg.find(part, at + 1))
                n++;
            return n;
        };
        EXPECT_EQ(count("<line "), c.lines) << c.view;
        EXPECT_EQ(count("fill=\"none\""), c.rings) << c.view;
        EXPECT_EQ(count("r=\"2\"/>"), 3) << c.view;
        // Vertex 1 changes only its fourth value: not a move.
        EXPECT_NE(svg.find("2 vertices moved, largest move 60.0"), std::string::npos) << c.view;
        EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
    }
}
