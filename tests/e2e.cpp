// e2e.cpp -- keyblend end to end, each case a run in a scratch directory
// checked for its exit code, both streams and every byte it leaves behind:
// the command line, argument files, model names and their fallbacks, the
// header check, record counts, vertex, normal and texture runs, verbose and
// dump lines and damaged models
#include "kit/test.h"

using namespace kit;

namespace {

using Files = std::map<std::string, std::string>;  // name -> bytes (or hex)
inline Files withFiles(Files a, const Files &b) { a.insert(b.begin(), b.end()); return a; }

// One run: the input files, the words, and everything it must leave behind.
struct Case {
    std::string name{};
    Files in{};  // name -> bytes; a name ending in '/' is a directory
    std::vector<std::string> args{};
    int code = 0;
    std::string out{};
    std::string err{};  // the error stream after its first line, the banner
    Files want{};       // name -> hex: every file the run creates
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class E2e : public ::testing::TestWithParam<Case> {};

// Checks, in this order, the exit code, standard output, the error stream,
// each output file byte for byte, and that no other file appeared.
TEST_P(E2e, Run)
{
    const Case &c = GetParam();
    Scratch s;
    std::set<std::string> names, found;
    for (const auto &[name, content] : c.in) {
        fs::create_directories((s / name).parent_path());
        if (name.back() != '/')
            spit(s / name, content), names.insert(name);
    }
    std::vector<std::string> argv{KEYBLEND_BIN};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Result r = run(s.dir, argv);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), c.err);
    for (const auto &[name, want] : c.want) {
        names.insert(name);
        EXPECT_EQ(hex(slurp(s / name)), hex(unhex(want))) << name;
    }
    for (const auto &e : fs::recursive_directory_iterator(s.dir))
        if (e.is_regular_file())
            found.insert(fs::relative(e.path(), s.dir).string());
    EXPECT_EQ(found, names);
}
auto caseName = [](const ::testing::TestParamInfo<Case> &info) { return info.param.name; };

// The warning for an object in which nothing of the kind differs.
std::string same(std::string what, std::string var, std::string base = "base.kgx")
{
    return "WARNING!: No " + what + " differs between \"" + base + "\" and \"" + var + ".\"\n";
}
// The record of object k in which nothing differs.
std::string none(int k) { return "0" + std::to_string(k) + "000000 00000000 00000000"; }
// A primitive of the mode whose packet is the given hex bytes.
Prim tp(uint32_t mode, std::string_view packetHex, uint32_t other = 0) { return prim(mode, unhex(packetHex), other); }

namespace driver {

const std::string USAGE =
    "Version 1.51 Apr  1 1996\n"
    "Usage: keyblend [options] base.kgx variant1.kgx variant2.kgx ...\n"
    "       keyblend [options] kgxs.arg ...\n"
    "   options:\n"
    "\t-o output_name ... Set output file name          (default: base)\n"
    "\t-n             ... Create Normal Kelo file(.ndf) (default: OFF)\n"
    "\t-v             ... Set verbose mode ON           (default: OFF)\n";

// One object of one vertex and one normal; variant dK moves the vertex by K
// in x, which gives the vertex record RK.
const Model S{{Obj{{{1, 2, 3, 4}}, {{0, 0, 1, 0}}, {}, 1}}};
std::string moved(int k)
{
    return bytes(edit(S, [k](Model &m) { m.objs[0].verts[0][0] += (int16_t)k; }));
}
const std::string base = bytes(S), d1 = moved(1), d2 = moved(2), d3 = moved(3);
const std::string R1 = "00000000 00000000 01000000 0100 0000 0000 0000",
                  R2 = "00000000 00000000 01000000 0200 0000 0000 0000",
                  R3 = "00000000 00000000 01000000 0300 0000 0000 0000";
const std::string junk = unhex("42") + base.substr(1);  // first byte is not 0x41
const std::string flagged = bytes(edit(S, [](Model &m) { m.flags = 1; }));
// Any identifier with low byte 0x41 passes; the variant's object count is
// not compared.
const std::string odd = setWord(setWord(base, 0, 0x12345641), 8, 5);
const Files BD1 = {{"base.kgx", base}, {"d1.kgx", d1}};

Case usage(const std::string &name, std::vector<std::string> args)
{
    return {.name = name, .in = BD1, .args = args, .code = 1, .err = USAGE};
}

const std::vector<Case> cases = {
    usage("no_words", {}),
    usage("one_name", {"base.kgx"}),
    usage("unknown_option", {"-x", "base.kgx", "d1.kgx"}),
    usage("lone_dash", {"-", "base.kgx", "d1.kgx"}),
    usage("help", {"-v", "-Help", "base.kgx", "d1.kgx"}),
    usage("o_last", {"-n", "-o"}),
    usage("only_options", {"-o", "base.kgx", "-V"}),
    // An -o value that keeps an extension gets the outputs' appended.
    {.name = "upper_case_options_o_keeping_a_dot", .in = BD1,
     .args = {"-N", "-T", "-C", "-O", "Out.b.x", "base.kgx", "d1.kgx"},
     .err = same("normal", "d1.kgx") + same("UV", "d1.kgx"),
     .want = {{"Out.b.vdf", "01000000" + R1}, {"Out.b.ndf", "01000000" + none(0)},
              {"Out.b.tdf", "01000000" + none(0)}}},
    {.name = "dash_n_after_base_is_a_variant", .in = withFiles(BD1, {{"-n.kgx", d2}}),
     .args = {"base.kgx", "-n", "d1.kgx"}, .want = {{"base.vdf", "02000000" + R2 + R1}}},
    {.name = "o_takes_a_dash_value", .in = BD1, .args = {"-o", "-v", "base.kgx", "d1.kgx"},
     .want = {{"-v.vdf", "01000000" + R1}}},
    // "../o" and "/...o" cut at their last '.' name a directory: no output.
    {.name = "o_names_a_directory", .in = BD1, .args = {"-o", "../o", "base.kgx", "d1.kgx"},
     .code = 30, .err = "\nCannot open: \".\"\n"},
    {.name = "o_names_the_root", .in = BD1, .args = {"-o", "/...o", "base.kgx", "d1.kgx"},
     .code = 30, .err = "\nCannot open: \"/..\"\n"},
    // Existing outputs are replaced; a same-named file elsewhere is no input.
    {.name = "old_outputs_replaced",
     .in = {{"m/b.kgx", base}, {"m/b.vdf", "old"}, {"b.vdf", "stale"}, {"d1.kgx", d1}},
     .args = {"m/b", "d1"}, .want = {{"m/b.vdf", "6f6c64"}, {"b.vdf", "01000000" + R1}}},
    {.name = "base_with_two_dots", .in = {{"a.b.kgx", base}, {"d1.kgx", d1}},
     .args = {"-n", "-t", "a.b.kgx", "d1.kgx"},
     .err = same("normal", "d1.kgx", "a.b.kgx") + same("UV", "d1.kgx", "a.b.kgx"),
     .want = {{"a.b.vdf", "01000000" + R1}, {"a.b.ndf", "01000000" + none(0)},
              {"a.b.tdf", "01000000" + none(0)}}},
    {.name = "argfile_expands_in_place",
     .in = {{"kgxs.arg", "-n base.kgx\nvariant1.kgx   variant2.kgx\n"}, {"base.kgx", base},
            {"variant1.kgx", d1}, {"variant2.kgx", d2}, {"more.kgx", d3}},
     .args = {"-c", "kgxs.arg", "more.kgx"},
     .err = same("normal", "variant1.kgx") + same("normal", "variant2.kgx") +
            same("normal", "more.kgx"),
     .want = {{"base.vdf", "03000000" + R1 + R2 + R3},
              {"base.ndf", "03000000" + none(0) + none(0) + none(0)}}},
    {.name = "argfile_any_case_and_blank",
     .in = withFiles(BD1, {{"LIST.ARG", "base.kgx d1.kgx"}, {"list.Arg", "\td2.kgx"}, {"d2.kgx", d2},
                           {"empty.arg", ""}, {"white.arg", " \n\t \r\n\f\v"}}),
     .args = {"empty.arg", "LIST.ARG", "white.arg", "list.Arg"},
     .want = {{"base.vdf", "02000000" + R1 + R2}}},
    {.name = "argfile_does_not_nest",
     .in = withFiles(BD1, {{"outer.arg", "base.kgx inner.arg d1.kgx"}, {"inner.arg", "d2.kgx\n"},
                           {"d2.kgx", d2}}),
     .args = {"outer.arg"}, .err = "\"inner.arg\" is not a KGX file!\n",
     .want = {{"base.vdf", "01000000" + R1}}},
    {.name = "argfile_missing", .in = BD1, .args = {"nope.arg", "base.kgx", "d1.kgx"}, .code = 2,
     .err = "\nCannot open: \"nope.arg\"\n"},
    {.name = "extension_completed", .in = {{"cube.kgx", base}, {"same.kgx", base}},
     .args = {"cube.gx", "same"}, .err = same("vertex", "same.kgx", "cube.kgx"),
     .want = {{"cube.vdf", "01000000" + none(0)}}},
    {.name = "upper_case_fallback", .in = {{"B.KGX", base}, {"d1.kgx", d1}}, .args = {"B", "d1"},
     .want = {{"B.vdf", "01000000" + R1}}},
    {.name = "variant_missing", .in = BD1, .args = {"base.kgx", "gone.kgx", "d1.kgx"},
     .want = {{"base.vdf", "01000000" + R1}}},
    {.name = "base_missing", .in = BD1, .args = {"nobase", "d1.kgx"}, .code = 232,
     .err = "\nCannot open: \"nobase\"\n"},
    {.name = "variants_failing_the_header_check",
     .in = withFiles(BD1, {{"junk.kgx", junk}, {"flags.kgx", flagged}, {"odd.kgx", odd}}),
     .args = {"-n", "base.kgx", "junk.kgx", "flags.kgx", "odd.kgx", "d1.kgx"},
     .err = "\"junk.kgx\" is not a KGX file!\nWARNING: Flags differ! : base.kgx flags.kgx\n" +
            same("vertex", "odd.kgx") + same("normal", "odd.kgx") + same("normal", "d1.kgx"),
     .want = {{"base.vdf", "02000000" + none(0) + R1},
              {"base.ndf", "02000000" + none(0) + none(0)}}},
    {.name = "base_not_a_model", .in = {{"junk.kgx", junk}, {"d1.kgx", d1}, {"d2.kgx", d2}},
     .args = {"-n", "-t", "junk.kgx", "d1.kgx", "d2.kgx"},
     .err = "\"junk.kgx\" is not a KGX file!\n",
     .want = {{"junk.vdf", "00000000"}, {"junk.ndf", "00000000"}, {"junk.tdf", "00000000"}}},
    // A directory opens as a model and fails its first read (d1 is found
    // before d1.kgx); as an output it cannot be opened.
    {.name = "directory_as_variant", .in = withFiles(BD1, {{"d1/", ""}}), .args = {"base.kgx", "d1"},
     .code = 40, .err = "\nFail to read: \"d1\" at 4 bytes\n", .want = {{"base.vdf", "01000000"}}},
    {.name = "directory_as_base", .in = withFiles(BD1, {{"d/", ""}}), .args = {"d", "d1"},
     .code = 40, .err = "\nFail to read: \"d\" at 4 bytes\n", .want = {{"d.vdf", "01000000"}}},
    {.name = "directory_as_output", .in = withFiles(BD1, {{"o.vdf/", ""}}),
     .args = {"-o", "o", "base.kgx", "d1"}, .code = 30, .err = "\nCannot open: \"o.vdf\"\n"},
    {.name = "verbose_flags_differ", .in = {{"base.kgx", base}, {"flags.kgx", flagged}},
     .args = {"-v", "base.kgx", "flags.kgx"},
     .out = "\nInput files       :   base.kgx   flags.kgx\n"
            "File sizes (bytes):         56          56\n"
            "\nOutput file(s)    :   base.vdf          4 bytes\n",
     .err = "keyblend Version 1.51 Apr  1 1996\nWARNING: Flags differ! : base.kgx flags.kgx\n",
     .want = {{"base.vdf", "00000000"}}},
};
INSTANTIATE_TEST_SUITE_P(Driver, E2e, ::testing::ValuesIn(cases), caseName);

}  // namespace driver

namespace engine {

// One object: four vertices, two normals and one textured three-corner
// primitive; 104 bytes with the vertices at 40, the primitive at 88.
const Model B{{Obj{{{100, 200, 300, 400}, {10, 20, 30, 40}, {-5, -6, -7, -8}, {0, 0, 0, 0}},
                   {{1, 0, 0, 0}, {0, 1, 0, 0}},
                   {tp(4, "00001122 00003344 00005566")},
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
                 m.objs[0].prims[0] = tp(4, "00001123 00003344 00005566");
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
    tex("byte_table_four_corners", {tp(12, P16 + " 10101010")},
        {tp(12, "11121314 15161718 191a1b1c 1d1e1f20 ffffffff")},
        ONE_TEX + "0400 0300 0800 0700 0c00 0b00 1000 0f00"),
    tex("byte_table_three_corners", {tp(4, P16 + " 10101010")},
        {tp(4, "11121314 15161718 191a1b1c 1d1e1f20 ffffffff")},
        ONE_TEX + "0400 0300 0800 0700 0c00 0b00 0000 0000"),
    tex("three_corners_ignore_low_bytes_and_word_3", {tp(4, P16)},
        {tp(4, "11111010 11111010 11111010 10101111")}, "01000000" + none(0),
        same("UV", "v.kgx")),
    tex("four_corners_byte_15_alone", {tp(12, P16)}, {tp(12, P12 + " 10101015")},
        ONE_TEX + "0000 0000 0000 0000 0000 0000 0500 0000"),
    tex("untextured_inside_run",
        {tp(4, P12), tp(4, P12), tp(0, P12), tp(4, P12), tp(4, P12), tp(8, P12)},
        {tp(4, P12), tp(4, PLUS1), tp(0, "ffffffff ffffffff ffffffff"), tp(4, P12),
         tp(4, "10100f10 10101010 10101010"), tp(8, "ffffffff ffffffff ffffffff")},
        "01000000 00000000 01000000 04000000 0100 0000 0000 0000 0000 0000 0000 0000"
        "0000000000000000 0000000000000000 0000000000000000 0000000000000000"
        "0000 ffff 0000 0000 0000 0000 0000 0000"),
    tex("full_byte_range_without_wrap", {tp(4, "000000ff 10101010 10101010")},
        {tp(4, "0000ff00 10101010 10101010")},
        ONE_TEX + "01ff ff00 0000 0000 0000 0000 0000 0000"),
    // Bytes a short packet lacks compare as 0, not as the previous packet's.
    tex("short_packet_missing_bytes_are_zero", {tp(12, P16), tp(12, "10101010 10101010")},
        {tp(12, "10101010 10101010 20202020 20202020"), tp(12, "10101010 10101010")},
        ONE_TEX + "0000 0000 0000 0000 1000 1000 1000 1000"),
    tex("header_differs", {tp(4, P12), tp(4, P12)}, {tp(4, P12), tp(4, P12, 0x01)},
        "00000000", "\n\tERROR!: Primitive types differ(\"v.kgx\")!!\n"),
    // The record begun for v is taken back and the file cut short, so w's
    // shorter record leaves nothing of it behind.
    {.name = "header_differs_inside_run",
     .in = {{"base.kgx", bytes(objects({{tp(4, P12), tp(4, P12)}}))},
            {"v.kgx", bytes(objects({{tp(4, PLUS1), tp(4, P12, 0x10000)}}))},
            {"w.kgx", bytes(objects({{tp(4, P12), tp(4, P12)}}))}},
     .args = {"-t", "base.kgx", "v.kgx", "w.kgx"},
     .err = same("vertex", "v.kgx") + "\n\tERROR!: Primitive types differ(\"v.kgx\")!!\n" +
            same("vertex", "w.kgx") + same("UV", "w.kgx"),
     .want = {{"base.vdf", "02000000" + none(0) + none(0)}, {"base.tdf", "01000000" + none(0)}}},
    {.name = "primitive_counts_differ_in_object_1",
     .in = {{"base.kgx", bytes(objects({{tp(4, P12)}, {tp(4, P12)}}))},
            {"v.kgx", bytes(objects({{tp(4, P12)}, {tp(4, P12), tp(4, P12)}}))}},
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
INSTANTIATE_TEST_SUITE_P(Engine, E2e, ::testing::ValuesIn(cases), caseName);

}  // namespace engine
}  // namespace
