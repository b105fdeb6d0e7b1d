// lib_read.cpp -- a read that fails in the middle of a model (an I/O error,
// out of reach of a whole run) ends it with its code and report; a
// directory opens as a stream whose every read fails.
#include "klib.h"
#include "kit/test.h"

void Exit(int32_t code) { exit(code); }

TEST(ReadFailure, EndsTheRunWithItsCode)
{
    kit::Scratch s;
    const std::string report = "\nFail to read: \"" + s.dir.string() + "\" at 0 bytes\n";
    unsigned char b[1];
    int16_t v[1];
    EXPECT_EXIT(getByteArray(b, 1, fileOpen(s.dir.c_str(), "r")), testing::ExitedWithCode(42), testing::Eq(report));
    EXPECT_EXIT(get2ByteArray(v, 1, fileOpen(s.dir.c_str(), "r")), testing::ExitedWithCode(44), testing::Eq(report));
}
