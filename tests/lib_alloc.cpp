// lib_alloc.cpp -- the suppression list and allocation failures that a
// caller suppresses, with the test binary's Exit and a malloc that fails on
// request.  (How allocation failures are counted and reported is checked on
// whole keyblend runs, in harden.cpp.)
#include "klib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using testing::Eq;
using testing::ExitedWithCode;

// The tests hold no long-lived blocks, so there is nothing to release.
void Exit(int32_t code)
{
    if (code != 0)
        exit(code);
}

// The link routes every malloc of the library (and of this binary) here.
// While failIn is n > 0, the n-th call from now returns null.
static int failIn = 0;
extern "C" void *__real_malloc(size_t size);
extern "C" void *__wrap_malloc(size_t size)
{
    return failIn > 0 && --failIn == 0 ? nullptr : __real_malloc(size);
}

// With ALC_ERR suppressed by the caller, a failed request returns null,
// stays counted and prints nothing; strCopy leaves the list as it found it.
TEST(Alloc, SuppressedFailureReturnsNullAndStaysCounted)
{
    int32_t count = allocCount, total = allocTotal, freed = freeCount;
    errPush(ALC_ERR);
    failIn = 1;
    EXPECT_EQ(strAlloc(7, nullptr), nullptr);
    failIn = 1;
    EXPECT_EQ(strCopy("abc"), nullptr);
    EXPECT_EQ(_igno_, 1);
    errPop();
    EXPECT_EQ(allocCount - count, 2);
    EXPECT_EQ(allocTotal - total, 7 + 4);
    EXPECT_EQ(freeCount, freed);
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
    EXPECT_EXIT(fileOpen("/no/such/file", "r"), ExitedWithCode(30),
                Eq("\nCannot open: \"/no/such/file\"\n"));
    for (int i = 0; i <= IGNORE_MAX + 1; i++)
        errPop();
    EXPECT_EQ(_igno_, 0);
    EXPECT_FALSE(errIgnored(READ_ERR));  // entries past the count mean nothing
}
