// test.h -- the kit for GoogleTest tests: the model builder and the runner,
// and a scratch directory that is kept when the test using it has failed
#ifndef KIT_TEST_H
#define KIT_TEST_H

#include "kit/model.h"
#include "kit/run.h"

#include <gtest/gtest.h>

namespace kit {

// Kept, with its path printed, when the running test has failed, so that
// its files can be looked at.
struct Scratch : TempDir {
    ~Scratch() { keep = ::testing::Test::HasFailure(); }
};

#ifdef KELO_BIN
const std::string KELO = KELO_BIN, KEYBLEND = KEYBLEND_BIN;
#endif

}  // namespace kit

#endif
