// harden_faults.cpp -- faults a user can meet: a directory that cannot be
// written, directories named as models, models that go away, a full disk
// and memory running out
#include "harden_util.h"

#include <gtest/gtest.h>

using namespace harden;

namespace {

class HardenFaults : public ::testing::Test {
protected:
    fs::path dir = scratchDir();
    void SetUp() override
    {
        writeFile(dir / "b.kgx", simpleModel(3));
        writeFile(dir / "v.kgx", simpleModel(3, 2));
    }
    void TearDown() override
    {
        if (!HasFailure())
            fs::remove_all(dir);
    }
    Result keyblend(std::vector<std::string> args, const std::vector<std::string> &env = {},
                    int uid = -1)
    {
        args.insert(args.begin(), KEYBLEND_BIN);
        return run(dir, args, 20000, env, uid);
    }
};

// Directory permissions do not hold for root, so a root test run gives up
// root for the nobody user in the child.
TEST_F(HardenFaults, OutputDirectoryNotWritable)
{
    fs::create_directory(dir / "ro");
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    Result r = keyblend({"-o", "ro/out", "b", "v"}, {}, geteuid() == 0 ? 65534 : -1);
    EXPECT_EQ(r.code, 30);
    EXPECT_EQ(r.err.substr(r.err.find('\n')), "\n\nCannot open: \"ro/out.vdf\"\n");
    EXPECT_TRUE(fs::is_empty(dir / "ro"));
}

// A directory opens for reading and then fails its first read.
TEST_F(HardenFaults, DirectoriesNamedAsFiles)
{
    fs::create_directory(dir / "d");
    fs::create_directory(dir / "v");  // found before v.kgx by the fallback
    fs::create_directory(dir / "o.vdf");
    struct {
        std::vector<std::string> args;
        int code;
        const char *report;
    } rows[] = {
        {{"b", "d"}, 40, "\nFail to read: \"d\" at 4 bytes\n"},
        {{"b", "v"}, 40, "\nFail to read: \"v\" at 4 bytes\n"},
        {{"d", "v.kgx"}, 40, "\nFail to read: \"d\" at 4 bytes\n"},
        {{"-o", "o", "b", "v.kgx"}, 30, "\nCannot open: \"o.vdf\"\n"},
    };
    for (auto &row : rows) {
        Result r = keyblend(row.args);
        EXPECT_EQ(r.code, row.code) << row.args[1];
        EXPECT_NE(r.err.find(row.report), std::string::npos) << r.err;
    }
}

// Models that are gone by the next run: a missing variant is skipped and
// the count corrected; a missing base ends the run before anything is
// created, so the outputs of the last run survive.
TEST_F(HardenFaults, ModelsVanishBetweenRuns)
{
    fs::copy_file(dir / "v.kgx", dir / "w.kgx");
    ASSERT_EQ(keyblend({"b", "v", "w"}).code, 0);
    ASSERT_EQ(le32(readFile(dir / "b.vdf")), 2u);
    fs::remove(dir / "w.kgx");
    Result r = keyblend({"b", "v", "w"});
    EXPECT_EQ(r.code, 0);
    const std::string vdf = readFile(dir / "b.vdf");
    EXPECT_EQ(le32(vdf), 1u);
    fs::remove(dir / "b.kgx");
    r = keyblend({"b", "v", "w"});
    EXPECT_EQ(r.code, 232);
    EXPECT_NE(r.err.find("\nCannot open: \"b\"\n"), std::string::npos);
    EXPECT_EQ(readFile(dir / "b.vdf"), vdf);
}

// Every put flushes at once and the flush result is not examined, and
// the byte writes only fill the stream's buffer, so a full disk goes
// unnoticed: the run ends with 0.  This is a known limit.
TEST_F(HardenFaults, FullDiskGoesUnnoticed)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    fs::create_symlink("/dev/full", dir / "b.vdf");
    std::vector<std::string> args = {"b"};
    for (int i = 0; i < 300; i++)  // more than a stream buffer of records
        args.push_back("v");
    Result r = keyblend(args);
    EXPECT_EQ(r.code, 0) << r.err;
}

// Memory running out in each counted allocation that has a code of its own:
// the handle record (11), a buffer from strAlloc (12: the full path of the
// base) and a string copy (13: a word of the command line).  The failing
// request is picked by its size.
TEST_F(HardenFaults, AllocationFailures)
{
#if defined(KEYBLEND_SANITIZED)
    GTEST_SKIP() << "the sanitizers own malloc";
#else
    std::string word(76, 'w');  // copied in a block of 77 bytes
    struct {
        const char *size;
        int code;
        std::string report;
    } rows[] = {
        {"32", 11, "\nAlloc Error: \"fileOpen\" 1 x 20(+"},
        {"255", 12, "\nAlloc Error: \"b.kgx\" 255 x 1(+"},
        {"77", 13, "\nAlloc Error: \"" + word + "\" 77 x 1(+"},
    };
    for (auto &row : rows) {
        Result r = keyblend({"b", "v", word},
                            {std::string("LD_PRELOAD=") + FAULT_MALLOC_LIB,
                             std::string("FAULT_MALLOC_SIZE=") + row.size});
        EXPECT_EQ(r.code, row.code) << r.err;
        EXPECT_NE(r.err.find(row.report), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "b.vdf"));
    }
#endif
}

}  // namespace
