// test.h -- the kit for GoogleTest tests: scratch directories and the paths
// of the built tools
#ifndef KIT_TEST_H
#define KIT_TEST_H

#include "kit/kit.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace kit {

// A fresh directory, in memory where there is such a place (the tools flush
// every value they write), removed with its files at the end of its scope
// unless the test using it has failed: then its path is printed.
struct Scratch {
    fs::path dir;
    Scratch()
    {
        std::string t =
            access("/dev/shm", W_OK) == 0 ? "/dev/shm/keyblend-XXXXXX" : "/tmp/keyblend-XXXXXX";
        if (!mkdtemp(t.data()))
            throw std::runtime_error("cannot make a scratch directory");
        dir = t;
    }
    ~Scratch()
    {
        std::error_code ignored;
        if (::testing::Test::HasFailure())
            fprintf(stderr, "scratch directory kept: %s\n", dir.c_str());
        else
            fs::remove_all(dir, ignored);
    }
    fs::path operator/(const fs::path &p) const { return dir / p; }
};

const std::string KEYBLEND = KEYBLEND_BIN;
#ifdef KELO_BIN
const std::string KELO = KELO_BIN;
#endif

}  // namespace kit

#endif
