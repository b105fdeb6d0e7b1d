// klib.cpp -- the support library in process, one test per family of
// routines: what each gives, each fatal report and code (a death test), and
// after every scenario each counted block given back
#include "klib.h"
#include "kit/test.h"

#include <functional>
#include <sys/resource.h>

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

// Only the key itself suppresses, not an equal text (keyblend's runs pin a
// suppressed key returning quietly, and the pops); a push onto the full list
// is counted but not stored, so its key reports and pushes and pops stay
// paired; an extra pop is harmless.
TEST(KlibReports, SuppressionList)
{
    static const char sameText[] = "Cannot open: \"%s\"\n";
    expectFatal(
        {{[] { errPush(sameText), errReport(OPEN_ERR, 31, "y"); }, 31, "\nCannot open: \"y\"\n"}});
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
// shows the counters; 0 bytes is a block; memFree of an empty holder counts
// nothing.  Case changes touch ASCII letters only.
TEST(KlibAlloc, CountedBlocksAndStrings)
{
    {
        Balanced b;
        char *z = strAlloc(0, "zero");
        EXPECT_NE(z, nullptr);
        memFree(z), memFree(z);  // the second finds the holder empty
    }
    const std::string counts = "-1 x 1(+" + std::to_string(allocCount + 1) + "-" +
                               std::to_string(freeCount) + ":sum=" + std::to_string(allocTotal - 1);
    expectFatal(
        {{[] { strAlloc(-1, "label"); }, 12, "\nAlloc Error: \"label\" " + counts + ")\n"},
         {[] { strAlloc(-1, nullptr); }, 12, "\nAlloc Error: \"strAlloc\" " + counts + ")\n"}});
#ifndef KEYBLEND_SANITIZED  // the sanitizers reserve terabytes of address space
    // With ALC_ERR suppressed (never by keyblend) a name routine whose block
    // cannot be had gives none, printing nothing; so does an open
    // with or without an extension list.
    expectFatal({{[] {
                      const std::string huge(32 << 20, 'x');  // then 1 MiB more may be mapped
                      const rlimit now{
                          std::stoul(slurp("/proc/self/statm")) * sysconf(_SC_PAGESIZE) + (1 << 20),
                          RLIM_INFINITY};
                      setrlimit(RLIMIT_AS, &now), errPush(ALC_ERR);
                      const char *h = huge.c_str();
                      const bool some = getName(h) || getPathName(h);
                      exit(some || fileMatchOpen(h, kgxs, "r") || fileMatchOpen(h, nullptr, "r"));
                  },
                  0, ""}});
#endif
    char letters[] = "aZ\xe9-z";
    makeUpper(letters);
    EXPECT_STREQ(letters, "AZ\xe9-Z");
    makeLower(letters);
    EXPECT_STREQ(letters, "az\xe9-z");
}

// Each failure of a write or read ends the process with its own code and
// report, or with its key suppressed returns its failure value, the position
// unchanged.  (The values and positions, and the open, seek and end-of-file
// reports, are pinned by keyblend's runs.)
TEST(KlibFile, FailureReports)
{
    Scratch s;
    const std::string f3 = (s / "f3").string(), dir = s.dir.string();
    spit(f3, "abc");
    auto in = [](const std::string &name) { return fileOpen(name.c_str(), "r"); };
    {
        Balanced b;
        FileHandle *fh = in(f3);
        errPush(WRIT_ERR);
        EXPECT_EQ(put4Bytes(1, fh) + put2Bytes(1, fh) + fh->pos, 0);
        errPop(), fileClose(fh);
    }
    unsigned char b[4];
    int16_t v[2];
    expectFatal({{[&] { put2Bytes(1, in(f3)); }, 35, at("Fail to write", f3, 0)},
                 {[&] { put4Bytes(1, in(f3)); }, 36, at("Fail to write", f3, 0)},
                 {[&] { get4Bytes(in(dir)); }, 40, at("Fail to read", dir, 4)},
                 {[&] { getByteArray(b, 1, in(dir)); }, 42, at("Fail to read", dir, 0)},
                 {[&] { get2ByteArray(v, 1, in(dir)); }, 44, at("Fail to read", dir, 0)}});
}

// A row per name made with an extension and a list (kgxs, vdf or none):
// the extension is completed from the list but never replaced (a '.' in a
// directory starts none), in a counted block or in exactly the room said.
// A fallback name too long for the fixed room opens from a counted block.
TEST(KlibNames, ExtensionsAndFallbackOpens)
{
    const char *const vdf[] = {"vdf", nullptr};
    std::map<std::string, const char *const *> lists = {{"kgxs", kgxs}, {"vdf", vdf}, {"-", {}}};
    for (const char *row : {"cube kgx kgxs cube.kgx", "cube .vdf - cube.vdf", "c.gx kgx kgxs c.kgx",
                            "c.GX kgx kgxs c.KGX", "c. KGX kgxs c.kgx", "c.mkgx kgx kgxs c.mkgx",
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
    spit(deep / "m.kgx", "");
    Balanced b;
    FileHandle *fh = fileMatchOpen((deep / "m.gx").c_str(), kgxs, "r");
    EXPECT_EQ(fh ? fh->name : "", (deep / "m.kgx").string());
    fileClose(fh);
}

// A row per path and what it resolves to (below the working directory for
// a relative one): runs of '/' collapse, "." goes and ".." takes the
// component before it, in text alone; with nothing left the joined path
// stays, and so does a last '/'.  A working directory longer than the room
// of a full path ends the process (a ".." above the root keyblend's runs pin).
TEST(KlibPaths, Canonical)
{
    const std::string cwd = fs::current_path().string();
    for (const char *row : {"/a//b/./c/../d /a/b/d", "/a/b/ /a/b/", "// /", "/a/.. /a/..",
                            "/a/../b /b", "x/./y /x/y", "."}) {
        Balanced b;
        const std::vector<std::string> w = words(row);
        const std::string below = row[0] == '/' ? "" : cwd;  // "." resolves to cwd itself
        EXPECT_EQ(text(getFullPath(w[0].c_str())), below + (w.size() > 1 ? w[1] : "")) << row;
    }
    Scratch s;  // a working directory longer than the room of a full path
    const fs::path deep = s / std::string(250, 'w');
    fs::create_directory(deep);
    expectFatal(
        {{[&] { fs::current_path(deep), getFullPath("x"); }, 51, "\nCannot getcwd: \"x\"\n"}});
}
