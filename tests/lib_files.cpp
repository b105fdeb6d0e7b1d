// lib_files.cpp -- the file handle and its little-endian I/O, the name
// routines, opening with extension fallback and the path canonicaliser, on
// real files in a scratch directory.
#include "klib.h"
#include "kit/test.h"

#include <fstream>
#include <functional>

using testing::Eq;
using testing::ExitedWithCode;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

using kit::slurp;
static std::string hex(const char *digits) { return kit::unhex(digits); }

// A counted string's text (or "<none>"), given back with the counted release.
static std::string take(char *s)
{
    std::string text = s ? s : "<none>";
    memFree(s);
    return text;
}

// Switches the working directory for one scope.
struct InDir {
    std::string saved = std::filesystem::current_path();
    explicit InDir(const std::string &to) { std::filesystem::current_path(to); }
    ~InDir() { std::filesystem::current_path(saved); }
};

// Each case runs in a fresh scratch directory, must give back every block it
// obtained and must leave the suppression list empty.
class Files : public testing::Test {
protected:
    char tmpl[20] = "/tmp/klibtestXXXXXX";
    std::string dir = mkdtemp(tmpl);
    int32_t live = allocCount - freeCount;
    void TearDown() override
    {
        EXPECT_EQ(allocCount - freeCount, live) << "blocks not given back";
        EXPECT_EQ(_igno_, 0);
        std::filesystem::remove_all(dir);
    }
    std::string put(const std::string &name, const std::string &bytes)
    {
        std::filesystem::path path = dir + "/" + name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
};

// Words go through pos by 4 each; a missing byte reads as FF.  Suppressed,
// the array readers return the bytes of the whole values they got and the
// put routines return 0 with pos unchanged.
TEST_F(Files, ReadsLittleEndianAndKeepsPosition)
{
    FileHandle *fh = fileOpen(put("m", hex("41000000 01020304 0100FEFF 070809")).c_str(), "r");
    int16_t v[4];
    unsigned char b[4];
    EXPECT_EQ(get4Bytes(fh), 65u);
    EXPECT_EQ(get4Bytes(fh), 0x04030201u);
    EXPECT_EQ(get2ByteArray(v, 0, fh), 0);
    EXPECT_EQ(getByteArray(b, 0, fh), 0);
    EXPECT_EQ(fh->pos, 8);
    EXPECT_EQ(get2ByteArray(v, 2, fh), 4);
    EXPECT_TRUE(v[0] == 1 && v[1] == -2);
    EXPECT_EQ(getByteArray(b, 3, fh), 3);
    EXPECT_EQ(std::string((char *)b, 3), hex("070809"));
    EXPECT_EQ(fh->pos, 15);
    EXPECT_EQ(fileSeek(fh, 0), 1);
    EXPECT_EQ(fh->pos, 0);
    EXPECT_EQ(get4Bytes(fh), 65u);
    errPush(EOF_ERR), errPush(WRIT_ERR);
    fileSeek(fh, 13);
    EXPECT_EQ(get4Bytes(fh), 0xFFFF0908u);
    EXPECT_EQ(fh->pos, 17);
    fileSeek(fh, 10);
    EXPECT_EQ(get2ByteArray(v, 4, fh), 4);
    EXPECT_TRUE(v[0] == -2 && v[1] == 0x0807);
    EXPECT_EQ(fh->pos, 14);
    // The short read took the odd byte too: pos is counted, not asked for.
    EXPECT_EQ(getByteArray(b, 4, fh), 0);
    EXPECT_EQ(put4Bytes(1, fh) + put2Bytes(1, fh), 0);
    EXPECT_EQ(fh->pos, 14);
    errPop(), errPop();
    fileClose(fh);
}

// Every put reaches the file before it returns, and pos follows the bytes.
TEST_F(Files, WritesLittleEndianAndFlushes)
{
    std::string path = dir + "/out";
    FileHandle *fh = fileOpen(path.c_str(), "w");
    auto fileIs = [&](const char *digits) {
        EXPECT_EQ(slurp(path), hex(digits));
        EXPECT_EQ(fh->pos, (int32_t)hex(digits).size());
    };
    const int16_t v[] = {1, -2};
    EXPECT_EQ(put4Bytes(1, fh), 1);
    fileIs("01000000");
    EXPECT_EQ(put4Bytes(0xA1B2C3D4u, fh), 1);
    fileIs("01000000 D4C3B2A1");
    EXPECT_EQ(put2Bytes(-1, fh), 1);
    fileIs("01000000 D4C3B2A1 FFFF");
    EXPECT_EQ(put2ByteArray(v, 2, fh), 4);
    EXPECT_EQ(put2ByteArray(v, 0, fh) + put2ByteArray(v, -3, fh), 0);
    fileIs("01000000 D4C3B2A1 FFFF 0100FEFF");
    fileClose(fh);
}

// An open handle stands for three counted blocks: the 20-byte record, the
// name's copy and the 255-byte full path.  A failed open gives its record
// back at once.
TEST_F(Files, OpenAndCloseAreCounted)
{
    std::string name = dir + "//./sub/../sub/f";
    put("sub/f", "x");
    int32_t count = allocCount, total = allocTotal, freed = freeCount;
    FileHandle *fh = fileOpen(name.c_str(), "r");
    EXPECT_EQ(allocTotal - total, 20 + (int32_t)name.size() + 1 + 255);
    EXPECT_EQ(allocCount - count, 3);
    EXPECT_EQ(fh->name, name);
    EXPECT_EQ(fh->fullPath, dir + "/sub/f");
    EXPECT_EQ(fh->line + fh->pos, 0);
    fileClose(fh);
    fileClose(nullptr);
    EXPECT_EQ(freeCount - freed, 3);
    count = allocCount, total = allocTotal, freed = freeCount;
    CaptureStderr();
    errPush(OPEN_ERR);
    EXPECT_EQ(fileOpen((dir + "/missing").c_str(), "r"), nullptr);
    errPop();
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(allocCount - count, 1);
    EXPECT_EQ(freeCount - freed, 1);
    EXPECT_EQ(allocTotal - total, 20);
}

// A directory opens as a stream on glibc and reading it sets the error
// indicator (EISDIR).  Words report the position after their four bytes,
// arrays and writes the position before the call.  (A model that ends
// early, a seek that fails and an output that cannot be made end keyblend's
// runs in the end-to-end tests.)
TEST_F(Files, FailuresEndTheRunWithTheirCode)
{
    put("six", hex("010203040506"));
    int16_t v[4];
    unsigned char b[4];
    // file "" is the scratch directory itself; %s in format is the name.
    const struct {
        const char *file;
        std::function<void(FileHandle *)> act;
        int code;
        const char *format;
    } rows[] = {
        {"", [](FileHandle *fh) { get4Bytes(fh); }, 40, "\nFail to read: \"%s\" at 4 bytes\n"},
        {"", [&](FileHandle *fh) { getByteArray(b, 1, fh); }, 42, "\nFail to read: \"%s\" at 0 bytes\n"},
        {"", [&](FileHandle *fh) { get2ByteArray(v, 1, fh); }, 44, "\nFail to read: \"%s\" at 0 bytes\n"},
        {"six", [](FileHandle *fh) { fileSeek(fh, 2), put4Bytes(7, fh); }, 36,
         "\nFail to write: \"%s\" at 2 bytes\n"},
        {"six", [](FileHandle *fh) { fileSeek(fh, 2), put2Bytes(7, fh); }, 35,
         "\nFail to write: \"%s\" at 2 bytes\n"},
    };
    for (const auto &r : rows) {
        std::string name = *r.file ? dir + "/" + r.file : dir;
        char text[512];
        snprintf(text, sizeof text, r.format, name.c_str());
        SCOPED_TRACE(text);
        EXPECT_EXIT(r.act(fileOpen(name.c_str(), "r")), ExitedWithCode(r.code), Eq(text));
    }
}

TEST_F(Files, NamesTakenApart)
{
    const struct { const char *name, *file, *ext, *bare, *path; } rows[] = {
        {"models/cube.kgx", "cube.kgx", "kgx", "cube", "models/cube"},
        {"cube", "cube", "<none>", "cube", "cube"},
        {"models.d/cube", "cube", "<none>", "cube", "models"},
        {"a.b.dat", "a.b.dat", "dat", "a.b", "a.b"},
        {"cube.", "cube.", "", "cube", "cube"},
        {".hidden", ".hidden", "hidden", "", ""},
        {"models/", "", "<none>", "", "models/"},
        {"a.d/b.c/", "", "<none>", "", "a.d/b"},
        {"", "", "<none>", "", ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const char *ext0 = getExt0(r.name);
        EXPECT_STREQ(getFileName0(r.name), r.file);
        EXPECT_EQ(take(getFileName(r.name)), r.file);
        EXPECT_STREQ(ext0 ? ext0 : "<none>", r.ext);
        EXPECT_EQ(take(getExt(r.name)), r.ext);
        EXPECT_EQ(take(getName(r.name)), r.bare);
        EXPECT_EQ(take(getPathName(r.name)), r.path);
    }
}

TEST_F(Files, SuffixTest)
{
    const struct { const char *a, *b; int32_t want; } rows[] = {
        {"", "", 0},     {"", "a", -1},     {"a", "", 0},      {"Cube", "cube", -1},
        {"kgx", "gx", 0}, {"KGX", "gx", -1}, {"gx", "kgx", -1}, {"a.kgx", "a.kgx", 0}};
    for (const auto &r : rows)
        EXPECT_EQ(strrcmp(r.a, r.b), r.want) << '"' << r.a << "\" \"" << r.b << '"';
}

// Both forms agree; only mkFileName allocates, exactly what its text needs.
TEST_F(Files, NamesWithAnExtension)
{
    const char *const empty[] = {nullptr}, *const dotted[] = {".kgx", nullptr};
    const struct { const char *name, *ext; const char *const *list; const char *want; } rows[] = {
        {"cube", "vdf", nullptr, "cube.vdf"},     {"cube", ".vdf", nullptr, "cube.vdf"},
        {"models.d/cube", "ndf", nullptr, "models.d/cube.ndf"},
        {"cube.vdf", "vdf", nullptr, "cube.vdf"}, {"cube.VDF", "vdf", nullptr, "cube.VDF"},
        {"cube.b", "tdf", nullptr, "cube.b"},     {"cube.", "vdf", nullptr, "cube."},
        {"cube", "KGX", kgxs, "cube.KGX"},        {"cube.kgx", "KGX", kgxs, "cube.kgx"},
        {"cube.gx", "kgx", kgxs, "cube.kgx"},     {"cube.GX", "kgx", kgxs, "cube.KGX"},
        {"cube.x", "KGX", kgxs, "cube.kgx"},      {"cube.", "KGX", kgxs, "cube.kgx"},
        {"cube.dat", "kgx", kgxs, "cube.dat"},    {"a.d/cube.gx", "kgx", kgxs, "a.d/cube.kgx"},
        {"cube.gx", "kgx", empty, "cube.gx"},     {"cube.gx", "kgx", dotted, "cube.kgx"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.name) + " " + r.ext);
        char buffer[CANDIDATE_SIZE];
        int32_t count = allocCount, total = allocTotal;
        EXPECT_STREQ(mkFileName0(r.name, r.ext, r.list, buffer), r.want);
        EXPECT_EQ(allocCount, count);
        EXPECT_EQ(take(mkFileName(r.name, r.ext, r.list)), r.want);
        EXPECT_EQ(allocCount - count, 1);
        EXPECT_EQ(allocTotal - total, (int32_t)strlen(r.want) + 1);
    }
}

// Each row creates its files in a directory of its own and opens the name
// there.  Every failed try costs a 20-byte record, given back at once; the
// open one also holds its name's copy and a 255-byte full path.
TEST_F(Files, OpensTheFirstNameThatExists)
{
    const char *const empty[] = {nullptr};
    const struct {
        std::vector<const char *> files;
        const char *name, *const *list, *opened;  // opened null: none opens
        int32_t tries;
    } rows[] = {
        {{"cube"}, "cube", kgxs, "cube", 1},
        {{"cube.kgx", "cube.KGX"}, "cube", kgxs, "cube.kgx", 2},
        {{"cube.KGX"}, "cube", kgxs, "cube.KGX", 3},
        {{"cube.kgx"}, "cube.gx", kgxs, "cube.kgx", 2},
        {{"cube.KGX"}, "cube.GX", kgxs, "cube.KGX", 2},
        {{"cube.kgx"}, "cube.", kgxs, "cube.kgx", 2},
        {{"cube.KGX"}, "cube.", kgxs, nullptr, 3},
        {{"cube.kgx"}, "cube.dat", kgxs, nullptr, 3},
        {{"cube.kgx"}, "cube", empty, nullptr, 1},
        {{"list.ARG"}, "list", ARG_EXT, "list.ARG", 3},
        {{}, "cube", kgxs, nullptr, 3},
    };
    int row = 0;
    for (const auto &r : rows) {
        std::string sub = std::to_string(++row) + "/";
        for (const char *f : r.files)
            put(sub + f, "x");
        sub = dir + "/" + sub;
        SCOPED_TRACE(sub + r.name);
        int32_t count = allocCount, total = allocTotal, freed = freeCount, opened = r.opened != nullptr;
        FileHandle *fh = fileMatchOpen((sub + r.name).c_str(), r.list, "r");
        EXPECT_EQ(fh ? fh->name : "<none>", r.opened ? sub + r.opened : "<none>");
        EXPECT_EQ(allocCount - count, r.tries + 2 * opened);
        EXPECT_EQ(freeCount - freed, r.tries - opened);
        EXPECT_EQ(allocTotal - total, 20 * r.tries + (fh ? (int32_t)strlen(fh->name) + 256 : 0));
        fileClose(fh);
    }
}

// Components longer than 31 characters and more than 32 components resolve
// like any others.
TEST_F(Files, CanonicalPaths)
{
    std::string longName(40, 'c'), many, manyKept;
    for (int i = 0; i < 40; i++)
        many += "/p", manyKept += i < 39 ? "/p" : "";
    InDir root("/");
    const struct { std::string path, want; } rows[] = {
        {"/", "/"}, {"///", "/"}, {"/a//b/./c/", "/a/b/c/"}, {"/a/b/../c", "/a/c"},
        {"/a/b/../../c", "/c"}, {"/a/../", "/"}, {"/.../.x/x.", "/.../.x/x."}, {"x", "/x"}, {"", "/"},
        // With no component kept, the joined path comes back as it is.
        {"/a/..", "/a/.."}, {"/.", "/."}, {"./a/..", "//./a/.."},
        {"/" + longName + "/./d", "/" + longName + "/d"}, {many + "/..", manyKept},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.path);
        char buffer[FULL_PATH_SIZE];
        EXPECT_EQ(getFullPath0(r.path.c_str(), buffer), buffer);
        EXPECT_EQ(std::string(buffer), r.want);
    }
    // getFullPath sizes its block for any path; a caller's buffer too small
    // for the joined path comes back empty.
    std::string deep;
    for (int i = 0; i < 800; i++)
        deep += "/abcd";
    std::string path = deep + "/./x/../";
    int32_t total = allocTotal;
    EXPECT_EQ(take(getFullPath(path.c_str())), deep + "/");
    EXPECT_EQ(allocTotal - total, (int32_t)path.size() + 1);
    for (const char *small : {"/abcd", "xyz"}) {
        char buffer[4] = "zzz";
        EXPECT_EQ(getFullPath0(small, buffer, sizeof buffer), nullptr) << small;
        EXPECT_STREQ(buffer, "") << small;
    }
    InDir scratch(dir);
    std::string cwd = std::filesystem::current_path();
    EXPECT_EQ(take(getFullPath("")), cwd + "/");
    EXPECT_EQ(take(getFullPath("a/./b/../c")), cwd + "/a/c");
}

TEST_F(Files, BadPathsEndTheRun)
{
    std::string deep = dir;  // a working directory of more than 254 characters
    for (int i = 0; i < 3; i++)
        deep += "/" + std::string(100, 'd');
    std::filesystem::create_directories(deep);
    char buffer[FULL_PATH_SIZE];
    EXPECT_EXIT((InDir(deep), getFullPath0("x", buffer)), ExitedWithCode(51),
                Eq("\nCannot getcwd: \"x\"\n"));
    for (const char *bad : {"/..", "/a/../..", "/a/../../b", "../x"}) {
        std::string text = std::string("\nBad path name: \"") + bad + "\"\n";
        EXPECT_EXIT((InDir("/"), getFullPath0(bad, buffer)), ExitedWithCode(52), Eq(text));
    }
}
