// klib.cpp -- the support library in process, one test per family of
// routines: what each gives, each fatal report and code (a death test), and
// after every scenario each counted block given back
#include "klib.h"
#include "kit/test.h"

#include <functional>

using namespace kit;

namespace {

// Declared at the start of a scenario: at its end allocCount - freeCount is
// back where it was, so every counted block taken was released.
struct Balanced {
    const int32_t held = allocCount - freeCount;
    ~Balanced() { EXPECT_EQ(allocCount - freeCount, held) << "a counted block was not released"; }
};

// Each run ends the process with the code, having written exactly the report.
void expectFatal(const std::vector<std::tuple<std::function<void()>, int, std::string>> &runs)
{
    for (const auto &[run, code, report] : runs)
        EXPECT_EXIT(run(), testing::ExitedWithCode(code), testing::Eq(report)) << report;
}
std::string at(const char *what, const std::string &name, int bytes)
{
    return "\n" + std::string(what) + ": \"" + name + "\" at " + std::to_string(bytes) + " bytes\n";
}

std::string text(char *counted)  // a counted string's text ("-" for none), the block given back
{
    std::string s = counted ? counted : "-";
    return memFree(counted), s;
}

}  // namespace

// A suppressed key returns quietly, and only the key itself suppresses; a
// push onto the full list is counted but not stored, so its key reports and
// pushes and pops stay paired; an extra pop is harmless.
TEST(KlibReports, SuppressionList)
{
    static const char sameText[] = "Cannot open: \"%s\"\n";
    expectFatal(
        {{[] {
              errPush(OPEN_ERR), errReport(OPEN_ERR, 30, "-"), errPop(),
                  errReport(OPEN_ERR, 30, "x");
          },
          30, "\nCannot open: \"x\"\n"},
         {[] { errPush(sameText), errReport(OPEN_ERR, 31, "y"); }, 31, "\nCannot open: \"y\"\n"}});
    for (int32_t i = 1; i < IGNORE_MAX; i++)
        errPush(EOF_ERR);
    errPush(OPEN_ERR), errPush(ARG_ERR);  // the list is full: ARG_ERR is not stored
    EXPECT_FALSE(errIgnored(ARG_ERR));
    errPop();
    EXPECT_TRUE(errIgnored(OPEN_ERR));
    for (int32_t i = 0; i <= IGNORE_MAX; i++)
        errPop();
    errPush(ARG_ERR);
    EXPECT_TRUE(errIgnored(ARG_ERR) && !errIgnored(EOF_ERR));
    errPop();
}

// Requests are counted before they are made, failed ones too, and a report
// shows the counters; 0 bytes is a block; memFree empties its holder, and an
// empty one counts nothing.  Case changes touch ASCII letters only.
TEST(KlibAlloc, CountedBlocksAndStrings)
{
    {
        Balanced b;
        char *s = strCopy("abc"), *z = strAlloc(0, "zero");
        EXPECT_EQ(std::string(s) + (z ? "+" : ""), "abc+");
        memFree(s), memFree(s), memFree(z);
        EXPECT_FALSE(s || z);
    }
    errPush(ALC_ERR);
    EXPECT_EQ(strAlloc(-1, "x"), nullptr);  // counted, though no block is held
    errPop();
    const std::string counts = "-1 x 1(+" + std::to_string(allocCount + 1) + "-" +
                               std::to_string(freeCount) + ":sum=" + std::to_string(allocTotal - 1);
    expectFatal(
        {{[] { strAlloc(-1, "label"); }, 12, "\nAlloc Error: \"label\" " + counts + ")\n"},
         {[] { strAlloc(-1, nullptr); }, 12, "\nAlloc Error: \"strAlloc\" " + counts + ")\n"}});
    char letters[] = "aZ\xe9-z";
    makeUpper(letters);
    EXPECT_STREQ(letters, "AZ\xe9-Z");
    makeLower(letters);
    EXPECT_STREQ(letters, "az\xe9-z");
}

// Values go out and come back low byte first, the position counted; each
// failure of an open, seek, write or read ends the process with its own
// code and report, or with its key suppressed returns its failure value.
TEST(KlibFile, HandleAndLittleEndianIo)
{
    Scratch s;
    const std::string f = (s / "f").string(), f3 = (s / "f3").string(), dir = s.dir.string(),
                      gone = (s / "gone").string();
    spit(f3, "abc");
    {
        Balanced b;
        FileHandle *fh = fileOpen(f.c_str(), "w");
        const int16_t values[] = {0x0605, -32768};
        EXPECT_EQ(put4Bytes(0x04030201, fh) + put2Bytes(-2, fh) + put2ByteArray(values, 2, fh) +
                      put2ByteArray(values, 0, fh) + fh->pos,
                  16);
        EXPECT_EQ(std::string(fh->name) + " " + fh->fullPath, f + " " + f);
        fileClose(fh);
        EXPECT_EQ(hex(slurp(f)), "01 02 03 04 fe ff 05 06 00 80");
        fh = fileOpen(f.c_str(), "r");
        int16_t v[3];
        unsigned char bytes[2];
        EXPECT_EQ(get4Bytes(fh), 0x04030201u);
        EXPECT_EQ(get2ByteArray(v, 3, fh) + fileSeek(fh, 1) + getByteArray(bytes, 2, fh), 9);
        EXPECT_TRUE(v[0] == -2 && v[1] == 0x0605 && v[2] == -32768 && bytes[0] == 2 &&
                    bytes[1] == 3 && fh->pos == 3);
        errPush(WRIT_ERR), errPush(OPEN_ERR);
        EXPECT_EQ(put4Bytes(1, fh) + put2Bytes(1, fh) + fh->pos, 3);
        EXPECT_EQ(fileOpen(gone.c_str(), "r"), nullptr);
        errPop(), errPop(), fileClose(fh);
        fh = fileOpen("/dev/full", "w");
        EXPECT_EQ(streamFlushed(fh->fp), 1);
        put2Bytes(1, fh);
        EXPECT_EQ(streamFlushed(fh->fp), 0);
        fileClose(fh);
    }
    auto in = [](const std::string &name) { return fileOpen(name.c_str(), "r"); };
    unsigned char b[4];
    int16_t v[2];
    expectFatal({{[&] { fileOpen(gone.c_str(), "r"); }, 30, "\nCannot open: \"" + gone + "\"\n"},
                 {[&] { fileSeek(in(f), -4); }, 32, "\nSeek error \"" + f + "\" at -4 bytes"},
                 {[&] { put2Bytes(1, in(f)); }, 35, at("Fail to write", f, 0)},
                 {[&] { put4Bytes(1, in(f)); }, 36, at("Fail to write", f, 0)},
                 {[&] { get4Bytes(in(dir)); }, 40, at("Fail to read", dir, 4)},
                 {[&] { get4Bytes(in(f3)); }, 41, at("Unexpected EOF", f3, 4)},
                 {[&] { getByteArray(b, 1, in(dir)); }, 42, at("Fail to read", dir, 0)},
                 {[&] { getByteArray(b, 4, in(f3)); }, 43, at("Unexpected EOF", f3, 0)},
                 {[&] { get2ByteArray(v, 1, in(dir)); }, 44, at("Fail to read", dir, 0)},
                 {[&] { get2ByteArray(v, 2, in(f3)); }, 45, at("Unexpected EOF", f3, 0)}});
}

// A row per name made with an extension and a list (kgxs, vdf or none):
// the extension is completed from the list but never replaced (a '.' in a
// directory starts none), in a counted block or in exactly the room said.
// The opens by the fallback names, a long one in a counted block.
TEST(KlibNames, ExtensionsAndFallbackOpens)
{
    const char *const vdf[] = {"vdf", nullptr};
    std::map<std::string, const char *const *> lists = {{"kgxs", kgxs}, {"vdf", vdf}, {"-", {}}};
    for (const char *row : {"cube kgx kgxs cube.kgx", "cube .vdf - cube.vdf", "c.gx kgx kgxs c.kgx",
                            "c.GX kgx kgxs c.KGX", "c. KGX kgxs c.kgx", "c.obj kgx kgxs c.obj",
                            "c.df .vdf vdf c.vdf", "c.x vdf - c.x", "d.x/c kgx kgxs d.x/c.kgx"}) {
        Balanced b;
        const std::vector<std::string> w = words(row);
        const char *n = w[0].c_str(), *e = w[1].c_str(), *const *list = lists[w[2]];
        std::string buffer(mkFileNameRoom(n, e, list), '#');
        mkFileName0(n, e, list, buffer.data());
        EXPECT_EQ(text(mkFileName(n, e, list)) + " " + buffer, w[3] + " " + w[3] + '\0') << row;
    }
    Scratch s;
    const fs::path deep = s / std::string(200, 'd') / std::string(200, 'e');
    fs::create_directories(deep);
    spit(s / "m.KGX", ""), spit(deep / "m.kgx", "");
    for (auto [name, opened] : {std::pair{s / "m", s / "m.KGX"},
                                {s / "m.GX", s / "m.KGX"},
                                {deep / "m.gx", deep / "m.kgx"},
                                {s / "n", fs::path()}}) {
        Balanced b;
        FileHandle *fh = fileMatchOpen(name.c_str(), kgxs, "r");
        EXPECT_EQ(fh ? fh->name : "", opened.string()) << name;
        fileClose(fh);
    }
}

// A row per path and what it resolves to (below the working directory for
// a relative one): runs of '/' collapse, "." goes and ".." takes the
// component before it, in text alone; with nothing left the joined path
// stays, and so does a last '/'.  Paths of any length resolve.  A ".."
// above the root and a working directory that cannot be had end the
// process.
TEST(KlibPaths, Canonical)
{
    const std::string cwd = fs::current_path().string(), far = repeat("/p", 2000);
    for (const char *row : {"/a//b/./c/../d /a/b/d", "/a/b/ /a/b/", "// /", "/a/.. /a/..",
                            "/a/../b /b", "x/./y /x/y", "."}) {
        Balanced b;
        const std::vector<std::string> w = words(row);
        const std::string below = row[0] == '/' ? "" : cwd;  // "." resolves to cwd itself
        EXPECT_EQ(text(getFullPath(w[0].c_str())), below + (w.size() > 1 ? w[1] : "")) << row;
    }
    {
        Balanced b;
        EXPECT_EQ(text(getFullPath(far.c_str())) + text(getFullPath((far + "/../q").c_str())),
                  far + far.substr(2) + "/q");
    }
    Scratch s;
    const fs::path tall = s / repeat(std::string(100, 'w') + "/", 3);
    fs::create_directories(tall);
    expectFatal(
        {{[] { getFullPath("/.."); }, 52, "\nBad path name: \"/..\"\n"},
         {[] { getFullPath("/a/../.."); }, 52, "\nBad path name: \"/a/../..\"\n"},
         {[&] { fs::current_path(tall), getFullPath("x"); }, 51, "\nCannot getcwd: \"x\"\n"}});
}
