// lib_stream.cpp -- handles opened for reading take their stream buffers
// from a small shared pool: whatever the number of handles open at once and
// the order they are closed in, each must read its own file's bytes, across
// buffer refills and seeks backwards and forwards.
#include "klib.h"
#include "kit/test.h"

#include <map>

namespace {

constexpr int32_t FILE_BYTES = 150006;  // more than two stream buffers

unsigned char byteOf(int file, int32_t at)
{
    return (unsigned char)(at * 7 + file * 31 + (at >> 9));
}

// Reads one element (8 bytes, as the engine does) and one word at each
// offset from every open handle in turn, so that their reads interleave:
// inside one buffer, across the first buffer's end, far ahead, back to the
// start and near the end of the file.
void readAll(const std::map<int, FileHandle *> &open)
{
    for (int32_t at : {0, 12, 65530, 65536, 131068, 40, 100000, 70000, FILE_BYTES - 12}) {
        for (auto &[file, fh] : open) {
            SCOPED_TRACE("file " + std::to_string(file) + " at " + std::to_string(at));
            ASSERT_EQ(fileSeek(fh, at), 1);
            int16_t v[4];
            ASSERT_EQ(get2ByteArray(v, 4, fh), 8);
            for (int32_t k = 0; k < 4; k++)
                EXPECT_EQ((uint16_t)v[k], byteOf(file, at + 2 * k) | byteOf(file, at + 2 * k + 1) << 8);
            uint32_t word = get4Bytes(fh);
            for (int32_t k = 0; k < 4; k++)
                EXPECT_EQ(word >> 8 * k & 0xFF, byteOf(file, at + 8 + k));
        }
    }
}

// A buffer given back on close goes to the next handle opened; the handles
// still open keep theirs.  Up to five handles are open at once, more than
// the pool holds, so some read through the stream's default buffer, side by
// side with the pooled ones.
TEST(ReadPool, BuffersPassOnAsHandlesClose)
{
    kit::Scratch s;
    int32_t live = allocCount - freeCount;
    std::map<int, FileHandle *> open;
    const std::pair<char, int> steps[] = {{'o', 0}, {'o', 1}, {'o', 2}, {'c', 1}, {'o', 3},
                                          {'o', 4}, {'o', 5}, {'c', 0}, {'c', 4}, {'o', 6},
                                          {'o', 7}, {'c', 2}, {'c', 3}, {'o', 8}};
    for (auto [step, file] : steps) {
        std::string path = s / ("m" + std::to_string(file));
        if (step == 'c') {
            fileClose(open[file]);
            open.erase(file);
        } else {
            std::string bytes;
            for (int32_t at = 0; at < FILE_BYTES; at++)
                bytes += (char)byteOf(file, at);
            kit::spit(path, bytes);
            ASSERT_NE(open[file] = fileOpen(path.c_str(), "r"), nullptr);
        }
        SCOPED_TRACE(step + std::to_string(file));
        readAll(open);
    }
    for (auto &[file, fh] : open)
        fileClose(fh);
    EXPECT_EQ(allocCount - freeCount, live) << "blocks not given back";
}

}  // namespace
