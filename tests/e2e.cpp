// e2e.cpp -- keyblend end to end, each case a run checked for its code, both
// streams and every byte it leaves behind; and its allocation failure reports
#include "engine.h"
#include "kit/test.h"

using namespace kit;

namespace {

using Files = std::map<std::string, std::string>;  // name -> bytes (or hex)
using Words = std::vector<std::string>;
Files operator+(Files a, const Files &b) { return a.insert(b.begin(), b.end()), a; }

// One run: the input files, the words, and everything it must leave behind.
struct Case {
    std::string name{};
    Files in{};  // name -> bytes; a name ending in '/' is a directory
    Words args{};
    int code = 0;
    std::string out{}, err{};  // err: the error stream after its first line, the banner
    Files want{};              // name -> hex: every file the run creates or changes
    Files links{};             // name -> target: a symbolic link, a hard link for "=target"
    std::string shell{};       // shell commands run before keyblend, in its process
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class E2e : public ::testing::TestWithParam<Case> {};

// Checks the code, both streams, every output byte, every other input unchanged, no other file.
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
    for (const auto &[name, target] : c.links) {
        target[0] == '=' ? fs::create_hard_link(s / target.substr(1), s / name)
                         : fs::create_symlink(target, s / name);
        names.insert(name);
    }
    Words argv{"/bin/sh", "-c", c.shell + " exec \"$0\" \"$@\"", KEYBLEND};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Result r = run(s.dir, argv);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), c.err);
    for (const auto &[name, want] : c.want) {
        names.insert(name);
        EXPECT_EQ(hex(slurp(s / name)), hex(unhex(want))) << name;
    }
    for (const auto &[name, content] : c.in)
        EXPECT_TRUE(name.back() == '/' || c.want.count(name) || slurp(s / name) == content)
            << name << " changed";
    for (const auto &e : fs::recursive_directory_iterator(s.dir))
        if (e.is_regular_file() || e.is_symlink())
            found.insert(e.path().lexically_relative(s.dir).string());
    EXPECT_EQ(found, names);
}
auto caseName = [](const ::testing::TestParamInfo<Case> &info) { return info.param.name; };

// The warning for an object in which nothing of the kind differs, the
// record of object k in which nothing differs, and a primitive of the mode
// whose packet is the given hex bytes.
std::string same(std::string what, std::string var, std::string base = "base.kgx")
{
    return "WARNING!: No " + what + " differs between \"" + base + "\" and \"" + var + ".\"\n";
}
std::string none(int k) { return "0" + std::to_string(k) + "000000 00000000 00000000"; }
Prim tp(uint32_t mode, std::string_view packetHex, uint32_t other = 0)
{
    return prim(mode, unhex(packetHex), other);
}

// One object of one vertex and one normal; dK moves the vertex by K in x,
// which gives the vertex record RK.  ONE_R1 and ONE_NONE: a file of one
// record, R1 or none(0).
const Model S{{Obj{{{1, 2, 3, 4}}, {{0, 0, 1, 0}}, {}, 1}}};
std::string moved(int k)
{
    return bytes(edit(S, [k](Model &m) { m.objs[0].verts[0][0] += (int16_t)k; }));
}
const std::string base = bytes(S), d1 = moved(1), d2 = moved(2), d3 = moved(3);
std::string record(int k)
{
    return "00000000 00000000 01000000 0" + std::to_string(k) + "00 0000 0000 0000";
}
const std::string R1 = record(1), R2 = record(2), R3 = record(3);
const std::string ONE_R1 = "01000000" + R1, ONE_NONE = "01000000" + none(0);
const Files BD1 = {{"base.kgx", base}, {"d1.kgx", d1}};

// A run on BD1 that ends with code and the error report err, and no file.
Case fails(std::string name, Words args, int code, std::string err)
{
    return {name, BD1, args, code, "", err};
}

namespace driver {

const std::string USAGE = "Version 1.51 Apr  1 1996\n"
                          "Usage: keyblend [options] base.kgx variant1.kgx variant2.kgx ...\n"
                          "       keyblend [options] kgxs.arg ...\n"
                          "   options:\n"
                          "\t-o output_name ... Set output file name          (default: base)\n"
                          "\t-n             ... Create Normal Kelo file(.ndf) (default: OFF)\n"
                          "\t-v             ... Set verbose mode ON           (default: OFF)\n";
Case usage(std::string name, Words args) { return fails(name, args, 1, USAGE); }

// Not a model (first byte not 0x41), other flags, and a model with another
// identifier of low byte 0x41 and another object count.
const std::string junk = unhex("42") + base.substr(1),
                  flagged = bytes(edit(S, [](Model &m) { m.flags = 1; }));
const std::string odd = setWord(setWord(base, 0, 0x12345641), KGX_COUNT_AT, 5);

const std::vector<Case> cases = {
    usage("one_name", {"base.kgx"}),
    usage("unknown_option", {"-x", "base.kgx", "d1.kgx"}),
    usage("help", {"-v", "-Help", "base.kgx", "d1.kgx"}),
    usage("o_last", {"-n", "-o"}),
    // -o takes the next word whatever it is; a value that keeps an extension
    // gets the outputs' appended.  After the base name every word is a
    // variant.
    {.name = "o_takes_a_dash_value",
     .in = BD1 + Files{{"-n.kgx", d2}},
     .args = {"-O", "-v.b.x", "base", "-n", "d1"},
     .want = {{"-v.b.vdf", "02000000" + R2 + R1}}},
    // "../o" and "/...o" cut at their last '.' name a directory: no output.
    fails("o_names_a_directory", {"-o", "../o", "base.kgx", "d1.kgx"}, 30,
          "\nCannot open: \".\"\n"),
    fails("o_names_the_root", {"-o", "/...o", "base.kgx", "d1.kgx"}, 30,
          "\nCannot open: \"/..\"\n"),
    // An extension is completed to the model one, a bare name gets it in
    // either case; outputs take the base's name (no directory, its own
    // extension kept) and replace old ones; unopenable variants are skipped.
    {.name = "model_and_output_names",
     .in = {{".m/c.ube.kgx", base}, {".m/c.ube.vdf", "old"}, {"c.ube.vdf", "x"}, {"D1.KGX", d1}},
     .args = {"-N", "-C", ".m/c.ube.gx", "gone.kgx", "no/dir", "D1"},
     .err = same("normal", "D1.KGX", ".m/c.ube.kgx"),
     .want = {{"c.ube.vdf", ONE_R1}, {"c.ube.ndf", ONE_NONE}}},
    // Argument files of any case expand in place, blanks of any kind apart;
    // the name of an argument file inside one is a model name.  Variants
    // failing the header check write no record; another identifier of low
    // byte 0x41 and another object count pass it.
    {.name = "argument_files_and_the_header_check",
     .in = BD1 + Files{{"d2.kgx", d2}, {"d3.kgx", d3}} +
           Files{{"junk.kgx", junk}, {"flags.kgx", flagged}, {"odd.kgx", odd}} +
           Files{{"opts.ARG", "-n base.kgx\n"}, {"list.Arg", "d1.kgx   inner.arg\td2.kgx\r\n"}} +
           Files{{"inner.arg", "d3.kgx"}, {"empty.arg", ""}, {"white.arg", " \n\t \r\n\f\v"}},
     .args = {"-c", "empty.arg", "opts.ARG", "white.arg", "list.Arg", "d3.kgx", "junk.kgx",
              "flags.kgx", "odd.kgx"},
     .err = same("normal", "d1.kgx") + "\"inner.arg\" is not a KGX file!\n" +
            same("normal", "d2.kgx") + same("normal", "d3.kgx") +
            "\"junk.kgx\" is not a KGX file!\n" + "WARNING: Flags differ! : base.kgx flags.kgx\n" +
            same("vertex", "odd.kgx") + same("normal", "odd.kgx"),
     .want = {{"base.vdf", "04000000" + R1 + R2 + R3 + none(0)},
              {"base.ndf", "04000000" + repeat(none(0), 4)}}},
    fails("argument_file_missing", {"nope.arg", "base.kgx", "d1.kgx"}, 2,
          "\nCannot open: \"nope.arg\"\n"),
    fails("base_missing", {"nobase", "d1.kgx"}, 232, "\nCannot open: \"nobase\"\n"),
    {.name = "base_not_a_model",
     .in = {{"junk.kgx", junk}, {"d1.kgx", d1}, {"d2.kgx", d2}},
     .args = {"-n", "-t", "junk.kgx", "d1.kgx", "d2.kgx"},
     .err = "\"junk.kgx\" is not a KGX file!\n",
     .want = {{"junk.vdf", "00000000"}, {"junk.ndf", "00000000"}, {"junk.tdf", "00000000"}}},
    // The path opens, but taken as text it climbs above the root.
    {.name = "variant_path_above_the_root",
     .in = BD1,
     .args = {"base.kgx", "/../proc/self/cwd/d1.kgx"},
     .code = 52,
     .err = "\nBad path name: \"/../proc/self/cwd/d1.kgx\"\n",
     .want = {{"base.vdf", "01000000"}}},
};
INSTANTIATE_TEST_SUITE_P(Driver, E2e, ::testing::ValuesIn(cases), caseName);

}  // namespace driver

namespace engine {

// One object: four vertices, two normals and one textured three-corner
// primitive; 104 bytes with the vertices at 40, the primitive at 88.  The
// variant moves vertex 1 by (+2, 0, -1, 0) and vertex 3 by (0, +5, 0, 0).
const Model B{{Obj{{{100, 200, 300, 400}, {10, 20, 30, 40}, {-5, -6, -7, -8}, {0, 0, 0, 0}},
                   {{1, 0, 0, 0}, {0, 1, 0, 0}},
                   {tp(4, "00001122 00003344 00005566")},
                   7}}};
const Model V = edit(B, [](Model &m) {
    m.objs[0].verts[1] = {12, 20, 29, 40}, m.objs[0].verts[3] = {0, 5, 0, 0};
});
const std::string base = bytes(B), var = bytes(V);
const std::string VDF40 = "01000000 00000000 01000000 03000000 0200 0000 ffff 0000"
                          "0000 0000 0000 0000 0000 0500 0000 0000";

// Two objects; t1 changes object 0's normal count, t2 changes object 1: x
// from 32767 to -32768, +1 modulo 2^16, and a normal's fourth value; a
// primitive more in its object 0 moves object 1's arrays away from the base's.
const Model T{{Obj{{{1, 1, 1, 1}, {2, 2, 2, 2}}, {{0, 0, 1, 0}}},
               Obj{{{32767, 3, 3, 3}}, {{0, 1, 0, 0}, {1, 0, 0, 0}}}}};
const Model T1 = edit(T, [](Model &m) {
    m.objs[0].verts[1] = {2, 2, 2, 3}, m.objs[0].norms.push_back({});
});
const Model T2 = edit(T, [](Model &m) {
    m.objs[1].verts[0] = {-32768, 3, 3, 3}, m.objs[1].norms[1] = {1, 0, 0, -1};
    m.objs[0].prims.push_back(tp(0, ""));
});

// Three objects, the last without vertices; h1 has two in object 1.
const Model H{{Obj{{{1, 2, 3, 4}}}, Obj{{{5, 6, 7, 8}}}, Obj{}}};
const Model H1 = edit(H, [](Model &m) {
    m.objs[0].verts[0] = {1, 2, 3, 5}, m.objs[1].verts.push_back({});
});

// Objects of primitives only, so that the vertex file holds empty records.
std::string objects(std::vector<std::vector<Prim>> prims)
{
    Model m;
    for (auto &p : prims)
        m.objs.push_back(Obj{{}, {}, p});
    return bytes(m);
}
const std::string P12 = "10101010 10101010 10101010";
const std::string PLUS1 = "10101011 10101010 10101010";  // byte 3 one up
const std::vector<Prim> TWO_PRIMS = {tp(4, P12), tp(4, P12)};

// A run on the base and the variant (or the base again), both followed by
// tail, with the word at at set to value in both, and the report of the
// base's end at byte at.
Case claiming(std::string name, size_t at, uint32_t value, Words args, int code, std::string err,
              Files want, const std::string &variant = var, const std::string &tail = "")
{
    return {.name = name,
            .in = {{"base.kgx", setWord(base + tail, at, value)},
                   {"v.kgx", setWord(variant + tail, at, value)}},
            .args = args,
            .code = code,
            .err = err,
            .want = want};
}
std::string eof(int at)
{
    return "\nUnexpected EOF: \"base.kgx\" at " + std::to_string(at) + " bytes\n";
}
const size_t PRIM0 = KGX_TABLE + word(base, kgxEntryAt(0, ENTRY_PRIM_TOP));  // the primitive
const Words BV = {"base.kgx", "v.kgx"}, NBV = {"-n", "base.kgx", "v.kgx"},
            TBV = {"-t", "base.kgx", "v.kgx"};

const std::vector<Case> cases = {
    {.name = "normal_counts_differ",
     .in = {{"base.kgx", bytes(T)}, {"t1.kgx", bytes(T1)}, {"t2.kgx", bytes(T2)}},
     .args = {"-n", "base.kgx", "t1.kgx", "t2.kgx"},
     .err = "WARNING!: No. of Normals differ!!  Can't make a normal Kelo file.\n" +
            same("vertex", "t1.kgx") + same("vertex", "t2.kgx") + same("normal", "t2.kgx"),
     .want = {{"base.vdf", "04000000 00000000 01000000 01000000 0000 0000 0000 0100" + none(1) +
                               none(0) + "01000000 00000000 01000000 0100 0000 0000 0000"},
              {"base.ndf",
               "02000000" + none(0) + "01000000 01000000 01000000 0000 0000 0000 ffff"}}},
    {.name = "vertex_counts_differ_in_object_1",
     .in = {{"base.kgx", bytes(H)}, {"h1.kgx", bytes(H1)}, {"h2.kgx", bytes(H)}},
     .args = {"-t", "base.kgx", "h1.kgx", "h2.kgx"},
     .err = "\n\tERROR!: No. of Vertices differ(\"h1.kgx\")!!\n" + repeat(same("UV", "h1.kgx"), 3) +
            repeat(same("vertex", "h2.kgx"), 3) + repeat(same("UV", "h2.kgx"), 3),
     .want = {{"base.vdf", "04000000 00000000 00000000 01000000 0000 0000 0000 0100" + none(0) +
                               none(1) + none(2)},
              {"base.tdf", "06000000" + repeat(none(0) + none(1) + none(2), 2)}}},
    {.name = "verbose_and_dump_lines",
     .in = {{"base.kgx", base}, {"v.kgx", var}},
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
            "Difference        :          0 textures\n"
            "\nOutput file(s)    :   base.vdf         40 bytes\n"
            "                  :   base.ndf         16 bytes\n"
            "                  :   base.tdf         16 bytes\n",
     .err = "keyblend Version 1.51 Apr  1 1996\n" + same("normal", "v.kgx") + same("UV", "v.kgx"),
     .want = {{"base.vdf", VDF40}, {"base.ndf", ONE_NONE}, {"base.tdf", ONE_NONE}}},
    // Texture values are unsigned byte differences of packet bytes 3,2, 7,6, ...
    // (here -255 and 255); untextured primitives (mode 8) do not count, nor
    // does the fourth word of a three-corner packet, and bytes a short packet
    // lacks compare as 0, not as the previous packet's.  The variant's
    // primitives stand at its own top, after a normal the base lacks, which
    // without -n is not compared.
    {.name = "texture_bytes",
     .in = {{"base.kgx", objects({{tp(8, P12), tp(4, "000000ff 10101010 10101010"),
                                   tp(4, P12 + " 10101010"), tp(12, "10101010 10101010")}})},
            {"v.kgx",
             bytes({{Obj{{},
                         {{0, 0, 1, 0}},
                         {tp(8, "ffffffff ffffffff ffffffff"), tp(4, "0000ff00 10101010 10101010"),
                          tp(4, P12 + " 10101111"), tp(12, "10101010 10101010")}}}})}},
     .args = TBV,
     .err = same("vertex", "v.kgx"),
     .want = {{"base.vdf", ONE_NONE},
              {"base.tdf",
               "01000000 00000000 01000000 01000000 01ff ff00 0000 0000 0000 0000 0000 0000"}}},
    // Headers that differ in a low (v) or a high (w) free bit; v's record
    // begun is taken back and the file cut short.
    {.name = "header_differs",
     .in = {{"base.kgx", objects({TWO_PRIMS})},
            {"v.kgx", objects({{tp(4, PLUS1), tp(4, P12, 0x01)}})},
            {"w.kgx", objects({{tp(4, P12), tp(4, P12, 0x10000)}})}},
     .args = {"-t", "base.kgx", "v.kgx", "w.kgx"},
     .err = same("vertex", "v.kgx") + "\n\tERROR!: Primitive types differ(\"v.kgx\")!!\n" +
            same("vertex", "w.kgx") + "\n\tERROR!: Primitive types differ(\"w.kgx\")!!\n",
     .want = {{"base.vdf", "02000000" + none(0) + none(0)}, {"base.tdf", "00000000"}}},
    {.name = "primitive_counts_differ_in_object_1",
     .in = {{"base.kgx", objects({{tp(4, P12)}, {tp(4, P12)}})},
            {"v.kgx", objects({{tp(4, P12)}, TWO_PRIMS})}},
     .args = TBV,
     .err = same("vertex", "v.kgx") + same("vertex", "v.kgx") + same("UV", "v.kgx") +
            "\n\tERROR!: No. of Primitives differ(\"v.kgx\")!!\n",
     .want = {{"base.vdf", "02000000" + none(0) + none(1)}, {"base.tdf", ONE_NONE}}},

    // Counts and tops near 2^32 end the run at once where a read or seek
    // fails; outputs stay as written.  Tops add to the table modulo 2^32.
    claiming("vertex_top_near_2_to_32", kgxEntryAt(0, ENTRY_VERT_TOP), 0xFFFFFFF0, BV, 32,
             "\nSeek error \"base.kgx\" at -4 bytes", {{"base.vdf", "01000000"}}),
    claiming("normal_top_wraps_into_the_header", kgxEntryAt(0, ENTRY_NORM_TOP), 0xFFFFFFFF, NBV, 0,
             same("normal", "v.kgx"), {{"base.vdf", VDF40}, {"base.ndf", ONE_NONE}}),
    // Object 1's entry is read from the vertex data: vertex top 200 << 16 | 100.
    claiming("object_count_2_to_32", KGX_COUNT_AT, 0xFFFFFFFF, BV, 45,
             same("vertex", "v.kgx") + eof(13107312), {{"base.vdf", ONE_NONE}}, base),
    // The run's length stays the placeholder 0: the run never ends.
    claiming("vertex_count_2_to_32", kgxEntryAt(0, ENTRY_N_VERT), 0xFFFFFFFF, BV, 45, eof(104),
             {{"base.vdf", hex(setWord(unhex(VDF40), 12, 0))}}),
    claiming("primitive_count_2_to_32", kgxEntryAt(0, ENTRY_N_PRIM), 0xFFFFFFFF, TBV, 41, eof(108),
             {{"base.vdf", VDF40}, {"base.tdf", "01000000"}}),
    // The 612 bytes after the header hold more than 127 of its words, not 255.
    claiming("packet_of_255_words", PRIM0, primHeader(MODE_TEXTURED, PACKET_WORDS_MAX), TBV, 43,
             eof(92), {{"base.vdf", VDF40}, {"base.tdf", "01000000"}}, var, std::string(600, 0)),
};
INSTANTIATE_TEST_SUITE_P(Engine, E2e, ::testing::ValuesIn(cases), caseName);

}  // namespace engine

namespace hostile {

// An output that would be a file the run reads ends the run with 3 before
// anything is created or changed.  v.kgx differs from b.kgx in its vertex.
Case guard(const std::string &name, const Files &links, Words args, const std::string &output,
           const std::string &input, bool toBe = false)
{
    const char *why =
        toBe ? "\" would be read back as variant \"" : "\" is the same file as input \"";
    const Files in = {
        {"b.kgx", base}, {"v.kgx", d1}, {"l.arg", "b.kgx v.kgx\n"}, {"e.arg", ""}, {"sub/", ""}};
    return {name, in,   args, 3, "", "\nOutput \"" + output + why + input + "\": nothing written\n",
            {},   links};
}

const std::string big(1 << 20, 'x'), c251(251, 'c'), nested = repeat("d/", 400), o5000(5000, 'o');
const std::string deep = repeat(std::string(250, 'p') + "/", 15);  // with c251.kgx, 4020 characters

// Four vertex records of 300 vertices pass 8 KiB; the rest stays under it.
Model wide(int16_t bump)
{
    Model m{{Obj{{}, {{0, 0, 1, 0}}}}};
    for (int16_t k = 0; k < 300; k++)
        m.objs[0].verts.push_back({(int16_t)(k + bump), k, k, k});
    return m;
}

// Forty argument files, each an input the outputs must not replace, of 750
// entries but the first (every third entry a missing model).
Case argumentFiles()
{
    Case c{.name = "forty_argument_files",
           .in = BD1,
           .want = {{"base.vdf", hex(le32({19501})) + repeat(R1, 19501)}}};
    for (int i = 0; i < 40; i++)
        c.in[c.args.emplace_back(std::to_string(i) + ".arg")] =
            i ? repeat(" d1 d1\tmissing\n", 250) : "base d1";
    return c;
}

const std::vector<Case> cases = {
    // Links to the base of either kind, outputs of each kind, names by the
    // fallback, other spellings and argument files are all caught.
    guard("texture_output_is_variant", {{"b.tdf", "v.kgx"}}, {"-t", "b", "v.kgx"}, "b.tdf",
          "v.kgx"),
    guard("o_spells_base_otherwise", {{"sub/b.vdf", "../b.kgx"}},
          {"-o", "./sub/../sub/b.x", "b", "v"}, "./sub/../sub/b.vdf", "b.kgx"),
    // The argument file is the 16th input noted, the base the 17th: the guard's table of noted
    // inputs grows and must keep them all.
    guard("output_is_argument_file", {{"b.vdf", "l.arg"}},
          {"e.arg", "e.arg", "e.arg", "e.arg", "e.arg", "e.arg", "e.arg", "e.arg", "e.arg", "e.arg",
           "e.arg", "e.arg", "e.arg", "e.arg", "e.arg", "l.arg"},
          "b.vdf", "l.arg"),
    // A variant named like an output that does not exist yet would be
    // opened after the output is made and read back as a model.
    guard("variant_is_output_to_be", {}, {"b", "v", "b.vdf"}, "b.vdf", "b.vdf", true),
    guard("variant_is_output_to_be_other_spelling", {}, {"-n", "b", "v", "sub/../b.ndf"}, "b.ndf",
          "sub/../b.ndf", true),

    // 4000-character paths, 400 levels, 255-character names (by the fallback)
    // work; longer ones fail.
    // Megabyte tokens (too long to open: skipped) in an argument file.
    {.name = "long_paths_and_megabyte_tokens",
     .in = {{deep + c251 + ".kgx", base},
            {nested + "d1.kgx", d1},
            {"l.arg", "-n " + deep + c251 + " " + big + "/v " + nested + "d1\n" + big + ".kgx"}},
     .args = {"l.arg"},
     .err = same("normal", nested + "d1.kgx", deep + c251 + ".kgx"),
     .want = {{c251 + ".vdf", ONE_R1}, {c251 + ".ndf", ONE_NONE}}},
    fails("o_longer_than_a_path", {"-o", o5000, "base", "d1"}, 30,
          "\nCannot open: \"" + o5000 + ".vdf\"\n"),
    argumentFiles(),

    // A write lost anywhere ends the run with 4 and its report.  A regular
    // output that lost a write is cut to 0 bytes; the others stay whole.
    {.name = "file_size_limit_and_full_device",
     .in = {{"base.kgx", bytes(wide(0))}, {"d1.kgx", bytes(wide(2))}},
     .args = {"-n", "-t", "base", "d1", "d1", "d1", "d1"},
     .code = 4,
     .err = repeat(same("normal", "d1.kgx") + same("UV", "d1.kgx"), 4) +
            "\nFail to write: \"base.vdf\": incomplete, cut to 0 bytes\n\nFail to write: "
            "\"base.ndf\": incomplete\n",
     .want = {{"base.vdf", ""}, {"base.tdf", hex(le32({4})) + repeat(none(0), 4)}},
     .links = {{"base.ndf", "/dev/full"}},
     .shell = "ulimit -f 8;"},
    // Standard output a pipe whose reader is gone: the run is not killed.
    {.name = "standard_output_unread",
     .in = BD1,
     .args = {"-v", "base", "d1"},
     .code = 4,
     .err = "keyblend Version 1.51 Apr  1 1996\n\nFail to write: standard output\n",
     .want = {{"base.vdf", ONE_R1}},
     .shell = "mkfifo p; exec 3<>p >p 3<&-;"},
    // The base removed once the run holds it: an open file stays readable.
    // Its outputs m.ndf and m.tdf are pipes whose reader removes m.kgx
    // between their opens, before the run reads the base.
    {.name = "base_removed_while_read",
     .in = BD1,
     .args = {"-n", "-t", "m.kgx", "d1.kgx"},
     .err = same("normal", "d1.kgx", "m.kgx") + same("UV", "d1.kgx", "m.kgx"),
     .want = {{"m.vdf", ONE_R1}},
     .shell = "cp base.kgx m.kgx; mkfifo m.ndf m.tdf;"
              "{ exec 3<m.ndf; rm m.kgx; exec 4<m.tdf; cat <&4 >/dev/null; } &"},
    // Started with its standard streams closed, no message lands in an output.
    {.name = "closed_standard_streams",
     .in = BD1,
     .args = {"-v", "-n", "base", "d1"},
     .want = {{"base.vdf", ONE_R1}, {"base.ndf", ONE_NONE}},
     .shell = "exec <&- >&- 2>&-;"},
};
INSTANTIATE_TEST_SUITE_P(Hostile, E2e, ::testing::ValuesIn(cases), caseName);

}  // namespace hostile

// Memory running out in every allocation of a run in turn: the preloaded
// malloc fails request N.  Each counted request then ends the run with its
// report, and the reports are those of the counting rules: each request
// counted before it is made (a handle as 20 bytes, a copy as its length + 1,
// a full path as 255), each release counted, each output named just before
// it is opened.  Requests of the C library end in other documented ways.
TEST(AllocationFailure, ReportsCountEveryRequest)
{
#if defined(KEYBLEND_SANITIZED)
    GTEST_SKIP() << "the sanitizers own malloc";
#endif
    Scratch s;
    spit(s / "b.kgx", base), spit(s / "v.kgx", d1), spit(s / "l.arg", "-o o -o b -n -t b v\n");
    // The reports of "keyblend l.arg", in order, each with its exit code.
    std::vector<std::string> want, got;
    int requests = 0, releases = 0, total = 0;
    auto request = [&](int code, const std::string &label, int size) {
        char line[200];
        snprintf(line, sizeof line, "%d Alloc Error: \"%s\" %d x %d(+%d-%d:sum=%d)", code,
                 label.c_str(), code == 11 ? 1 : size, code == 11 ? size : 1, ++requests, releases,
                 total += size);
        want.push_back(line);
    };
    auto open = [&](const std::string &name) {
        request(11, "fileOpen", 20), request(13, name, (int)name.size() + 1),
            request(12, name, 255);
    };
    auto missing = [&] { request(11, "fileOpen", 20), releases++; };
    request(13, "arg", 4), open("l.arg");
    for (std::string token : {"-o", "o", "-o", "b", "-n", "-t", "b", "v"})
        request(13, token, (int)token.size() + 1);
    releases += 4;                             // l.arg closed, its extension given back
    request(13, "o", 2), request(13, "b", 2);  // -o twice: the earlier value is not released
    missing(), open("b.kgx");
    for (const char *out : {"b.vdf", "b.ndf", "b.tdf"})
        request(12, "b", 6), open(out);
    missing(), open("v.kgx");
    for (int n = 1;; n++) {
        Result r = run(s.dir, {KEYBLEND, "l.arg"},
                       {"LD_PRELOAD=" FAULT_MALLOC_LIB, "FAULT_MALLOC_NTH=" + std::to_string(n)});
        if (r.err.find("fault_malloc: failed") == std::string::npos)
            break;
        size_t at = r.err.find("\nAlloc Error: ");
        if (at != std::string::npos) {
            got.push_back(std::to_string(r.code) + " " +
                          r.err.substr(at + 1, r.err.find('\n', at + 1) - at - 1));
        } else if (got.size() < want.size()) {  // (a coverage build's exit handler may fail later)
            EXPECT_TRUE(r.code == 0 || r.code == 30 || r.code == 232) << n << ": " << r.code;
        }
    }
    EXPECT_EQ(got, want);
}

// A base that is not a model ends the run at once: the variant then open is
// neither closed nor released (so no close of it can fail and be reported).
TEST(Run, BaseNotAModelLeavesTheVariantAsItIs)
{
    Scratch s;
    spit(s / "b.kgx", "not a model"), spit(s / "v.kgx", d1);
    outputName = strCopy((s / "o").c_str());
    std::string v = (s / "v.kgx").string();
    char *variants[] = {v.data()};
    FileHandle *b = fileOpen((s / "b.kgx").c_str(), "r");
    const int32_t released = freeCount;
    EXPECT_EQ(runVariants(b, variants, 1), 0);
    // Released: the vertex output's handle and its three names, not the variant.
    EXPECT_EQ(freeCount, released + 4);
    runAbandon(), fileClose(b), memFree(outputName);
}

}  // namespace
