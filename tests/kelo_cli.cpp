// kelo_cli.cpp -- kelo's commands on hand-made files: what each prints and
// its exit code, blend's rule and svg's picture
#include "kit/test.h"

using namespace kit;

// A base of one object: four vertices, two normals, one textured primitive.
static const std::string smallBase =
    bytes({{Obj{{4, {7, 7, 7, 7}}, {2, {1, 1, 1, 1}}, {prim(4, std::string(12, 9))}}}});

// Every refusal with its code and message, and what dump and check print.
TEST(KeloCommandLine, CodesAndMessages)
{
    Scratch dir;
    const std::string rec0 = "00000000 00000000 01000000 01000200 03000400";  // object 0, vertex 0
    auto with = [](size_t at, char b) { return std::string(smallBase).replace(at, 1, 1, b); };
    // Two objects sharing one vertex array.
    std::string shared = bytes({{Obj{{{0, 0, 0, 0}, {10, 10, 10, 0}}}, Obj{}}});
    for (uint32_t w : {ENTRY_VERT_TOP, ENTRY_N_VERT})
        shared = setWord(shared, kgxEntryAt(1, w), word(shared, kgxEntryAt(0, w)));
    const std::pair<const char *, std::string> files[] = {
        {"base.kgx", smallBase}, {"short.kgx", smallBase.substr(0, 8)}, {"b42.kgx", with(0, 0x42)},
        {"t9.kgx", with(8, 9)}, {"v200.kgx", with(16, (char)200)}, {"shared.kgx", shared},
        {"cut.kgx", smallBase.substr(0, smallBase.size() - 1)},
        // One untextured primitive of one word, scale 0.
        {"odd.kgx", bytes({{Obj{{{1, 2, 3, 0}}, {}, {prim(0, std::string(4, 0))}, 0}}})},
        // Vertex 1 moved by (2, 0, -1, 0) and vertex 3 by (0, 5, 0, 0): one
        // record of three elements, the middle one zero.
        {"t.vdf", unhex("01000000 00000000 01000000 03000000 0200 0000 ffff 0000 0000 0000 0000 0000"
                        " 0000 0500 0000 0000")},
        {"two.vdf", unhex("02000000" + rec0 + rec0)}, {"empty.vdf", ""},
        {"promise.vdf", unhex("03000000" + rec0 + rec0)}, {"extra.vdf", unhex("01000000" + rec0 + rec0)},
        {"head.vdf", unhex("02000000" + rec0 + "000000000000")},
        {"run.vdf", unhex("01000000 00000000 00000000 05000000 0100 0200 0300 0400")},
        {"obj1.vdf", unhex("01000000 01000000 00000000 00000000")},
        {"vert.vdf", unhex("01000000 00000000 03000000 02000000" + std::string(32, '0'))},
        {"norm.ndf", unhex("01000000 00000000 02000000 01000000 0100 0200 0300 0400")},
        {"prim.tdf", unhex("01000000 00000000 02000000 00000000")},
        // One variant moves the shared vertex 1 by 5 in object 0 and by 6 in object 1.
        {"x.vdf", unhex("02000000 00000000 01000000 01000000 0500 0000 0000 0000"
                        "         01000000 01000000 01000000 0600 0000 0000 0000")},
    };
    for (const auto &[name, content] : files)
        spit(dir / name, content);
    struct {
        std::string args;
        int code;
        std::string text;  // a part of standard output (code 0) or of the error stream
    } cases[] = {
        {"dump t.vdf", 0, "t.vdf: vdf, 1 records, 1 variant groups\n"
                          "record 0 at offset 4: group 0, object 0, first 1, count 3\n"
                          "        1:      2      0     -1      0\n"
                          "        2:      0      0      0      0\n"
                          "        3:      0      5      0      0\n"},
        {"dump --summary t.vdf", 0, "t.vdf: vdf, 1 records, 1 variant groups\n"
                                    "group  object   first   count  largest\n"
                                    "    0       0       1       3        5\n"},
        {"dump --json t.vdf", 0,
         "{\"file\": \"t.vdf\", \"kind\": \"vdf\", \"count\": 1, \"groups\": 1, \"records\": [\n"
         "  {\"offset\": 4, \"group\": 0, \"object\": 0, \"first\": 1, \"count\": 3, \"largest\": 5, "
         "\"elements\": [[2, 0, -1, 0], [0, 0, 0, 0], [0, 5, 0, 0]]}\n]}\n"},
        // As a texture file the same 24 bytes make one and a half elements.
        {"dump --kind tdf t.vdf", 2,
         "kelo: t.vdf: offset 4: record 0: a run of 3 tdf elements needs 48 bytes, 24 remain\n"},
        {"check base.kgx two.vdf", 0, ""},
        {"check -v base.kgx two.vdf", 0, "two.vdf: 2 vdf records in 2 variant groups fit base.kgx (1 objects)\n"},
        {"check base.kgx empty.vdf promise.vdf extra.vdf head.vdf run.vdf obj1.vdf vert.vdf norm.ndf prim.tdf",
         2, "kelo: empty.vdf: offset 0: only 0 bytes, no room for the record count\n"
            "kelo: promise.vdf: offset 44: the count at offset 0 promises 3 records, the file ends after 2\n"
            "kelo: extra.vdf: offset 24: the count at offset 0 says 1 records, but 2 follow\n"
            "kelo: head.vdf: offset 24: record 1: 6 bytes left, too few for a record head\n"
            "kelo: run.vdf: offset 4: record 0: a run of 5 vdf elements needs 40 bytes, 8 remain\n"
            "kelo: obj1.vdf: offset 4: record 0: object 1 is outside the base's 1 objects\n"
            "kelo: vert.vdf: offset 8: record 0: vertices 3 to 4 are outside object 0's 4 vertices\n"
            "kelo: norm.ndf: offset 8: record 0: normals 2 to 2 are outside object 0's 2 normals\n"
            "kelo: prim.tdf: offset 8: record 0: an empty run at primitive 2 is outside object 0's 1 primitives\n"
            "kelo: base.kgx: 9 of 9 difference files are malformed or do not fit\n"},
        {"check --kind ndf base.kgx t.vdf", 2, "kelo: t.vdf: offset 8: record 0: normals 1 to 3"},
        {"check short.kgx two.vdf", 3, "offset 8: only 8 bytes"},
        {"check b42.kgx two.vdf", 3, "offset 0: first byte is 0x42"},
        {"check t9.kgx two.vdf", 3, "offset 8: the table of 9 objects"},
        {"check v200.kgx two.vdf", 3, "offset 12: object 0: 200 vertices"},
        {"check cut.kgx two.vdf", 3, "offset 88: object 0: the packet of primitive 0"},
        {"check missing.kgx two.vdf", 30, "kelo: missing.kgx: cannot open\n"},
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
        {"apply shared.kgx --variant 0 --vdf x.vdf -o o.kgx", 2,
         "kelo: x.vdf: offset 24: record 1: vertex 1 of object 1 shares model offset 76 with an earlier "
         "record, which changes it by 5, not 6\n"},
        {"blend base.kgx --vdf t.vdf 1 2 -o o.kgx", 4, "1 variant groups, but 2 weights"},
        {"blend base.kgx --vdf t.vdf 1 x -o o.kgx", 1, "x is not a weight"},
        // 1e308 x 5 is no finite number: refused before anything is read.
        {"blend base.kgx --vdf t.vdf 1e308 -o o.kgx", 1, "the weights are too large"},
        {"svg base.kgx --view under -o o.kgx", 1, "--view takes front, top or side, not \"under\""},
        {"svg base.kgx --variant 0 -o o.kgx", 1, "--variant needs --vdf"},
        {"export odd.kgx -o o.kgx", 3,
         "kelo: odd.kgx: offset 48: object 0 primitive 0: its packet is not two words per corner\n"},
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
    // 10 + 2 + 0.5 = 12.5 -> 13; 20 - 2 = 18; 30 + 1.5 - 0.75 = 30.75 -> 31;
    // -10 + round(0.5) = -9, where rounding the position would give -10.
    // 32000 + 2000 clamps to 32767, -32000 - 2000 to -32768; 0.5 -> 1; -0.5 -> -1.
    EXPECT_EQ(hex(slurp(dir / "b.kgx")), hex(bytes({{Obj{{{13, 18, 31, -9}}, {{32767, -32768, 1, -1}}}}})));
}

static size_t count(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

// Three vertices; the variant moves vertex 0 across the picture and vertex
// 2 straight towards the viewer, which shows as a ring, not an arrow.
// Vertex 1 changes only its fourth value: not a move.  File names that are
// not UTF-8, or hold characters JSON or XML give a meaning, still make
// output that parses, with U+FFFD for what it cannot carry.
TEST(KeloSvg, ArrowsRingsLegendAndNames)
{
    Scratch dir;
    const std::string base = "b\xc3(.kgx", vdf = "a\xff<&\x01.vdf";
    spit(dir / base, bytes({{Obj{{{0, 0, 0, 0}, {100, 100, 0, 0}, {50, 0, 0, 0}}}}}));
    spit(dir / vdf, unhex("01000000 00000000 00000000 03000000 1e00 2800 0000 0000"
                          " 0000 0000 0000 0500  0000 0000 3c00 0000"));
    for (auto [view, lines, rings] : {std::tuple{"front", 1u, 1u}, {"top", 2u, 0u}, {"side", 2u, 0u}}) {
        Result r = run(dir.dir, {KELO, "svg", base, "--vdf", vdf, "--variant", "0", "--view", view, "-o", "p.svg"});
        ASSERT_EQ(r.code, 0) << r.err;
        std::string svg = slurp(dir / "p.svg");
        EXPECT_EQ(count(svg, "<line "), lines) << view;
        EXPECT_EQ(count(svg, "fill=\"none\""), rings) << view;
        EXPECT_EQ(count(svg, "r=\"2\"/>"), 3u) << view;
        EXPECT_EQ(count(svg, "a\xEF\xBF\xBD&lt;&amp;\xEF\xBF\xBD.vdf: 2 vertices moved, largest move 60.0"), 1u);
        EXPECT_EQ(count(svg, "b\xEF\xBF\xBD(.kgx</text>"), 1u);
        EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
    }
    const std::string json = "{\"file\": \"a\xEF\xBF\xBD<&\\u0001.vdf\", ";
    EXPECT_EQ(run(dir.dir, {KELO, "dump", "--json", "--summary", vdf}).out.substr(0, json.size()), json);
}
