// run.h -- scratch directories and a runner for the built tools, for the
// tests and the fuzz drivers alike.  No test framework needed.
#ifndef KIT_RUN_H
#define KIT_RUN_H

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kit {
namespace fs = std::filesystem;

// A fresh directory that everyone may enter, in memory where there is such
// a place (the tools flush every value they write).  It is removed with its
// files at the end of its scope unless keep is set by then; a kept one has
// its path printed on the error stream.  Throws std::runtime_error when no
// directory can be made.
struct TempDir {
    fs::path dir;
    bool keep = false;
    TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    ~TempDir();
    fs::path operator/(const fs::path &p) const { return dir / p; }
};

struct Result {
    int code = -1;  // exit status, or 1000 + the signal that ended it
    std::string out, err;
    bool timedOut = false;
    double seconds = 0;
    long maxRssKb = 0;
};

// Runs argv (argv[0] a path) in dir with no shell in between, standard input
// empty and the output streams caught in files there; env entries replace
// or add to the environment.  A run longer than limitMs is killed (and ends
// with 1000 + SIGKILL, timedOut set).  Throws std::runtime_error when the
// program cannot be started.
Result run(const fs::path &dir, const std::vector<std::string> &argv,
           const std::vector<std::string> &env = {}, int limitMs = 60000);

// Words split at blanks: "dump --json t.vdf"; and a run of such a line.
std::vector<std::string> words(const std::string &line);
Result sh(const fs::path &dir, const std::string &line);

// Every file and directory below dir, sorted, with each regular file's bytes.
std::vector<std::pair<std::string, std::string>> snapshot(const fs::path &dir);

}  // namespace kit

#endif
