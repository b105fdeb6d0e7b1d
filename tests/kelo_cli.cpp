// kelo_cli.cpp -- kelo's commands on hand-made files: what each prints, its
// exit code, blend's rule and svg's picture; runs that once lost data yet ended
// with 0, and inputs that once cost minutes, gigabytes or an uncaught exception
#include "kelo.h"
#include "kit/test.h"

#include <ranges>

using namespace kit;

// A base of one object: four vertices, two normals, one textured triangle
// whose corners are all vertex 0 and normal 0.  t.vdf moves vertex 1 by
// (2, 0, -1, 0) and vertex 3 by (0, 5, 0, 0): one record of three elements,
// the middle one zero.  t.obj is one triangle.
static const std::string smallBase =
    bytes({{Obj{{4, {7, 7, 7, 7}}, {2, {1, 1, 1, 1}}, {prim(MODE_TEXTURED, std::string(24, 0))}}}});
struct Files : Scratch {
    Files()
    {
        spit(dir / "base.kgx", smallBase);
        spit(dir / "t.vdf",
             unhex("01000000 00000000 01000000 03000000 0200 0000 ffff 0000 0000 0000 0000 0000"
                   " 0000 0500 0000 0000"));
        spit(dir / "t.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    }
};

// Every refusal with its code and message, and what dump and check print:
// each text is the start of standard output (code 0) or of the error stream,
// and an empty text stands for an empty stream.
TEST(KeloCommandLine, CodesAndMessages)
{
    Files dir;
    const std::string rec0 = "00000000 00000000 01000000 01000200 03000400";  // object 0, vertex 0
    // Two objects sharing one vertex array.
    std::string shared = bytes({{Obj{{{0, 0, 0, 0}, {10, 10, 10, 0}}}, Obj{}}});
    for (uint32_t w : {ENTRY_VERT_TOP, ENTRY_N_VERT})
        shared = setWord(shared, kgxEntryAt(1, w), word(shared, kgxEntryAt(0, w)));
    const std::pair<const char *, std::string> files[] = {
        {"short.kgx", smallBase.substr(0, KGX_COUNT_AT)},
        {"base.KGX", ""},
        {"b42.kgx", setWord(smallBase, 0, 0x42)},
        {"t9.kgx", setWord(smallBase, KGX_COUNT_AT, 9)},
        {"shared.kgx", shared},
        {"v200.kgx", setWord(smallBase, kgxEntryAt(0, ENTRY_N_VERT), 200)},
        {"cut.kgx", smallBase.substr(0, smallBase.size() - 1)},
        // One untextured primitive of one word (zeros, which the builder pads in), scale 0.
        {"odd.kgx", bytes({{Obj{{{1, 2, 3, 0}}, {}, {Prim{primHeader(0, 1), ""}}, 0}}})},
        {"two.vdf", unhex("02000000" + rec0 + rec0)},
        {"empty.vdf", ""},
        {"promise.vdf", unhex("03000000" + rec0 + rec0)},
        {"extra.vdf", unhex("01000000" + rec0 + rec0)},
        {"head.vdf", unhex("02000000" + rec0 + "000000000000")},
        {"run.vdf", unhex("01000000 00000000 00000000 05000000 0100 0200 0300 0400")},
        {"obj1.vdf", unhex("01000000 01000000 00000000 00000000")},
        {"vert.vdf", unhex("01000000 00000000 03000000 02000000" + std::string(32, '0'))},
        {"norm.ndf", unhex("01000000 00000000 02000000 01000000 0100 0200 0300 0400")},
        {"prim.tdf", unhex("01000000 00000000 02000000 00000000")},
        {"many.vdf", unhex("0c000000" + repeat("01000000 00000000 00000000", 12))},
        // A texture value for byte 7 of a one-word packet.
        {"short.tdf",
         unhex("01000000 00000000 00000000 01000000 0000 0000 0100 0000 0000 0000 0000 0000")},
        // Two variant groups of one vertex and one normal, to blend with weights 0.5 and 0.25.
        {"blend.kgx", bytes({{Obj{{{10, 20, 30, -10}}, {{32000, -32000, 0, 0}}}}})},
        {"v.vdf", unhex("02000000 00000000 00000000 01000000 0400 fcff 0300 0100"
                        "         00000000 00000000 01000000 0200 0000 fdff 0000")},
        {"v.ndf", unhex("02000000 00000000 00000000 01000000 a00f 60f0 0100 ffff"
                        "         00000000 00000000 00000000")},
        // One variant moves the shared vertex 1 by 5 in object 0 and by 6 in object 1.
        {"x.vdf", unhex("02000000 00000000 01000000 01000000 0500 0000 0000 0000"
                        "         01000000 01000000 01000000 0600 0000 0000 0000")},
        // A triangle at the origin in the buffer file a.bin, one target named "t".
        {"a.gltf", R"({"asset":{"version":"2.0"},"buffers":[{"uri":"a.bin","byteLength":36}],)"
                   R"("bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[{"bufferView":0,)"
                   R"("componentType":5126,"count":3,"type":"VEC3"}],"meshes":[{"primitives":)"
                   R"([{"attributes":{"POSITION":0},"targets":[{"POSITION":0}]}],)"
                   R"("extras":{"targetNames":["t"]}}],"nodes":[{"mesh":0}]})"},
        {"a.bin", std::string(36, 0)},
    };
    for (const auto &[name, content] : files)
        spit(dir / name, content);
    fs::create_directory(dir / "sub.vdf");
    fs::create_symlink("base.kgx", dir / "l.kgx");
    fs::create_hard_link(dir / "t.vdf", dir / "h.gltf");
    fs::create_hard_link(dir / "a.gltf", dir / "v_t.kgx");
    const auto before = snapshot(dir.dir);
    auto over = [](const std::string &target, const std::string &input) {
        return "kelo: " + target + ": is the same file as the input " + input +
               ": nothing written\n";
    };
    std::string many;  // the problems of many.vdf that are listed
    for (int i = 0; i < 10; i++)
        many += format(
            "kelo: many.vdf: offset %d: record %d: object 1 is outside the base's 1 objects\n",
            4 + 12 * i, i);
    struct {
        std::string args;
        int code;
        std::string text;
    } cases[] = {
        {"dump t.vdf", 0,
         "t.vdf: vdf, 1 records, 1 variant groups\n"
         "record 0 at offset 4: group 0, object 0, first 1, count 3\n"
         "        1:      2      0     -1      0\n"
         "        2:      0      0      0      0\n"
         "        3:      0      5      0      0\n"},
        {"dump --summary t.vdf", 0,
         "t.vdf: vdf, 1 records, 1 variant groups\n"
         "group  object   first   count  largest\n"
         "    0       0       1       3        5\n"},
        {"dump --json t.vdf", 0,
         "{\"file\": \"t.vdf\", \"kind\": \"vdf\", \"count\": 1, \"groups\": 1, \"records\": [\n"
         "  {\"offset\": 4, \"group\": 0, \"object\": 0, \"first\": 1, \"count\": 3, "
         "\"largest\": 5, \"elements\": [[2, 0, -1, 0], [0, 0, 0, 0], [0, 5, 0, 0]]}\n]}\n"},
        // As a texture file the same 24 bytes make one and a half elements.
        {"dump --kind tdf t.vdf", 2,
         "kelo: t.vdf: offset 4: record 0: a run of 3 tdf elements needs 48 bytes, 24 remain\n"},
        {"check base.kgx two.vdf", 0, ""},
        // A name with ".." above the root opens as the system resolves it, the model under
        // its first fallback name (base.KGX is no model).
        {"check -v /../proc/self/cwd/base two.vdf", 0,
         "two.vdf: 2 vdf records in 2 variant groups fit /../proc/self/cwd/base.kgx (1 objects)\n"},
        // Each file keeps its own code; the check ends with the first failing file's.  Ten
        // problems of a file are listed, the rest counted; a file that fits is not counted.
        {"check base.kgx gone.vdf t.vdf empty.vdf promise.vdf extra.vdf head.vdf run.vdf obj1.vdf "
         "vert.vdf norm.ndf prim.tdf many.vdf",
         30,
         "kelo: gone.vdf: cannot open\n"
         "kelo: empty.vdf: offset 0: only 0 bytes, no room for the record count\n"
         "kelo: promise.vdf: offset 44: the count at offset 0 promises 3 records, the file ends "
         "after 2\n"
         "kelo: extra.vdf: offset 24: the count at offset 0 says 1 records, but 2 follow\n"
         "kelo: head.vdf: offset 24: record 1: 6 bytes left, too few for a record head\n"
         "kelo: run.vdf: offset 4: record 0: a run of 5 vdf elements needs 40 bytes, 8 remain\n"
         "kelo: obj1.vdf: offset 4: record 0: object 1 is outside the base's 1 objects\n"
         "kelo: vert.vdf: offset 8: record 0: vertices 3 to 4 are outside object 0's 4 vertices\n"
         "kelo: norm.ndf: offset 8: record 0: normals 2 to 2 are outside object 0's 2 normals\n"
         "kelo: prim.tdf: offset 8: record 0: an empty run at primitive 2 is outside object 0's 1 "
         "primitives\n" +
             many +
             "kelo: many.vdf: 2 more problems\n"
             "kelo: base.kgx: 11 of 12 difference files cannot be read, are malformed or do not "
             "fit\n"},
        // A directory opens, but cannot be read.
        {"dump sub.vdf", 42, "kelo: sub.vdf: offset 0: read error\n"},
        {"apply odd.kgx --variant 0 --tdf short.tdf -o o.kgx", 2,
         "kelo: short.tdf: offset 4: record 0: primitive 0 has no packet byte 7\n"},
        {"check --kind ndf base.kgx t.vdf", 2, "kelo: t.vdf: offset 8: record 0: normals 1 to 3"},
        {"check short.kgx two.vdf", 3, "kelo: short.kgx: offset 8: only 8 bytes"},
        {"check b42.kgx two.vdf", 3, "kelo: b42.kgx: offset 0: first byte is 0x42"},
        {"check t9.kgx two.vdf", 3, "kelo: t9.kgx: offset 8: the table of 9 objects"},
        {"check v200.kgx two.vdf", 3, "kelo: v200.kgx: offset 12: object 0: 200 vertices"},
        {"check cut.kgx two.vdf", 3,
         "kelo: cut.kgx: offset 88: object 0: the packet of primitive 0"},
        {"check missing.kgx two.vdf", 30, "kelo: missing.kgx: cannot open\n"},
        {"", 1, "usage: kelo COMMAND"},
        {"--version", 0, "kelo 1.0\n"},
        {"frobnicate", 1, "kelo: 'frobnicate' is not a command\n\nusage: kelo COMMAND"},
        // Help shows each row's default and rules, also after a bad word.
        {"svg --view under --help", 0,
         "usage: kelo svg BASE.kgx [--vdf F] [--variant K] [--view front|top|side] -o OUT.svg\n\n"
         "draw the base's vertices and one variant's moves as SVG\n\noptions:\n"
         "  --vdf F      draw an arrow for each vertex the variant moves\n"
         "  --variant K  the variant group to draw (default 0; needs --vdf)\n"
         "  --view V     front (x, y), top (x, z) or side (z, y) (default front)\n"},
        // As an option's value, --help is that value: the output's name.
        {"apply base.kgx --variant 0 --vdf t.vdf -o --help", 0, ""},
        // No output may be a file the command reads, by any name or link: nothing is written.
        {"apply base.kgx --variant 0 --vdf t.vdf -o t.vdf", 8, over("t.vdf", "t.vdf")},
        {"blend base.kgx 1 --vdf t.vdf -o l.kgx", 8, over("l.kgx", "base.kgx")},
        {"svg base -o base.kgx", 8, over("base.kgx", "base.kgx")},
        {"export base.kgx --vdf t.vdf -o h.gltf", 8, over("h.gltf", "t.vdf")},
        {"import a.gltf --scale 1 -o a.gltf", 8, over("a.gltf", "a.gltf")},
        {"import a.gltf --scale 1 -o a.bin", 8, over("a.bin", "a.gltf's buffer file \"a.bin\"")},
        {"import a.gltf --scale 1 --variants v -o o.kgx", 8, over("v_t.kgx", "a.gltf")},
        {"import t.obj --scale 1 -o tri.kgx", 0, ""},
        {"import t.obj --like tri.kgx -o tri.kgx", 8, over("tri.kgx", "tri.kgx")},
        {"apply base.kgx --vdf t.vdf -o o.kgx", 1,
         "kelo apply: --variant is required\n"
         "usage: kelo apply BASE.kgx --variant K"},
        {"dump t", 1, "kelo dump: cannot tell the kind of t; use --kind\n"},
        {"dump t.vdf --kind", 1, "kelo dump: --kind needs a value\n"},
        {"dump t.vdf --frob", 1, "kelo dump: unknown option --frob\n"},
        {"dump t.vdf t.vdf", 1, "kelo dump: unexpected operand \"t.vdf\"\n"},
        {"check base.kgx", 1, "kelo check: needs BASE.kgx FILE...\n"},
        {"import t.obj --like base.kgx --scale 2 -o o.kgx", 1,
         "kelo import: --scale cannot be given with --like\nusage: kelo import "},
        {"import t.obj --scale -2 -o o.kgx", 1,
         "kelo import: --scale takes a positive number, not \"-2\"\n"},
        {"apply base.kgx --variant 0x1 --vdf t.vdf -o o.kgx", 1,
         "kelo apply: --variant takes a whole number from 0 to 2147483647, not \"0x1\"\n"},
        {"svg base.kgx --vdf t.vdf --variant 2147483648 -o o.kgx", 1,
         "kelo svg: --variant takes a whole number from 0 to 2147483647, not \"2147483648\"\n"},
        {"apply base.kgx --variant 0 -o o.kgx", 1,
         "kelo apply: --variant needs --vdf, --ndf or --tdf\n"},
        {"svg base.kgx --vdf t.vdf --variant 1 -o o.kgx", 4,
         "kelo: t.vdf: has 1 variant groups; there is no variant 1\n"},
        {"apply base.kgx --variant 0 --ndf t.vdf -o o.kgx", 2,
         "kelo: t.vdf: offset 8: record 0: normals 1 to 3"},
        {"apply shared.kgx --variant 0 --vdf x.vdf -o o.kgx", 2,
         "kelo: x.vdf: offset 24: record 1: vertex 1 of object 1 shares model offset 76 with an "
         "earlier record, which changes it by 5, not 6\n"},
        {"blend blend.kgx --vdf v.vdf --ndf v.ndf 0.5 0.25 -o b.kgx", 0, ""},
        {"apply blend.kgx --variant 0 --vdf v.vdf --ndf v.ndf -o a.kgx", 0, ""},
        // Negative weights are weights, not options.
        {"blend base.kgx --vdf t.vdf -1 -.5 -o o.kgx", 4,
         "kelo: t.vdf: has 1 variant groups, but 2 weights are given\n"},
        {"blend base.kgx --vdf t.vdf 1 x -o o.kgx", 1, "kelo blend: x is not a weight\n"},
        // 1e308 x 5 is no finite number: refused before anything is read.
        {"blend base.kgx --vdf t.vdf 1e308 -o o.kgx", 1, "kelo blend: the weights are too large"},
        {"svg base.kgx --view under -o o.kgx", 1,
         "kelo svg: --view takes front, top or side, not \"under\"\n"},
        {"export base.kgx --vdf t.vdf --ndf v.ndf -o o.glb", 4,
         "kelo: v.ndf: has 2 variant groups, t.vdf has 1\n"},
        // One name per variant group, none empty, none twice: import tells targets by name.
        {"export base.kgx --vdf two.vdf --names a -o o.glb", 1,
         "kelo export: --names gives 1 names, two.vdf has 2 variant groups\nusage: kelo export"},
        {"export base.kgx --vdf two.vdf --names a, -o o.glb", 1,
         "kelo export: --names holds an empty name\n"},
        {"export base.kgx --vdf two.vdf --names b,b -o o.glb", 1,
         "kelo export: --names gives \"b\" twice\n"},
    };
    for (const auto &c : cases) {
        Result r = sh(dir.dir, KELO + " " + c.args);
        EXPECT_EQ(r.code, c.code) << c.args;
        const std::string &got = c.code ? r.err : r.out;
        EXPECT_EQ(c.text.empty() ? got : got.substr(0, c.text.size()), c.text) << c.args;
    }
    // Names refused before anything is read: an empty one, and one with white space, at which
    // keyblend splits an argument file.
    const std::string blank = "\": an argument file cannot carry a name with white space";
    for (auto [o, v, why] : {std::tuple<const char *, const char *, std::string>{
                                 "o 1.kgx", "v", "-o \"o 1.kgx" + blank},
                             {"o.kgx", "my\tv", "--variants \"my\\x09v" + blank},
                             {"", "v", "-o takes a file name, not \"\""},
                             {"o.kgx", "", "--variants takes a file name, not \"\""}}) {
        Result r = run(dir.dir, {KELO, "import", "t.glb", "-o", o, "--variants", v});
        EXPECT_EQ(r.code, 1) << why;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "kelo import: " + why);
    }
    EXPECT_FALSE(fs::exists(dir / "o.kgx") || fs::exists(dir / "o.glb"));
    EXPECT_TRUE(fs::exists(dir / "--help"));
    const auto after = snapshot(dir.dir);
    for (const auto &file : before)
        EXPECT_NE(std::ranges::find(after, file), after.end()) << file.first << " changed";
    // Blending, fractions add up before rounding, the move is rounded (not
    // the position), halves away from zero, and a large sum clamps:
    // 10 + 2 + 0.5 = 12.5 -> 13; 20 - 2 = 18; 30 + 1.5 - 0.75 = 30.75 -> 31;
    // -10 + round(0.5) = -9, where rounding the position would give -10.
    // 32000 + 2000 clamps to 32767, -32000 - 2000 to -32768; 0.5 -> 1; -0.5 -> -1.
    EXPECT_EQ(hex(slurp(dir / "b.kgx")),
              hex(bytes({{Obj{{{13, 18, 31, -9}}, {{32767, -32768, 1, -1}}}}})));
    // Applying wraps, as keyblend's differences do: 32000 + 4000 -> -29536.
    EXPECT_EQ(hex(slurp(dir / "a.kgx")),
              hex(bytes({{Obj{{{14, 16, 33, -9}}, {{-29536, 29536, 1, -1}}}}})));
}

static long count(std::string_view text, std::string_view part)
{
    return std::ranges::distance(std::views::split(text, part)) - 1;
}

// The variant moves vertex 0 across the picture, vertex 1 only in its fourth
// value (no move), and vertex 2 straight at the viewer: a ring, not an arrow.
// Names not UTF-8, or holding characters JSON or XML give a meaning, still
// parse, with U+FFFD for what they cannot carry.  In front view (4.44 units per
// model unit) vertex 0's dot is at (178, 570) and its move of (30, 40) ends in
// the head's tip at (311.2, 392.4), the line stopping 8 units short of it.
TEST(KeloSvg, ArrowsRingsLegendAndNames)
{
    Scratch dir;
    const std::string base = "b\xc3(.kgx", vdf = "a\xff<&\x01.vdf";
    spit(dir / base, bytes({{Obj{{{0, 0, 0, 0}, {100, 100, 0, 0}, {50, 0, 0, 0}}}}}));
    spit(dir / vdf, unhex("01000000 00000000 00000000 03000000 1e00 2800 0000 0000"
                          " 0000 0000 0000 0500  0000 0000 3c00 0000"));
    const std::string legend =
        "a\xEF\xBF\xBD&lt;&amp;\xEF\xBF\xBD.vdf: 2 vertices moved, largest move 60.0";
    for (auto [view, lines, rings] : {std::tuple{"front", 1, 1}, {"top", 2, 0}, {"side", 2, 0}}) {
        Result r = run(dir.dir, {KELO, "svg", base, "--vdf", vdf, "--variant", "0", "--view", view,
                                 "-o", std::string(view) + ".svg"});
        ASSERT_EQ(r.code, 0) << r.err;
        std::string svg = slurp(dir / (std::string(view) + ".svg"));
        EXPECT_EQ(count(svg, "<line "), lines) << view;
        EXPECT_EQ(count(svg, "fill=\"none\""), rings) << view;
        EXPECT_EQ(count(svg, "r=\"2\"/>"), 3) << view;
        EXPECT_EQ(count(svg, legend), 1) << view;
        EXPECT_EQ(count(svg, "b\xEF\xBF\xBD(.kgx</text>"), 1) << view;
        EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
    }
    const std::string front = slurp(dir / "front.svg");
    EXPECT_NE(front.find("<line x1=\"178.0\" y1=\"570.0\" x2=\"306.4\" y2=\"398.8\""), front.npos);
    EXPECT_NE(front.find("<polygon points=\"311.2,392.4 "), front.npos);
    const std::string json = "{\"file\": \"a\xEF\xBF\xBD<&\\u0001.vdf\", ";
    EXPECT_EQ(run(dir.dir, {KELO, "dump", "--json", "--summary", vdf}).out.substr(0, json.size()),
              json);
}

// Outputs written by import, export and svg (apply and blend write theirs as
// svg does, their refusals above) and standard output, full or past a size
// limit of 512 bytes (every signal at its default): a failed write ends with
// 7, never 0, leaving the target as it was (or absent) and no temporary.
// Started with its standard streams closed, kelo opens no file in their
// place, so no message lands in an output.  A target replaced keeps its mode;
// a symbolic link stays a link.
TEST(KeloFailedWrites, FullDeviceFileLimitClosedStreamsModesAndLinks)
{
    Files f;
    spit(f / "out", "earlier");
    const auto before = snapshot(f.dir);
    const std::string full = "cannot write: No space left on device\n";
    const std::pair<std::string, std::string> cases[] = {
        {"import t.obj --scale 1 -o /dev/full", "/dev/full: " + full},
        {"export base.kgx -o /dev/full", "/dev/full: " + full},
        {"dump t.vdf >/dev/full", "standard output: " + full},
        {"--help >/dev/full", "standard output: " + full},
        {"svg base.kgx -o out", "out: cannot write: File too large\n"},
        {"svg base.kgx -o new", "new: cannot write: File too large\n"},
    };
    for (const auto &[args, message] : cases) {
        Result r = run(f.dir, {"/bin/sh", "-c", "ulimit -f 1; exec " + KELO + " " + args});
#ifdef KELO_COVERAGE
        r.err.resize(r.err.find('\n') + 1);  // the counters written at exit pass the limit too
#endif
        EXPECT_EQ(r.code, 7) << args;
        EXPECT_EQ(r.err, "kelo: " + message) << args;
        EXPECT_TRUE(snapshot(f.dir) == before) << args;
    }
    EXPECT_EQ(
        run(f.dir, {"/bin/sh", "-c", "exec " + KELO + " import t.obj -o a.kgx <&- >&- 2>&-"}).code,
        0);
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write;
    spit(f / "b.kgx", ""), fs::permissions(f / "b.kgx", mode), fs::create_symlink("b.kgx", f / "c");
    ASSERT_EQ(sh(f.dir, KELO + " import t.obj -o c").code, 0);
    EXPECT_EQ(slurp(f / "a.kgx"), slurp(f / "b.kgx"));
    EXPECT_TRUE(fs::is_symlink(f / "c") && fs::status(f / "b.kgx").permissions() == mode);
}

// A 552 KB model whose 1,000 objects share one array of 65,535 vertices:
// export writes the array once and svg draws it once (once per object took a
// minute and gigabytes).  Overlapping arrays, not the same, are refused first.
TEST(KeloCostlyInputs, SharedArrayOnce)
{
    Scratch dir;
    kit::Model m{std::vector<Obj>(1000)};
    m.objs[0].verts.assign(65535, {1, 2, 3, 0});
    const std::string model = bytes(m);
    const uint32_t top = word(model, kgxEntryAt(0, ENTRY_VERT_TOP));
    // Objects 1 to 999 on the array of object 0, shifted by step vertices each,
    // with no primitives, each its own list.
    auto share = [&](uint32_t step) {
        std::string s = model;
        for (uint32_t o = 1; o < 1000; o++)
            s = setWord(
                setWord(setWord(s, kgxEntryAt(o, ENTRY_VERT_TOP), top + KGX_ELEMENT * step * o),
                        kgxEntryAt(o, ENTRY_N_VERT), 65535 - step * o),
                kgxEntryAt(o, ENTRY_PRIM_TOP), o);
        return s;
    };
    spit(dir / "m.kgx", share(0));
    ASSERT_EQ(sh(dir.dir, KELO + " export m.kgx -o m.obj").code, 0);
    ASSERT_EQ(sh(dir.dir, KELO + " svg m.kgx -o m.svg").code, 0);
    EXPECT_LT(fs::file_size(dir / "m.obj") + fs::file_size(dir / "m.svg"), 6000000u);
    // glTF holds each object's vertices apart, so these assets would pass 2 GiB;
    // each is refused within 256 MB of address space, and o.kgx sooner.  m.kgx
    // from the object table, before a layout of 65,535 vertices per object (the
    // first build took 836 MB), also with 4,000 empty variant groups (a model
    // copy each took 2 GB); p.kgx, 18,000 objects of 3 vertices sharing 10,000
    // triangles, from the primitives' headers (and from OBJ, whose faces it
    // would repeat 18,000 times); t.kgx, one object of those
    // triangles, 30,000 corners of distinct texture bytes and 1,800 groups,
    // from its layout alone.
    kit::Model tris{std::vector<Obj>(18000, Obj{{{0, 0, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}}})};
    for (uint32_t i = 0; i < 30000; i += 3) {
        std::string packet(12, 0);
        for (uint32_t c = 0; c < 3; c++)
            packet = setWord(packet, 4 * c, (i + c) << 16 | c);
        tris.objs[0].prims.push_back(prim(MODE_TEXTURED, packet));
    }
    std::string p = bytes(tris);
    for (KgxEntryWord w : {ENTRY_PRIM_TOP, ENTRY_N_PRIM})
        for (uint32_t o = 1, first = word(p, kgxEntryAt(0, w)); o < 18000; o++)
            p = setWord(std::move(p), kgxEntryAt(o, w), first);
    tris.objs.resize(1);
    spit(dir / "p.kgx", p), spit(dir / "t.kgx", bytes(tris)), spit(dir / "o.kgx", share(1));
    auto empty = [](int n) { return setWord(std::string(4 + 12 * n, 0), 0, n); };
    spit(dir / "e.vdf", empty(4000)), spit(dir / "f.vdf", empty(1800));
    const char *big = "would take more than 2147483647 bytes";
    const std::pair<const char *, const char *> exports[] = {
        {"m.kgx -o m.glb", big},
        {"m.kgx --vdf e.vdf -o m.glb", big},
        {"p.kgx -o m.glb", big},
        {"p.kgx -o m.obj", "reads at most one primitive per byte of a model"},
        {"t.kgx --vdf f.vdf -o m.glb", big},
        {"o.kgx -o m.glb", "the objects' arrays overlap"}};
    for (auto [args, refusal] : exports) {
        std::string line = KELO + " export " + args;
#ifndef KEYBLEND_SANITIZED  // the sanitizers reserve terabytes of address space
        line = "ulimit -v 262144; exec " + line;
#endif
        Result r = run(dir.dir, {"/bin/sh", "-c", line});
        EXPECT_EQ(r.code, 3) << args << r.err;
        EXPECT_NE(r.err.find(refusal), std::string::npos) << r.err;
    }
}

// 200,000 groups import in linear time: a quadratic lookup of the names took
// 45 seconds here, this half a second (a few under the sanitizers).
TEST(KeloCostlyInputs, ManyGroups)
{
    Scratch dir;
    std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int g = 0; g < 200000; g++)
        text += format("g group%d\nf 1 2 3\n", g);
    spit(dir / "g.obj", text);
    Result r = run(dir.dir, words(KELO + " import g.obj --scale 1 -o g.kgx"), {}, 20000);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(word(slurp(dir / "g.kgx"), KGX_COUNT_AT), 200000u);
}

// Out of memory, whichever heap request fails (the preloaded malloc fails the
// n-th, for every n up to a run's last), ends kelo with 12, or 7 for a request
// in a system call's helper; never with an uncaught exception, a signal or the
// support library's own report.  One the C library can do without may pass.
TEST(KeloCostlyInputs, OutOfMemory)
{
#ifdef KEYBLEND_SANITIZED
    GTEST_SKIP() << "the sanitizers own malloc";
#endif
    Files f;
    const std::string failed = "fault_malloc: failed\n";
    const auto svg = words(KELO + " svg base.kgx -o p.svg");
    int reported = 0;
    for (int n = 1; n < 10000; n++) {
        std::vector<std::string> env = {"LD_PRELOAD=" FAULT_MALLOC_LIB,
                                        "FAULT_MALLOC_NTH=" + std::to_string(n)};
#ifdef KELO_COVERAGE
        // Built for coverage, kelo writes its counters at exit with requests of
        // its own, and crashes when one fails: each run keeps its counters aside,
        // and one that reported a failed request of kelo's runs again to count.
        env.push_back("GCOV_PREFIX=" + f.dir.string());
        Result r = run(f.dir, svg, env);
        if (r.code >= 1000)
            continue;
        if (r.code != 0)
            run(f.dir, svg, {env[0], env[1]});
#else
        Result r = run(f.dir, svg, env);
#endif
        if (r.err.find(failed) == std::string::npos) {
            EXPECT_EQ(r.code, 0) << r.err;
            break;
        }
        ASSERT_TRUE(r.code == 0 || r.code == 7 || r.code == 12) << n << ": " << r.err;
        EXPECT_TRUE(r.code == 0 || r.err.starts_with(failed + "kelo: ")) << n << ": " << r.err;
        reported += r.code == 12;
    }
    EXPECT_GT(reported, 0);
}
