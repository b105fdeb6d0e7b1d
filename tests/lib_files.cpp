// lib_files.cpp -- the file handle's failure reports, the name routines,
// opening with extension fallback and the path canonicaliser, on real files
// in a scratch directory.  (keyblend's end-to-end tests check every byte the
// I/O routines read and write, and the positions in end-of-file reports.)
#include "klib.h"
#include "kit/test.h"

#include <functional>

using testing::Eq;
using testing::ExitedWithCode;

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
    kit::Scratch scratch;
    std::string dir = scratch.dir;
    int32_t live = allocCount - freeCount;
    void TearDown() override
    {
        EXPECT_EQ(allocCount - freeCount, live) << "blocks not given back";
        EXPECT_EQ(_igno_, 0);
    }
    std::string put(const std::string &name, const std::string &bytes)
    {
        std::filesystem::path path = dir + "/" + name;
        std::filesystem::create_directories(path.parent_path());
        kit::spit(path, bytes);
        return path;
    }
};

// A directory opens as a stream on glibc and reading it sets the error
// indicator (EISDIR); a put on a handle opened for reading fails.  Words
// report the position after their four bytes, arrays and puts the position
// before the call.  (End-of-file reports end keyblend's runs in its
// end-to-end tests.)
TEST_F(Files, FailuresEndTheRunWithTheirCode)
{
    put("six", kit::unhex("010203040506"));
    int16_t v[4];
    unsigned char b[4];
    const struct {
        const char *file;  // "" is the scratch directory itself
        std::function<void(FileHandle *)> act;
        int code;
        const char *format;  // %s is the file's name
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

// With its key suppressed a failing routine returns its failure value and
// leaves pos alone; an empty array put writes nothing.
TEST_F(Files, SuppressedFailuresReturnTheirValue)
{
    FileHandle *fh = fileOpen(put("six", kit::unhex("010203040506")).c_str(), "r");
    const int16_t v[1] = {1};
    errPush(WRIT_ERR);
    EXPECT_EQ(put4Bytes(7, fh) + put2Bytes(7, fh) + put2ByteArray(v, 0, fh), 0);
    EXPECT_EQ(fh->pos, 0);
    errPop();
    fileClose(fh);
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
    const struct { const char *a, *b; int32_t want; } suffixes[] = {
        {"", "", 0},     {"", "a", -1},     {"a", "", 0},      {"Cube", "cube", -1},
        {"kgx", "gx", 0}, {"KGX", "gx", -1}, {"gx", "kgx", -1}, {"a.kgx", "a.kgx", 0}};
    for (const auto &r : suffixes)
        EXPECT_EQ(strrcmp(r.a, r.b), r.want) << '"' << r.a << "\" \"" << r.b << '"';
}

// An existing extension is kept or completed to a list entry, never
// replaced; both forms agree.
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
        EXPECT_STREQ(mkFileName0(r.name, r.ext, r.list, buffer), r.want);
        EXPECT_EQ(take(mkFileName(r.name, r.ext, r.list)), r.want);
    }
}

// Each row creates its files in a directory of its own and opens the name
// there: the name as written, then completed with each list entry.
TEST_F(Files, OpensTheFirstNameThatExists)
{
    const char *const empty[] = {nullptr};
    const struct {
        std::vector<const char *> files;
        const char *name, *const *list, *opened;  // opened null: none opens
    } rows[] = {
        {{"cube"}, "cube", kgxs, "cube"},
        {{"cube.kgx", "cube.KGX"}, "cube", kgxs, "cube.kgx"},
        {{"cube.KGX"}, "cube", kgxs, "cube.KGX"},
        {{"cube.kgx"}, "cube.gx", kgxs, "cube.kgx"},
        {{"cube.KGX"}, "cube.GX", kgxs, "cube.KGX"},
        {{"cube.kgx"}, "cube.", kgxs, "cube.kgx"},
        {{"cube.KGX"}, "cube.", kgxs, nullptr},
        {{"cube.kgx"}, "cube.dat", kgxs, nullptr},
        {{"cube.kgx"}, "cube", empty, nullptr},
        {{"list.ARG"}, "list", ARG_EXT, "list.ARG"},
    };
    int row = 0;
    for (const auto &r : rows) {
        std::string sub = std::to_string(++row) + "/";
        for (const char *f : r.files)
            put(sub + f, "x");
        sub = dir + "/" + sub;
        SCOPED_TRACE(sub + r.name);
        FileHandle *fh = fileMatchOpen((sub + r.name).c_str(), r.list, "r");
        EXPECT_EQ(fh ? fh->name : "<none>", r.opened ? sub + r.opened : "<none>");
        fileClose(fh);
    }
}

// Components longer than 31 characters and more than 32 components resolve
// like any others; paths that climb above the root end the run.
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
    for (const auto &r : rows)
        EXPECT_EQ(take(getFullPath(r.path.c_str())), r.want) << r.path;
    std::string deep = kit::repeat("/abcd", 800);
    EXPECT_EQ(take(getFullPath((deep + "/./x/../").c_str())), deep + "/");
    for (const char *small : {"/abcd", "xyz"}) {
        char buffer[4] = "zzz";  // too small for the joined path: comes back empty
        EXPECT_EQ(getFullPath0(small, buffer, sizeof buffer), nullptr) << small;
        EXPECT_STREQ(buffer, "") << small;
    }
    for (const char *bad : {"/..", "/a/../..", "../x"})
        EXPECT_EXIT(take(getFullPath(bad)), ExitedWithCode(52),
                    Eq(std::string("\nBad path name: \"") + bad + "\"\n"));
    std::string cwd = dir + kit::repeat("/" + std::string(100, 'd'), 3);  // more than 254 characters
    std::filesystem::create_directories(cwd);
    EXPECT_EXIT((InDir(cwd), take(getFullPath("x"))), ExitedWithCode(51), Eq("\nCannot getcwd: \"x\"\n"));
}
