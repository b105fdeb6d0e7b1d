// lib_alloc.cpp -- counted allocation, the suppression list and the
// allocation failure reports.  The test binary's Exit and the malloc wrapper
// that makes a chosen allocation fail live here too.
#include "klib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

using testing::Eq;
using testing::ExitedWithCode;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// The tests hold no long-lived blocks, so there is nothing to release.
void Exit(int32_t code)
{
    if (code != 0)
        exit(code);
}

// The link routes every malloc of the library (and of this binary) here.
// While failIn is n > 0, the n-th call from now returns null and the switch
// disarms itself; arm it just before the library call under test.
static int failIn = 0;
extern "C" void *__real_malloc(size_t size);
extern "C" void *__wrap_malloc(size_t size)
{
    return failIn > 0 && --failIn == 0 ? nullptr : __real_malloc(size);
}

// The report as the user sees it, after n more requests of total more bytes.
static std::string alcText(const char *label, long a, long b, int32_t n, int32_t total)
{
    char text[512];
    snprintf(text, sizeof text, "\nAlloc Error: \"%s\" %ld x %ld(+%ld-%ld:sum=%ld)\n", label, a, b,
             (long)(allocCount + n), (long)freeCount, (long)(allocTotal + total));
    return text;
}

// Each row fails the failAt-th allocation from now; every request up to and
// including the failing one is counted.  fileOpen("/") opens (a directory
// reads as a stream on glibc), then allocates the record, the name's copy
// and the full path, in that order.
TEST(AllocDeath, ReportNamesTheFailingRequest)
{
    const struct {
        std::function<void()> call;
        int failAt, code;
        const char *label;
        long a, b;
        int32_t total;
    } rows[] = {
        {[] { strAlloc(16, "buf"); }, 1, 12, "buf", 16, 1, 16},
        {[] { strAlloc(16, nullptr); }, 1, 12, "strAlloc", 16, 1, 16},
        {[] { strCopy("hello"); }, 1, 13, "hello", 6, 1, 6},
        {[] { strCopy(""); }, 1, 13, "", 1, 1, 1},
        {[] { getFileName("models/cube.kgx"); }, 1, 13, "cube.kgx", 9, 1, 9},
        {[] { mkFileName("cube", "vdf", nullptr); }, 1, 12, "cube", 9, 1, 9},
        {[] { mkFileName("cube.gx", "kgx", kgxs); }, 1, 12, "mkFileName", 9, 1, 9},
        {[] { mkFileName("cube.b", "tdf", nullptr); }, 1, 13, "cube.b", 7, 1, 7},
        {[] { getFullPath("/x"); }, 1, 12, "/x", 255, 1, 255},
        {[] { fileOpen("/no/such/file", "r"); }, 1, 11, "fileOpen", 1, 20, 20},
        {[] { fileOpen("/", "r"); }, 2, 13, "/", 2, 1, 22},
        {[] { fileOpen("/", "r"); }, 3, 12, "/", 255, 1, 277},
        // A guarded open suppresses OPEN_ERR only: the record still ends it.
        {[] { fileMatchOpen("cube", kgxs, "r"); }, 1, 11, "fileOpen", 1, 20, 20},
    };
    for (const auto &r : rows) {
        std::string text = alcText(r.label, r.a, r.b, r.failAt, r.total);
        SCOPED_TRACE(text);
        EXPECT_EXIT((failIn = r.failAt, r.call()), ExitedWithCode(r.code), Eq(text));
    }
}

// A failed request stays counted; the caller's suppression holds inside
// strCopy as well, which leaves the list as it found it.
TEST(Alloc, SuppressedFailureReturnsNullAndStaysCounted)
{
    int32_t count = allocCount, total = allocTotal, freed = freeCount;
    CaptureStderr();
    errPush(ALC_ERR);
    failIn = 1;
    EXPECT_EQ(strAlloc(7, nullptr), nullptr);
    failIn = 1;
    EXPECT_EQ(strCopy("abc"), nullptr);
    EXPECT_EQ(_igno_, 1);
    errPop();
    EXPECT_EQ(GetCapturedStderr(), "");
    char *none = nullptr;
    memFree(none);  // a holder that holds none is left alone
    EXPECT_EQ(allocCount - count, 2);
    EXPECT_EQ(allocTotal - total, 7 + 4);
    EXPECT_EQ(freeCount, freed);
}

// The list holds keys by identity: an equal text elsewhere is another key.
TEST(SuppressionList, HoldsKeysByIdentity)
{
    static const char openCopy[] = "Cannot open: \"%s\"\n";
    ASSERT_STREQ(openCopy, OPEN_ERR);
    errPush(openCopy);
    EXPECT_TRUE(errIgnored(openCopy));
    EXPECT_FALSE(errIgnored(OPEN_ERR));
    EXPECT_EXIT(fileOpen("/no/such/file", "r"), ExitedWithCode(30),
                Eq("\nCannot open: \"/no/such/file\"\n"));
    errPop();
}

// A push onto the full list is counted but not stored, so its key is not
// suppressed and its failure still ends the run; pushes and pops stay
// paired, and an extra pop leaves the count at 0.  The sanitizer build would
// catch a store past the end of the list.
TEST(SuppressionList, PushBeyondCapacityIsCountedNotStored)
{
    ASSERT_EQ(_igno_, 0);
    for (int i = 0; i < IGNORE_MAX; i++)
        errPush(i % 2 ? EOF_ERR : READ_ERR);
    ErrKey before[IGNORE_MAX];
    std::copy(_ignoreErr_, _ignoreErr_ + IGNORE_MAX, before);
    errPush(OPEN_ERR);
    EXPECT_EQ(_igno_, IGNORE_MAX + 1);
    EXPECT_TRUE(std::equal(before, before + IGNORE_MAX, _ignoreErr_));
    EXPECT_FALSE(errIgnored(OPEN_ERR));
    EXPECT_EXIT(fileOpen("/no/such/file", "r"), ExitedWithCode(30),
                Eq("\nCannot open: \"/no/such/file\"\n"));
    for (int i = 0; i <= IGNORE_MAX + 1; i++)
        errPop();
    EXPECT_EQ(_igno_, 0);
    EXPECT_FALSE(errIgnored(READ_ERR));  // entries past the count mean nothing
}
