// harden.cpp -- keyblend on hostile input and in a hostile world: the output
// guard, counts and offsets near 2^32, long names and lists, lost writes,
// closed streams and memory running out
#include "kit/test.h"

using namespace kit;

namespace {

// One object of n vertices; vertex k is (k, k, k, bump).
std::string simpleModel(uint32_t n, int16_t bump = 0)
{
    Obj o{{}, {{0, 0, 1, 0}}, {prim(4, std::string(12, (char)bump))}};
    for (int16_t k = 0; k < (int16_t)n; k++)
        o.verts.push_back({k, k, k, bump});
    return bytes({{o}});
}

// A scratch directory holding b.kgx and v.kgx, which differs in every vertex.
struct Pair : Scratch {
    Pair()
    {
        spit(dir / "b.kgx", simpleModel(3));
        spit(dir / "v.kgx", simpleModel(3, 2));
    }
};

Result keyblend(const fs::path &dir, std::vector<std::string> args, const std::vector<std::string> &env = {})
{
    args.insert(args.begin(), KEYBLEND_BIN);
    return run(dir, args, env);
}

// keyblend started by the shell line, which runs it as "$0" "$@".
Result shell(const fs::path &dir, const std::string &line, std::vector<std::string> args)
{
    args.insert(args.begin(), {"/bin/sh", "-c", line, KEYBLEND_BIN});
    return run(dir, args);
}

// The error stream holds the line.
#define EXPECT_REPORT(r, line) EXPECT_NE((r).err.find(line), std::string::npos) << (r).err

struct GuardCase {
    const char *name;
    // Links to make (link name, target, hard?) beside b.kgx, v.kgx and
    // l.arg, which lists "b.kgx v.kgx".
    std::vector<std::tuple<const char *, const char *, bool>> links;
    std::vector<std::string> args;
    const char *output, *input;  // as the message names them
    bool toBe = false;           // the input is an output that does not exist yet
};
void PrintTo(const GuardCase &c, std::ostream *os) { *os << c.name; }
class Guard : public ::testing::TestWithParam<GuardCase> {};

// An output that would be a file the run reads ends the run with 3 before
// anything is created or changed.
TEST_P(Guard, RefusesBeforeCreatingAnything)
{
    const GuardCase &c = GetParam();
    Pair s;
    spit(s / "l.arg", "b.kgx v.kgx\n");
    fs::create_directory(s / "sub");
    for (auto &[link, target, hard] : c.links)
        hard ? fs::create_hard_link(s / target, s / link) : fs::create_symlink(target, s / link);
    auto before = snapshot(s.dir);
    Result r = keyblend(s.dir, c.args);
    EXPECT_EQ(r.code, 3);
    EXPECT_REPORT(r, std::string("\nOutput \"") + c.output +
                         (c.toBe ? "\" would be read back as variant \"" : "\" is the same file as input \"") +
                         c.input + "\": nothing written\n");
    EXPECT_EQ(snapshot(s.dir), before);
}

const GuardCase guardCases[] = {
    {"OutputIsSymlinkToBase", {{"b.vdf", "b.kgx", false}}, {"b", "v"}, "b.vdf", "b.kgx"},
    {"OutputIsHardLinkToBase", {{"b.vdf", "b.kgx", true}}, {"b.kgx", "v.kgx"}, "b.vdf", "b.kgx"},
    {"NormalOutputIsVariant", {{"b.ndf", "v.kgx", true}}, {"-n", "b", "v"}, "b.ndf", "v.kgx"},
    {"TextureOutputIsVariant", {{"b.tdf", "v.kgx", false}}, {"-t", "b", "v.kgx"}, "b.tdf", "v.kgx"},
    // The variant "v" opens as v.kgx by the extension fallback.
    {"OutputIsVariantByFallbackName", {{"o.vdf", "v.kgx", false}}, {"-o", "o", "b", "v"}, "o.vdf", "v.kgx"},
    {"OptionOutputSpellsBaseOtherwise", {{"sub/b.vdf", "../b.kgx", false}},
     {"-o", "./sub/../sub/b.x", "b", "v"}, "./sub/../sub/b.vdf", "b.kgx"},
    {"OutputIsArgumentFile", {{"b.vdf", "l.arg", false}}, {"l.arg"}, "b.vdf", "l.arg"},
    // A variant named like an output that does not exist yet would be
    // opened after the output is made and read back as a model.
    {"VariantIsOutputToBe", {}, {"b", "v", "b.vdf"}, "b.vdf", "b.vdf", true},
    {"VariantIsOutputToBeOtherSpelling", {}, {"-n", "b", "v", "sub/../b.ndf"}, "b.ndf", "sub/../b.ndf", true},
};
INSTANTIATE_TEST_SUITE_P(Harden, Guard, ::testing::ValuesIn(guardCases),
                         [](const auto &p) { return std::string(p.param.name); });

// A tiny model that claims billions of something ends in its read or seek
// report at once, without memory growing with the claim.
TEST(Harden, HugeCountsEndAtOnce)
{
    enum { OBJECTS = 8, VERT_TOP = 12, N_VERT = 16, NORM_TOP = 20, N_NORM = 24, PRIM_TOP = 28, N_PRIM = 32 };
    const struct {
        size_t at;
        uint32_t value;
        bool baseOnly;
        int code;
        const char *report;
    } rows[] = {
        // Object 1's entry is read from the vertex data; its normal top
        // points past the end.
        {OBJECTS, 0xFFFFFFFF, false, 45, "\nUnexpected EOF: \"b.kgx\" at 65549 bytes"},
        {N_VERT, 0xFFFFFFFF, false, 45, "\nUnexpected EOF: \"b.kgx\" at 88 bytes"},
        {N_NORM, 0xFFFFFFFF, false, 45, "\nUnexpected EOF: \"b.kgx\" at 88 bytes"},
        {N_PRIM, 0xFFFFFFFF, false, 41, "\nUnexpected EOF: \"b.kgx\" at 92 bytes"},
        {N_VERT, 0x80000000, true, 0, "No. of Vertices differ(\"v.kgx\")"},
        {VERT_TOP, 0x80000000, false, 32, "\nSeek error \"b.kgx\" at "},
        {VERT_TOP, 0x7FFFFFF0, false, 45, "\nUnexpected EOF: \"b.kgx\" at 2147483644 bytes"},
        // 12 + 0xFFFFFFFF wraps to 11, inside the file: read from there.
        {NORM_TOP, 0xFFFFFFFF, false, 0, ""},
        {PRIM_TOP, 0x7FFFFFFF, false, 32, "\nSeek error \"b.kgx\" at "},
        // The first packet's length byte says 255 words.
        {12 + 28 + 3 * 8 + 8 + 1, 255, false, 43, "\nUnexpected EOF: \"b.kgx\" at 76 bytes"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.at);
        Scratch s;
        std::string b = simpleModel(3), v = row.at == OBJECTS ? b : simpleModel(3, 5);
        for (std::string *m : {&b, &v})
            if (m == &b || !row.baseOnly)
                *m = row.value == 255 ? m->replace(row.at, 1, 1, '\xff') : setWord(*m, row.at, row.value);
        spit(s / "b.kgx", b);
        spit(s / "v.kgx", v);
        Result r = keyblend(s.dir, {"-n", "-t", "b", "v"});
        EXPECT_EQ(r.code, row.code);
        EXPECT_REPORT(r, row.report);
        EXPECT_LT(r.seconds, 10);
        EXPECT_LT(r.maxRssKb, 200 * 1024);
    }
}

// Absolute paths of 4000 characters through components of 255, a file name
// of 255 characters reached by the extension fallback, and 400 levels of
// relative directories give the bytes that short names give.  Names beyond
// what the system or the canonicaliser takes end in their reports.
TEST(Harden, LongNames)
{
    Pair s;
    ASSERT_EQ(keyblend(s.dir, {"-n", "-t", "b", "v"}).code, 0);
    const std::string vdf = slurp(s / "b.vdf"), tdf = slurp(s / "b.tdf");
    fs::path deep = s.dir;
    auto left = [&] { return 4000 - (long)deep.string().size() - 1; };  // for the file name
    while (left() > 255)
        deep /= std::string((size_t)std::min(255L, left() - 129), 'p');
    fs::path name = deep / (std::string((size_t)left() - 4, 'b') + ".kgx");
    std::string c251(251, 'c'), nested = "d" + repeat("/d", 399);
    for (const fs::path &d : {deep, s / "s", s / nested})
        fs::create_directories(d);
    fs::copy_file(s / "b.kgx", name);
    fs::copy_file(s / "v.kgx", deep / "v.kgx");
    fs::copy_file(s / "b.kgx", s / "s" / (c251 + ".kgx"));
    fs::copy_file(s / "v.kgx", s / nested / "v.kgx");
    const struct {
        std::vector<std::string> args;
        fs::path out;  // without its extension
    } rows[] = {
        {{"-n", "-t", "-o", (deep / "o").string(), name.string(), (deep / "v").string()}, deep / "o"},
        {{"-n", "-t", "s/" + c251, nested + "/v"}, s / c251},
        {{"-t", "-o", nested + "/o", "b", nested + "/v"}, s / nested / "o"},
    };
    for (auto &row : rows) {
        EXPECT_EQ(keyblend(s.dir, row.args).code, 0);
        EXPECT_EQ(slurp(row.out.string() + ".vdf"), vdf);
        EXPECT_EQ(slurp(row.out.string() + ".tdf"), tdf);
    }
    // The output name c254.vdf is longer than a component may be.
    fs::copy_file(s / "b.kgx", s / std::string(254, 'c'));
    Result r = keyblend(s.dir, {std::string(254, 'c'), "v"});
    EXPECT_EQ(r.code, 30);
    EXPECT_REPORT(r, "\nCannot open: \"" + std::string(254, 'c') + ".vdf\"\n");
    // A working directory of more than 254 characters cannot be had for a
    // relative name's full path; with absolute names it does no harm.
    fs::path cwd = s / repeat(std::string(100, 'w') + "/", 3);
    fs::create_directories(cwd);
    r = keyblend(cwd, {"../../../b", "../../../v"});
    EXPECT_EQ(r.code, 51);
    EXPECT_REPORT(r, "\nCannot getcwd: \"../../../b.kgx\"\n");
    EXPECT_EQ(keyblend(cwd, {"-o", (s / "o").string(), (s / "b").string(), (s / "v").string()}).code, 0);
    EXPECT_EQ(slurp(s / "o.vdf"), vdf);
}

// Argument files with tokens of a megabyte and with tens of thousands of
// entries, and a command line of twenty thousand words.
TEST(Harden, HugeArgumentLists)
{
    Pair s;
    std::string big(1 << 20, 'x');
    spit(s / "long.arg", "-n b " + big + "/v v\n" + big + ".kgx");
    EXPECT_EQ(keyblend(s.dir, {"long.arg"}).code, 0);  // names too long to open are skipped
    EXPECT_EQ(word(slurp(s / "b.vdf")), 1u);
    EXPECT_EQ(word(slurp(s / "b.ndf")), 1u);
    spit(s / "longbase.arg", big + " v");
    Result r = keyblend(s.dir, {"longbase.arg"});
    EXPECT_EQ(r.code, 232);
    EXPECT_REPORT(r, "\nCannot open: \"" + big + "\"\n");
    std::string longer(5000, 'o');  // longer than a path may be
    r = keyblend(s.dir, {"-o", longer, "b", "v"});
    EXPECT_EQ(r.code, 30);
    EXPECT_REPORT(r, "\nCannot open: \"" + longer + ".vdf\"\n");
    const uint32_t n = 30000;
    std::string many = "b";
    for (uint32_t i = 0; i < n; i++)
        many += i % 3 ? " v" : "\tmissing\n";
    spit(s / "many.arg", many);
    EXPECT_EQ(keyblend(s.dir, {"many.arg"}).code, 0);
    std::string vdf = slurp(s / "b.vdf");
    EXPECT_EQ(word(vdf), n / 3 * 2);
    EXPECT_EQ(vdf.size(), 4 + (n / 3 * 2) * (12 + 3 * 8));
    std::vector<std::string> args(20001, "v");
    args[0] = "b";
    EXPECT_EQ(keyblend(s.dir, args).code, 0);
    EXPECT_EQ(word(slurp(s / "b.vdf")), 20000u);
    // Each argument file is an input the outputs must not replace.
    std::vector<std::string> files;
    for (int i = 0; i < 40; i++)
        spit(s / (files.emplace_back(std::to_string(i) + ".arg")), i ? "v" : "b");
    EXPECT_EQ(keyblend(s.dir, files).code, 0);
    EXPECT_EQ(word(slurp(s / "b.vdf")), 39u);
}

// A write lost anywhere (a device that is always full, a file size limit, a
// full standard output) ends the run with 4 and its report.  A regular
// output that lost a write is cut to 0 bytes; the others stay whole.
TEST(Harden, LostWritesEndWithFour)
{
    Pair s;
    fs::create_symlink("/dev/full", s / "b.vdf");
    Result r = keyblend(s.dir, {"b", "v"});
    EXPECT_EQ(r.code, 4);
    EXPECT_REPORT(r, "\nFail to write: \"b.vdf\": incomplete\n");
    EXPECT_TRUE(fs::is_symlink(s / "b.vdf"));
    fs::remove(s / "b.vdf");
    // Four vertex records of 300 vertices pass 8 KiB; the error stream and
    // the normal records stay under 4 KiB.
    spit(s / "b.kgx", simpleModel(300));
    spit(s / "v.kgx", simpleModel(300, 2));
    r = shell(s.dir, "trap '' XFSZ; ulimit -f 8; exec \"$0\" \"$@\"", {"-n", "b", "v", "v", "v", "v"});
    EXPECT_EQ(r.code, 4);
    EXPECT_REPORT(r, "\nFail to write: \"b.vdf\": incomplete, cut to 0 bytes\n");
    EXPECT_EQ(slurp(s / "b.vdf"), "");
    EXPECT_EQ(slurp(s / "b.ndf").size(), 4u + 4 * 12);
    r = shell(s.dir, "exec \"$0\" \"$@\" >/dev/full", {"-v", "b", "v"});
    EXPECT_EQ(r.code, 4);
    EXPECT_REPORT(r, "\nFail to write: standard output\n");
    EXPECT_EQ(word(slurp(s / "b.vdf")), 1u);
}

// Started with its standard streams closed, keyblend writes the outputs it
// writes otherwise and none of its messages into them.
TEST(Harden, ClosedStandardStreams)
{
    Pair s;
    ASSERT_EQ(keyblend(s.dir, {"-v", "-n", "b", "v"}).code, 0);
    auto before = snapshot(s.dir);
    Result r = shell(s.dir, "exec \"$0\" \"$@\" <&- >&- 2>&-", {"-v", "-n", "b", "v"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(snapshot(s.dir), before);
}

// Memory running out in every allocation of a run in turn, by position: the
// preloaded malloc fails request N.  Each of the run's counted requests
// then ends it with its report, and the reports, in order, are those of the
// counting rules: every request counted before it is made (a handle record
// as 20 bytes, a copy as its length + 1, a full path as 255), every release
// counted, the outputs named one by one just before each is opened.
// Requests of the C library fail too; they end in other documented ways.
TEST(Harden, AllocationFailureReportsCountEveryRequest)
{
#if defined(KEYBLEND_SANITIZED)
    GTEST_SKIP() << "the sanitizers own malloc";
#else
    Pair s;
    spit(s / "l.arg", "-n -t b v\n");
    // The requests of "keyblend l.arg" with the code each fails with; code
    // 0 stands for a release.
    struct Req { std::string label; int size, code; };
    const Req freed{"", 0, 0};
    std::vector<Req> steps = {{"arg", 4, 13}};
    auto open = [&](const std::string &name) {
        steps.insert(steps.end(), {{"fileOpen", 20, 11}, {name, (int)name.size() + 1, 13}, {name, 255, 12}});
    };
    auto tryMissing = [&] { steps.insert(steps.end(), {{"fileOpen", 20, 11}, freed}); };
    open("l.arg");
    for (const char *token : {"-n", "-t", "b", "v"})
        steps.push_back({token, (int)strlen(token) + 1, 13});
    steps.insert(steps.end(), {freed, freed, freed, freed, {"b", 2, 13}});  // l.arg closed; getName
    tryMissing(), open("b.kgx");
    for (const char *out : {"b.vdf", "b.ndf", "b.tdf"})
        steps.push_back({"b", 6, 12}), open(out);
    tryMissing(), open("v.kgx");
    std::vector<std::string> want, got;
    int count = 0, frees = 0, total = 0;
    for (const Req &q : steps) {
        if (!q.code) {
            frees++;
            continue;
        }
        char line[200];
        std::string factors = q.code == 11 ? "1 x 20" : std::to_string(q.size) + " x 1";
        snprintf(line, sizeof line, "%d Alloc Error: \"%s\" %s(+%d-%d:sum=%d)", q.code, q.label.c_str(),
                 factors.c_str(), ++count, frees, total += q.size);
        want.push_back(line);
    }
    for (int n = 1;; n++) {
        Result r = keyblend(s.dir, {"l.arg"}, {"LD_PRELOAD=" FAULT_MALLOC_LIB, "FAULT_MALLOC_NTH=" + std::to_string(n)});
        if (r.err.find("fault_malloc: failed") == std::string::npos)
            break;
        size_t at = r.err.find("\nAlloc Error: ");
        if (at != std::string::npos) {
            got.push_back(std::to_string(r.code) + " " + r.err.substr(at + 1, r.err.find('\n', at + 1) - at - 1));
        } else if (got.size() < want.size()) {  // (a coverage build's exit handler may fail later)
            EXPECT_TRUE(r.code == 0 || r.code == 30 || r.code == 232) << n << ": " << r.code;
        }
    }
    EXPECT_EQ(got, want);
#endif
}

}  // namespace
