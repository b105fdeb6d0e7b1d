// e2e_engine.cpp -- keyblend's difference records end to end: vertex and
// normal runs, texture runs, verbose and dump lines, damaged models
#include "kgxmodel.h"

using namespace kgx;

namespace {

// One object: four vertices, two normals and one textured three-corner
// primitive; 104 bytes with the vertices at 40, the primitive at 88.
const Model B{{Obj{{{100, 200, 300, 400}, {10, 20, 30, 40}, {-5, -6, -7, -8}, {0, 0, 0, 0}},
                   {{1, 0, 0, 0}, {0, 1, 0, 0}},
                   {prim(4, "00001122 00003344 00005566")},
                   7}}};
// Vertex 1 moved by (+2, 0, -1, 0) and vertex 3 by (0, +5, 0, 0).
const Model V = edit(B, [](Model &m) {
    m.objs[0].verts[1] = {12, 20, 29, 40}; m.objs[0].verts[3] = {0, 5, 0, 0}; });
const std::string base = bytes(B), var = bytes(V);
const std::string VDF40 = "01000000 00000000 01000000 03000000 0200 0000 ffff 0000"
                          "0000 0000 0000 0000 0000 0500 0000 0000";

// Runs with zero elements inside, values wrapping modulo 2^16 and a change
// in the fourth value only.
const Model W{{Obj{{{1, 1, 1, 1}, {1, 1, 1, 1}, {32767, -32768, 0, 0}, {1, 1, 1, 1},
                    {1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 0, 5}, {1, 1, 1, 1}}}}};
const Model W2 = edit(W, [](Model &m) {
    m.objs[0].verts[2] = {-32768, 32767, 0, 0}; m.objs[0].verts[6] = {0, 0, 0, 6}; });

// Two objects; t1 changes object 0's normal count, t2 changes object 1.
const Model T{{Obj{{{1, 1, 1, 1}, {2, 2, 2, 2}}, {{0, 0, 1, 0}}},
               Obj{{{3, 3, 3, 3}}, {{0, 1, 0, 0}, {1, 0, 0, 0}}}}};
const Model T1 = edit(T, [](Model &m) {
    m.objs[0].verts[1] = {2, 2, 2, 3}; m.objs[0].norms.push_back({}); });
const Model T2 = edit(T, [](Model &m) {
    m.objs[1].verts[0] = {4, 3, 3, 3}; m.objs[1].norms[1] = {1, 0, 0, -1}; });

// Three objects without primitives, the last without vertices; h1 has a
// second vertex in object 1.
const Model H{{Obj{{{1, 2, 3, 4}}}, Obj{{{5, 6, 7, 8}}}, Obj{}}};
const Model H1 = edit(H, [](Model &m) {
    m.objs[0].verts[0] = {1, 2, 3, 5}; m.objs[1].verts.push_back({}); });

const std::string P12 = "10101010 10101010 10101010", P16 = P12 + " 10101010";
const std::string PLUS1 = "10101011 10101010 10101010";  // byte 3 one up
Model objects(std::vector<std::vector<Prim>> prims)
{
    Model m;
    for (auto &p : prims) m.objs.push_back(Obj{{}, {}, p});
    return m;
}

// Texture cases compare one object of primitives only, so the vertex file
// always holds the empty record.
Case tex(const std::string &name, std::vector<Prim> b, std::vector<Prim> v,
         const std::string &tdf, const std::string &err = "")
{
    return {.name = name, .in = {{"base.kgx", bytes(objects({b}))}, {"v.kgx", bytes(objects({v}))}},
            .args = {"-t", "base.kgx", "v.kgx"}, .err = same("vertex", "v.kgx") + err,
            .want = {{"base.vdf", "01000000" + none(0)}, {"base.tdf", tdf}}};
}
const std::string ONE_TEX = "01000000 00000000 00000000 01000000 ";

const std::vector<Case> cases = {
    {.name = "vertex_run", .in = {{"base.kgx", base}, {"v.kgx", var}},
     .args = {"base.kgx", "v.kgx"}, .want = {{"base.vdf", VDF40}}},
    {.name = "identical_models", .in = {{"base.kgx", base}, {"same.kgx", base}},
     .args = {"-n", "-t", "base.kgx", "same.kgx"},
     .err = same("vertex", "same.kgx") + same("normal", "same.kgx") + same("UV", "same.kgx"),
     .want = {{"base.vdf", "01000000" + none(0)}, {"base.ndf", "01000000" + none(0)},
              {"base.tdf", "01000000" + none(0)}}},
    {.name = "zeros_inside_run_wrap_fourth_value",
     .in = {{"base.kgx", bytes(W)}, {"w.kgx", bytes(W2)}}, .args = {"base.kgx", "w.kgx"},
     .want = {{"base.vdf", "01000000 00000000 02000000 05000000 0100 ffff 0000 0000"
                           "0000000000000000 0000000000000000 0000000000000000"
                           "0000 0000 0000 0100"}}},
    {.name = "normal_counts_differ", .in = {{"base.kgx", bytes(T)}, {"t1.kgx", bytes(T1)},
                                            {"t2.kgx", bytes(T2)}},
     .args = {"-n", "base.kgx", "t1.kgx", "t2.kgx"},
     .err = "WARNING!: No. of Normals differ!!  Can't make a normal Kelo file.\n" +
            same("vertex", "t1.kgx") + same("vertex", "t2.kgx") + same("normal", "t2.kgx"),
     .want = {{"base.vdf", "04000000 00000000 01000000 01000000 0000 0000 0000 0100" + none(1) +
                               none(0) + "01000000 00000000 01000000 0100 0000 0000 0000"},
              {"base.ndf", "02000000" + none(0) +
                               "01000000 01000000 01000000 0000 0000 0000 ffff"}}},
    {.name = "vertex_counts_differ_in_object_1",
     .in = {{"base.kgx", bytes(H)}, {"h1.kgx", bytes(H1)}, {"h2.kgx", bytes(H)}},
     .args = {"-t", "base.kgx", "h1.kgx", "h2.kgx"},
     .err = "\n\tERROR!: No. of Vertices differ(\"h1.kgx\")!!\n" + repeat(same("UV", "h1.kgx"), 3) +
            repeat(same("vertex", "h2.kgx"), 3) + repeat(same("UV", "h2.kgx"), 3),
     .want = {{"base.vdf", "04000000 00000000 00000000 01000000 0000 0000 0000 0100" + none(0) +
                               none(1) + none(2)},
              {"base.tdf", "06000000" + repeat(none(0) + none(1) + none(2), 2)}}},
    {.name = "verbose_and_dump_lines",
     .in = {{"base.kgx", base},
            {"v.kgx", bytes(edit(V, [](Model &m) {
                 m.objs[0].prims[0] = prim(4, "00001123 00003344 00005566");
             }))}},
     .args = {"-V", "-N", "-T", "-Dump", "-c", "base.kgx", "v.kgx"},
     .out = "\nInput files       :   base.kgx       v.kgx\n"
            "File sizes (bytes):        104         104\n"
            "No. of Objects    :          1           1\n"
            "\tVertex top   :         28          28\n"
            "No. of Vertices   :          4           4\n"
            "\tNormal top   :         60          60\n"
            "No. of Normals    :          2           2\n"
            "\tPrimitive top:         76          76\n"
            "No. of Primitives :          1           1\n"
            "Scales            :          7           7\n"
            "Difference        :          3 vertices\n"
            "Difference        :          0 normals\n"
            "\tVertex top   :         28          28\n"
            "Difference        :          1 textures\n"
            "\nOutput file(s)    :   base.vdf         40 bytes\n"
            "                  :   base.ndf         16 bytes\n"
            "                  :   base.tdf         32 bytes\n",
     .err = "keyblend Version 1.51 Apr  1 1996\n" + same("normal", "v.kgx"),
     .want = {{"base.vdf", VDF40}, {"base.ndf", "01000000" + none(0)},
              {"base.tdf", ONE_TEX + "0100 0000 0000 0000 0000 0000 0000 0000"}}},

    // Texture element values take packet bytes 3,2, 7,6, 11,10 and, with
    // four corners, 15,14; the other bytes never count.
    tex("byte_table_four_corners", {prim(12, P16 + " 10101010")},
        {prim(12, "11121314 15161718 191a1b1c 1d1e1f20 ffffffff")},
        ONE_TEX + "0400 0300 0800 0700 0c00 0b00 1000 0f00"),
    tex("byte_table_three_corners", {prim(4, P16 + " 10101010")},
        {prim(4, "11121314 15161718 191a1b1c 1d1e1f20 ffffffff")},
        ONE_TEX + "0400 0300 0800 0700 0c00 0b00 0000 0000"),
    tex("three_corners_ignore_low_bytes_and_word_3", {prim(4, P16)},
        {prim(4, "11111010 11111010 11111010 10101111")}, "01000000" + none(0),
        same("UV", "v.kgx")),
    tex("four_corners_byte_15_alone", {prim(12, P16)}, {prim(12, P12 + " 10101015")},
        ONE_TEX + "0000 0000 0000 0000 0000 0000 0500 0000"),
    tex("untextured_inside_run",
        {prim(4, P12), prim(4, P12), prim(0, P12), prim(4, P12), prim(4, P12), prim(8, P12)},
        {prim(4, P12), prim(4, PLUS1), prim(0, "ffffffff ffffffff ffffffff"), prim(4, P12),
         prim(4, "10100f10 10101010 10101010"), prim(8, "ffffffff ffffffff ffffffff")},
        "01000000 00000000 01000000 04000000 0100 0000 0000 0000 0000 0000 0000 0000"
        "0000000000000000 0000000000000000 0000000000000000 0000000000000000"
        "0000 ffff 0000 0000 0000 0000 0000 0000"),
    tex("full_byte_range_without_wrap", {prim(4, "000000ff 10101010 10101010")},
        {prim(4, "0000ff00 10101010 10101010")},
        ONE_TEX + "01ff ff00 0000 0000 0000 0000 0000 0000"),
    // Bytes a short packet lacks compare as 0, not as the previous packet's.
    tex("short_packet_missing_bytes_are_zero", {prim(12, P16), prim(12, "10101010 10101010")},
        {prim(12, "10101010 10101010 20202020 20202020"), prim(12, "10101010 10101010")},
        ONE_TEX + "0000 0000 0000 0000 1000 1000 1000 1000"),
    tex("header_differs", {prim(4, P12), prim(4, P12)}, {prim(4, P12), prim(4, P12, 0x01)},
        "00000000", "\n\tERROR!: Primitive types differ(\"v.kgx\")!!\n"),
    // The record begun for v is taken back and the file cut short, so w's
    // shorter record leaves nothing of it behind.
    {.name = "header_differs_inside_run",
     .in = {{"base.kgx", bytes(objects({{prim(4, P12), prim(4, P12)}}))},
            {"v.kgx", bytes(objects({{prim(4, PLUS1), prim(4, P12, 0x10000)}}))},
            {"w.kgx", bytes(objects({{prim(4, P12), prim(4, P12)}}))}},
     .args = {"-t", "base.kgx", "v.kgx", "w.kgx"},
     .err = same("vertex", "v.kgx") + "\n\tERROR!: Primitive types differ(\"v.kgx\")!!\n" +
            same("vertex", "w.kgx") + same("UV", "w.kgx"),
     .want = {{"base.vdf", "02000000" + none(0) + none(0)}, {"base.tdf", "01000000" + none(0)}}},
    {.name = "primitive_counts_differ_in_object_1",
     .in = {{"base.kgx", bytes(objects({{prim(4, P12)}, {prim(4, P12)}}))},
            {"v.kgx", bytes(objects({{prim(4, P12)}, {prim(4, P12), prim(4, P12)}}))}},
     .args = {"-t", "base.kgx", "v.kgx"},
     .err = same("vertex", "v.kgx") + same("vertex", "v.kgx") + same("UV", "v.kgx") +
            "\n\tERROR!: No. of Primitives differ(\"v.kgx\")!!\n",
     .want = {{"base.vdf", "02000000" + none(0) + none(1)},
              {"base.tdf", "01000000" + none(0)}}},

    // Damaged models end the run where the read or seek fails; the outputs
    // stay as far as they were written.
    {.name = "eof_in_header", .in = {{"base.kgx", base.substr(0, 10)}, {"v.kgx", var}},
     .args = {"base.kgx", "v.kgx"}, .code = 41,
     .err = "\nUnexpected EOF: \"base.kgx\" at 12 bytes\n", .want = {{"base.vdf", "01000000"}}},
    {.name = "eof_in_vertices", .in = {{"base.kgx", base.substr(0, 60)}, {"v.kgx", var}},
     .args = {"base.kgx", "v.kgx"}, .code = 45,
     .err = "\nUnexpected EOF: \"base.kgx\" at 56 bytes\n",
     .want = {{"base.vdf", "01000000 00000000 01000000 00000000 0200 0000 ffff 0000"}}},
    {.name = "eof_in_packet", .in = {{"base.kgx", base.substr(0, 102)}, {"v.kgx", var}},
     .args = {"-t", "base.kgx", "v.kgx"}, .code = 43,
     .err = "\nUnexpected EOF: \"base.kgx\" at 92 bytes\n",
     .want = {{"base.vdf", VDF40}, {"base.tdf", "01000000"}}},
    {.name = "vertex_top_near_2_to_32", .in = {{"base.kgx", setWord(base, 12, 0xFFFFFFF0)},
                                               {"v.kgx", var}},
     .args = {"base.kgx", "v.kgx"}, .code = 32, .err = "\nSeek error \"base.kgx\" at -4 bytes",
     .want = {{"base.vdf", "01000000"}}},
};

class Engine : public ::testing::TestWithParam<Case> {};
TEST_P(Engine, Run) { check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(E2e, Engine, ::testing::ValuesIn(cases), caseName);

}  // namespace
