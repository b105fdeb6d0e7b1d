// fuzz_keyblend.cpp -- process-level fuzzing of keyblend (docs/testing.md):
//   fuzz_keyblend KEYBLEND DIR SEED COUNT [FIRST]
// Input i follows from the seed and i alone: COUNT 1, FIRST i replay it.
#include "kit/kit.h"

#include <cctype>
#include <csignal>
#include <random>
#include <set>
#include <sstream>

using namespace kit;

namespace {

// The statuses keyblend documents: the numbers in the first column of the
// table in the section on exit codes.
std::set<int> documentedCodes()
{
    std::string doc = slurp(KEYBLEND_DOCS), table = doc.substr(doc.find("## Exit codes"));
    std::istringstream rows(table.substr(0, table.find("\n#", 1)));
    std::set<int> codes;
    for (std::string row; std::getline(rows, row);)
        for (size_t at = 2; row.rfind("| ", 0) == 0 && at < row.find('|', 2); at++)
            if (isdigit((unsigned char)row[at]) && !isdigit((unsigned char)row[at - 1]))
                codes.insert(std::stoi(row.substr(at)));
    return codes;
}

// What makes a run a fault whatever its inputs; empty for a clean run.
std::string fault(const Result &r, const std::set<int> &documented)
{
    if (r.code >= 1000)
        return r.code == 1000 + SIGKILL ? "hang" : "signal " + std::to_string(r.code - 1000);
    if (r.err.find("Sanitizer") != std::string::npos ||
        r.err.find("runtime error:") != std::string::npos)
        return "sanitizer report";
    return documented.count(r.code) ? "" : "undocumented exit code " + std::to_string(r.code);
}

// The standard fixes this engine's sequence, unlike its distributions'.
struct Rng : std::mt19937_64 {
    using std::mt19937_64::mt19937_64;
    uint32_t below(size_t n) { return n ? (uint32_t)((*this)() % n) : 0; }
    bool chance(uint32_t inN) { return below(inN) == 0; }
    // A value, often a small one.
    int16_t value() { return chance(3) ? (int16_t)(*this)() : (int16_t)(below(5) - 2); }
    template <class T, size_t N>
    T pick(const T (&pool)[N])
    {
        return pool[below(N)];
    }
};

// One to three objects: a few vertices, normals and primitives of every mode.
Model randomModel(Rng &rng)
{
    static const uint32_t modes[] = {0, MODE_TEXTURED, MODE_FOUR_CORNERS,
                                     MODE_TEXTURED | MODE_FOUR_CORNERS, 0xFF};
    Model m{std::vector<Obj>(1 + rng.below(3))};
    for (Obj &o : m.objs) {
        for (uint32_t n = rng.below(9); n; n--)
            (n % 3 ? o.verts : o.norms)
                .push_back({rng.value(), rng.value(), rng.value(), rng.value()});
        for (uint32_t n = rng.below(5); n; n--)
            o.prims.push_back(
                prim(rng.pick(modes), std::string(4 * rng.below(6), (char)rng()), rng.below(256)));
        o.scale = rng.below(1000);
    }
    return m;
}

// A value near 0, 2^15, 2^16, 2^31 or 2^32, or a top at the end of the file.
uint32_t interesting(Rng &rng, size_t fileSize)
{
    static const uint32_t values[] = {0,          1,          2,          3,          0x41,
                                      0x7F,       0xFF,       0x100,      0x7FFF,     0x8000,
                                      0xFFFF,     0x10000,    0x7FFFFFF0, 0x7FFFFFFF, 0x80000000,
                                      0x80000001, 0xFFFFFFF4, 0xFFFFFFFE, 0xFFFFFFFF};
    return rng.chance(6) ? (uint32_t)(fileSize - KGX_TABLE) + rng.below(3) : rng.pick(values);
}

// One piece of damage to a model built with the given number of objects.
void damage(std::string &m, uint32_t objects, Rng &rng)
{
    static const uint32_t header[] = {0, KGX_FLAGS_AT, KGX_COUNT_AT};
    const uint32_t o = rng.below(objects);
    switch (m.empty() ? 0 : 1 + rng.below(6)) {
    case 0:  // stray bytes
        m += (char)rng();
        break;
    case 1:  // a bit or a byte anywhere
        m[rng.below(m.size())] ^= (char)(rng.chance(2) ? 1 << rng.below(8) : rng());
        break;
    case 2:  // identifier, flags or object count; or a top, a count or the scale of an object
    case 3:
        m = setWord(m, rng.chance(3) ? rng.pick(header) : kgxEntryAt(o, rng.below(ENTRY_WORDS)),
                    interesting(rng, m.size()));
        break;
    case 4:  // an object's first primitive header: packet length and mode
        if (kgxEntryAt(o, ENTRY_WORDS) <= m.size() && word(m, kgxEntryAt(o, ENTRY_N_PRIM)))
            m = setWord(m, KGX_TABLE + word(m, kgxEntryAt(o, ENTRY_PRIM_TOP)),
                        primHeader(rng.below(256), rng.below(256), rng.below(256)));
        break;
    case 5:  // cut short
        m.resize(rng.below(m.size()));
        break;
    default:  // a word anywhere
        m = setWord(m, rng.below(m.size()), interesting(rng, m.size()));
    }
}

// A word for the command line or an argument file: none is absolute or
// climbs more than one level, so that outputs stay in the fuzz directory.
std::string token(Rng &rng)
{
    static const char *const pool[] = {
        "-n",     "-t",    "-v",    "-dump",   "-c",    "-o",    "-help",     "-x",   "-",  "b.kgx",
        "v1.kgx", "v1",    "b",     "missing", "l.arg", "m.ARG", "l",         "d",    "d/", ".",
        "...",    "o.b.x", "sub/o", "x.",      ".arg",  "../o",  "sub/../v2", "d/x.y"};
    char c = (char)(1 + rng.below(255));
    return !rng.chance(6) ? rng.pick(pool)
                          : std::string(1 + rng.below(4000), c == '/' || c == '.' ? 'a' : c);
}

// Writes the input's files into dir and returns keyblend's arguments:
// options, the base and a variant or an argument file, a few more words.
std::vector<std::string> inputFiles(const fs::path &dir, Rng &rng)
{
    static const char *const blanks[] = {" ", "\n", "\t", "\r\n", "  \f\v ", ""};
    const Model model = randomModel(rng);
    const uint32_t objects = (uint32_t)model.objs.size(), data = (uint32_t)kgxEntryAt(objects);
    const std::string b = bytes(model);
    auto variant = [&] {  // some values and packet bytes changed
        std::string v = b;
        for (uint32_t n = rng.below(12); n && v.size() > data; n--)
            v[data + rng.below(v.size() - data)] = (char)rng();
        return v;
    };
    std::string v = variant(), damaged = b, list;
    for (uint32_t n = rng.below(5); n; n--)
        damage(rng.chance(3) ? damaged : v, objects, rng);
    for (uint32_t n = rng.below(12); n; n--)
        list += token(rng) + rng.pick(blanks);
    spit(dir / "b.kgx", damaged), spit(dir / "v1.kgx", v), spit(dir / "v2.KGX", variant());
    spit(dir / "l.arg", list.substr(0, rng.chance(4) ? rng.below(list.size() + 1) : list.size()));
    std::vector<std::string> args;
    for (const char *f : {"-n", "-t", "-v", "-dump", "-c", "-N", "-T"})
        if (rng.chance(2))
            args.push_back(f);
    if (rng.chance(6))
        args.insert(args.end(), {"-o", token(rng)});
    args.insert(args.end(), {rng.chance(4) ? "l.arg" : "b", "v1"});
    for (uint32_t n = rng.below(3); n; n--)
        args.push_back(token(rng));
    return args;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 5)
        return fprintf(stderr, "usage: fuzz_keyblend KEYBLEND DIR SEED COUNT [FIRST]\n"), 2;
    const fs::path keyblend = fs::absolute(argv[1]), dir = fs::absolute(argv[2]),
                   work = dir / "input";
    const long seed = std::stol(argv[3]), first = argc > 5 ? std::stol(argv[5]) : 0,
               end = first + std::stol(argv[4]);
    const std::set<int> documented = documentedCodes();
    long findings = 0;
    for (long i = first; i < end; i++) {
        fs::remove_all(work);
        fs::create_directories(work / "d"), fs::create_directories(work / "sub");
        std::seed_seq input{seed, i};
        Rng rng(input);
        std::vector<std::string> args = inputFiles(work, rng);
        args.insert(args.begin(), keyblend);
        // Leak checking triples the cost of a run, so only every eighth
        // input has it; the sanitizers abort at once on any other finding.
        Result r =
            run(work, args,
                {std::string("ASAN_OPTIONS=abort_on_error=1:detect_leaks=") + (i % 8 ? "0" : "1"),
                 "UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1"},
                10000);
        if (std::string why = fault(r, documented); !why.empty()) {
            const fs::path kept =
                dir / ("finding-" + std::to_string(seed) + "-" + std::to_string(i));
            fprintf(stderr, "FINDING %s: seed %ld input %ld, kept in %s\n%s\n", why.c_str(), seed,
                    i, kept.c_str(), r.err.substr(0, 4000).c_str());
            fs::remove_all(kept), fs::rename(work, kept), findings++;
        }
    }
    fs::remove_all(work);
    printf("seed %ld: %ld inputs, %ld findings\n", seed, end - first, findings);
    return findings ? 1 : 0;
}
