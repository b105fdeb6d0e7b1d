// lib_stream.cpp -- handles opened for reading take their stream buffers
// from a small shared pool: whatever the number of handles open at once and
// the order they are closed in, each must read its own file's bytes, across
// buffer refills and seeks backwards and forwards.
#include "klib.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

constexpr int32_t FILE_BYTES = 150006;  // more than two stream buffers

unsigned char byteOf(int file, int32_t at)
{
    return (unsigned char)(at * 7 + file * 31 + (at >> 9));
}

class ReadPool : public testing::Test {
protected:
    char tmpl[24] = "/tmp/klibstreamXXXXXX";
    std::string dir = mkdtemp(tmpl);
    int32_t live = allocCount - freeCount;
    std::map<int, FileHandle *> open;  // file number -> handle

    void TearDown() override
    {
        for (auto &[file, fh] : open)
            fileClose(fh);
        EXPECT_EQ(allocCount - freeCount, live) << "blocks not given back";
        std::filesystem::remove_all(dir);
    }

    std::string path(int file) { return dir + "/m" + std::to_string(file); }

    void openFile(int file)
    {
        if (!std::filesystem::exists(path(file))) {
            std::string bytes;
            for (int32_t at = 0; at < FILE_BYTES; at++)
                bytes += (char)byteOf(file, at);
            std::ofstream(path(file), std::ios::binary) << bytes;
        }
        open[file] = fileOpen(path(file).c_str(), "r");
        ASSERT_NE(open[file], nullptr);
    }

    void closeFile(int file)
    {
        fileClose(open[file]);
        open.erase(file);
    }

    // Reads one element (8 bytes, as the engine does) and one word at the
    // offset from every open handle in turn, so that their reads interleave.
    void readAllAt(int32_t at)
    {
        for (auto &[file, fh] : open) {
            SCOPED_TRACE("file " + std::to_string(file) + " at " + std::to_string(at));
            ASSERT_EQ(fileSeek(fh, at), 1);
            int16_t v[4];
            ASSERT_EQ(get2ByteArray(v, 4, fh), 8);
            for (int32_t k = 0; k < 4; k++)
                EXPECT_EQ((uint16_t)v[k],
                          byteOf(file, at + 2 * k) | byteOf(file, at + 2 * k + 1) << 8);
            uint32_t word = get4Bytes(fh);
            for (int32_t k = 0; k < 4; k++)
                EXPECT_EQ(word >> 8 * k & 0xFF, byteOf(file, at + 8 + k));
            EXPECT_EQ(fh->pos, at + 12);
        }
    }

    // Offsets inside one buffer, across the first buffer's end, far ahead,
    // back to the start and near the end of the file.
    void readAll()
    {
        for (int32_t at : {0, 12, 65530, 65536, 131068, 40, 100000, 70000, FILE_BYTES - 12})
            readAllAt(at);
    }
};

// A buffer given back on close goes to the next handle opened; the handles
// still open keep theirs.  Up to five handles are open at once, more than
// the pool holds, so some read through the stream's default buffer, side by
// side with the pooled ones.
TEST_F(ReadPool, BuffersPassOnAsHandlesClose)
{
    struct Step {
        bool opens;
        int file;
    };
    const Step steps[] = {{true, 0}, {true, 1}, {true, 2}, {false, 1}, {true, 3},
                          {true, 4}, {true, 5}, {false, 0}, {false, 4}, {true, 6},
                          {true, 7}, {false, 2}, {false, 3}, {true, 8}};
    for (const Step &s : steps) {
        SCOPED_TRACE(std::string(s.opens ? "open " : "close ") + std::to_string(s.file));
        if (s.opens)
            openFile(s.file);
        else
            closeFile(s.file);
        readAll();
    }
}

}  // namespace
