// kit.h -- what the tests and the fuzz drivers share: KGX models described
// in memory and built into bytes by the one model builder (kgxBuild), byte
// helpers and a runner for the built tools.  No test framework needed
// (kit/test.h adds the GoogleTest layer).
#ifndef KIT_KIT_H
#define KIT_KIT_H

#include "kgx_model.h"

#include <array>
#include <csetjmp>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kit {
namespace fs = std::filesystem;

using Elem = std::array<int16_t, ELEMENT_VALUES>;  // a vertex or a normal
struct Prim {
    uint32_t header;
    std::string packet;
};  // the packet as long as the header says
struct Obj {
    std::vector<Elem> verts{}, norms{};
    std::vector<Prim> prims{};
    uint32_t scale = 1;
};
struct Model {
    std::vector<Obj> objs{};
    uint32_t flags = 0;
};

// A primitive of the mode with the packet's bytes (whole words); other holds
// header bits that only take part in the header comparison.
Prim prim(uint32_t mode, const std::string &packet, uint32_t other = 0);
// The model file, each packet as long as its header says (cut or padded).
std::string bytes(const Model &m);

template <class F>
Model edit(Model m, F change)
{
    return change(m), m;
}

// The little-endian word at at (throws std::out_of_range past the end), and
// s with the word at at set, as far as the bytes reach.
uint32_t word(const std::string &s, size_t at = 0);
std::string setWord(std::string s, size_t at, uint32_t v);
// Little-endian words back to back, such as a primitive's packet.
std::string le32(const std::vector<uint32_t> &words);
// Bytes from hex text, where blanks between the pairs show the layout; and
// back, one pair per byte, so that a mismatch shows its offset.
std::string unhex(std::string_view text);
std::string hex(std::string_view bytes);
std::string repeat(const std::string &s, int n);
// A whole file's bytes ("" when it cannot be read), and a file made of bytes.
std::string slurp(const fs::path &path);
void spit(const fs::path &path, const std::string &bytes);

struct Result {
    int code = -1;
    std::string out, err;
};  // code: exit status, or 1000 + the signal

// Runs argv (argv[0] a path) in dir, no shell between, standard input empty,
// the output streams caught; env entries replace or add to the environment.
// A run longer than limitMs is killed.  Throws when it cannot be started.
Result run(const fs::path &dir, const std::vector<std::string> &argv,
           const std::vector<std::string> &env = {}, int limitMs = 60000);

// The support library's Exit (klib.h) ends the process with the code of a
// fatal report; with exitJump set to a point armed by setjmp it jumps back
// there instead, setjmp then returning the code, which exitCode keeps.
extern std::jmp_buf *exitJump;
extern int32_t exitCode;

// Words split at blanks: "dump --json t.vdf"; and a run of such a line.
std::vector<std::string> words(const std::string &line);
Result sh(const fs::path &dir, const std::string &line);
// Every file and directory below dir, sorted, with each regular file's bytes.
std::vector<std::pair<std::string, std::string>> snapshot(const fs::path &dir);

// The main of an in-process fuzz target built without libFuzzer: runs the
// target on every file of the directories named, and fails when there is
// none.
int replayCorpus(int argc, char **argv, int (*target)(const uint8_t *, size_t));

}  // namespace kit

#endif
