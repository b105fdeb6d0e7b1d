// e2e_driver.cpp -- keyblend's command line end to end: options, argument
// files, model names and their fallbacks, the header check and record counts
#include "kgxmodel.h"

using namespace kgx;

namespace {

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
const std::string LONG = repeat("./", 150) + "same.kgx";  // a 308-character token

Case usage(const std::string &name, std::vector<std::string> args)
{
    return {.name = name, .in = BD1, .args = args, .code = 1, .err = USAGE};
}

const std::vector<Case> cases = {
    usage("no_words", {}),
    usage("one_name", {"base.kgx"}),
    usage("unknown_option", {"-x", "base.kgx", "d1.kgx"}),
    usage("long_option", {"-verbose", "base.kgx", "d1.kgx"}),
    usage("lone_dash", {"-", "base.kgx", "d1.kgx"}),
    usage("help", {"-v", "-Help", "base.kgx", "d1.kgx"}),
    usage("o_last", {"-n", "-o"}),
    usage("only_options", {"-o", "base.kgx", "-V"}),
    {.name = "upper_case_options", .in = BD1,
     .args = {"-N", "-T", "-C", "-O", "Out.x", "base.kgx", "d1.kgx"},
     .err = same("normal", "d1.kgx") + same("UV", "d1.kgx"),
     .want = {{"Out.vdf", "01000000" + R1}, {"Out.ndf", "01000000" + none(0)},
              {"Out.tdf", "01000000" + none(0)}}},
    {.name = "dash_n_after_base_is_a_variant", .in = withFiles(BD1, {{"-n.kgx", d2}}),
     .args = {"base.kgx", "-n", "d1.kgx"}, .want = {{"base.vdf", "02000000" + R2 + R1}}},
    {.name = "o_takes_a_dash_value", .in = BD1, .args = {"-o", "-v", "base.kgx", "d1.kgx"},
     .want = {{"-v.vdf", "01000000" + R1}}},
    {.name = "o_value_keeping_a_dot", .in = BD1,
     .args = {"-n", "-t", "-o", "out.b.x", "base.kgx", "d1.kgx"},
     .err = same("normal", "d1.kgx") + same("UV", "d1.kgx"),
     .want = {{"out.b.vdf", "01000000" + R1}, {"out.b.ndf", "01000000" + none(0)},
              {"out.b.tdf", "01000000" + none(0)}}},
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
    {.name = "argfile_extension_any_case",
     .in = withFiles(BD1, {{"LIST.ARG", "base.kgx d1.kgx"}, {"list.Arg", "\td2.kgx"},
                           {"d2.kgx", d2}}),
     .args = {"LIST.ARG", "list.Arg"}, .want = {{"base.vdf", "02000000" + R1 + R2}}},
    {.name = "argfile_blank",
     .in = withFiles(BD1, {{"empty.arg", ""}, {"white.arg", " \n\t \r\n\f\v"}}),
     .args = {"empty.arg", "base.kgx", "white.arg", "d1.kgx"},
     .want = {{"base.vdf", "01000000" + R1}}},
    {.name = "argfile_does_not_nest",
     .in = withFiles(BD1, {{"outer.arg", "base.kgx inner.arg d1.kgx"}, {"inner.arg", "d2.kgx\n"},
                           {"d2.kgx", d2}}),
     .args = {"outer.arg"}, .err = "\"inner.arg\" is not a KGX file!\n",
     .want = {{"base.vdf", "01000000" + R1}}},
    {.name = "argfile_missing", .in = BD1, .args = {"nope.arg", "base.kgx", "d1.kgx"}, .code = 2,
     .err = "\nCannot open: \"nope.arg\"\n"},
    {.name = "argfile_long_token", .in = {{"long.arg", "base.kgx " + LONG}, {"base.kgx", base},
                                          {"same.kgx", base}},
     .args = {"long.arg"}, .err = same("vertex", LONG),
     .want = {{"base.vdf", "01000000" + none(0)}}},
    {.name = "argfile_many_entries",
     .in = withFiles(BD1, {{"big.arg", repeat("-c\n", 2000) + "base.kgx d1.kgx"}}),
     .args = {"big.arg"}, .want = {{"base.vdf", "01000000" + R1}}},
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
    {.name = "verbose_flags_differ", .in = {{"base.kgx", base}, {"flags.kgx", flagged}},
     .args = {"-v", "base.kgx", "flags.kgx"},
     .out = "\nInput files       :   base.kgx   flags.kgx\n"
            "File sizes (bytes):         56          56\n"
            "\nOutput file(s)    :   base.vdf          4 bytes\n",
     .err = "keyblend Version 1.51 Apr  1 1996\nWARNING: Flags differ! : base.kgx flags.kgx\n",
     .want = {{"base.vdf", "00000000"}}},
};

class Driver : public ::testing::TestWithParam<Case> {};
TEST_P(Driver, Run) { check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(E2e, Driver, ::testing::ValuesIn(cases), caseName);

}  // namespace
