// kelo_blend.cpp -- the blending rule, kelo blend on a file, and kelo svg's
// picture
#include "kit/test.h"

using namespace kit;

#include "../app/kelo/kelo.h"

// The weighted sum rounds to the nearest integer with halves away from
// zero, whatever the base's sign; the total then clamps to 16 bits.
TEST(KeloBlend, RoundsOnceThenClamps)
{
    struct {
        int16_t base;
        double sum;
        int16_t want;
    } cases[] = {
        {10, 0.5, 11},         {10, -0.5, 9},          {-10, 0.5, -9},
        {-10, -0.5, -11},      {0, 1.49, 1},           {0, -1.51, -2},
        {32767, 1, 32767},     {32000, 9000.4, 32767}, {-32768, -0.6, -32768},
        {-30000, -5000, -32768}, {100, 1e300, 32767},  {5, 0, 5},
    };
    for (const auto &c : cases)
        EXPECT_EQ(blendValue(c.base, c.sum), c.want) << c.base << " + " << c.sum;
}

// Two variant groups of one vertex and one normal blended with weights 0.5
// and 0.25: fractions add up before rounding, and a large weight clamps.
TEST(KeloBlend, BlendsEveryGroupWithItsWeight)
{
    Scratch dir;
    Obj o{{{10, 20, 30, 0}}, {{32000, -32000, 0, 0}}};
    spit(dir / "base.kgx", bytes({{o}}));
    spit(dir / "v.vdf", unhex("02000000 00000000 00000000 01000000 0400 fcff 0300 0100"
                                  "          00000000 00000000 01000000 0200 0000 fdff 0000"));
    spit(dir / "v.ndf", unhex("02000000 00000000 00000000 01000000 a00f 60f0 0100 0000"
                                  "          00000000 00000000 00000000"));
    Result r = sh(dir.dir, KELO + " blend base.kgx --vdf v.vdf --ndf v.ndf 0.5 0.25 -o b.kgx");
    ASSERT_EQ(r.code, 0) << r.err;
    Obj want = o;
    // 10 + 2 + 0.5 = 12.5 -> 13; 20 - 2 = 18; 30 + 1.5 - 0.75 = 30.75 -> 31; 0.5 -> 1.
    want.verts = {{13, 18, 31, 1}};
    // 32000 + 2000 clamps to 32767, -32000 - 2000 to -32768; 0.5 -> 1.
    want.norms = {{32767, -32768, 1, 0}};
    EXPECT_EQ(hex(slurp(dir / "b.kgx")), hex(bytes({{want}})));
    // Weight 1 for one group and 0 for the other is that variant.
    ASSERT_EQ(sh(dir.dir, KELO + " blend base.kgx --vdf v.vdf 0 1 -o b.kgx").code, 0);
    want.verts = {{12, 20, 27, 0}};
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
