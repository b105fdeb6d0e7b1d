// fuzz_keyblend.cpp -- process-level fuzzing of keyblend
//
// Builds valid base and variant models, damages them (header words, object
// table entries, primitive headers, truncation, stray bytes) or writes
// argument files from a pool of awkward tokens, runs keyblend on each input
// in a scratch directory and fails on any signal, time-out, sanitizer report
// or exit status that the exit-code table of docs/keyblend.md does not list.
// It hunts crashes, not wrong output.  Every input follows from the seed and
// its own index alone, so a finding is replayed with --seed S --only I.
//
//   fuzz_keyblend --keyblend BIN --dir DIR --mode models|args|truncate
//                 [--seed S] [--count N | --seconds T] [--only I] [--keep DIR]
#include "kit/model.h"
#include "kit/run.h"

#include <chrono>
#include <climits>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace kit;

namespace {

// The statuses the exit-code table documents: the numbers in the first
// column of the table under the heading that names the exit codes.
std::set<int> documentedCodes()
{
    std::ifstream in(KEYBLEND_DOCS);
    std::set<int> codes;
    bool inTable = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind('#', 0) == 0)
            inTable = line.find("xit codes") != std::string::npos;
        else if (inTable && line.rfind("| ", 0) == 0)
            for (std::istringstream cell(line.substr(2, line.find('|', 2) - 2)); !cell.eof();) {
                if (int code; cell >> code)
                    codes.insert(code);
                else
                    cell.clear(), cell.ignore();
            }
    }
    if (codes.empty())
        throw std::runtime_error("no exit-code table in " KEYBLEND_DOCS);
    return codes;
}

// What makes a run a fault whatever its inputs; empty for a clean run.
std::string fault(const Result &r, const std::set<int> &documented)
{
    if (r.timedOut)
        return "hang";
    if (r.code >= 1000)
        return "signal " + std::to_string(r.code - 1000);
    if (r.err.find("Sanitizer") != std::string::npos || r.err.find("runtime error:") != std::string::npos)
        return "sanitizer report";
    if (!documented.count(r.code))
        return "undocumented exit code " + std::to_string(r.code);
    return "";
}

// splitmix64: tiny, and the same sequence on every platform and library,
// which the standard distributions do not promise.
struct Rng {
    uint64_t s;
    uint64_t next()
    {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return n ? (uint32_t)(next() % n) : 0; }
    bool chance(uint32_t inN) { return below(inN) == 0; }
    template <class T, size_t N>
    T pick(const T (&pool)[N]) { return pool[below(N)]; }
};

Elem randomElement(Rng &rng)
{
    Elem e;
    for (auto &x : e)
        x = rng.chance(3) ? (int16_t)rng.next() : (int16_t)(rng.below(5) - 2);
    return e;
}

// A random but valid model: one to three objects with a few vertices,
// normals and primitives of every mode and packet length 0 to 5.
Model randomModel(Rng &rng)
{
    static const uint32_t modes[] = {0, 4, 8, 12, 0xFF};
    Model m{std::vector<Obj>(1 + rng.below(3))};
    for (Obj &o : m.objs) {
        for (uint32_t n = rng.below(6); n; n--)
            o.verts.push_back(randomElement(rng));
        for (uint32_t n = rng.below(4); n; n--)
            o.norms.push_back(randomElement(rng));
        for (uint32_t n = rng.below(5); n; n--) {
            std::string packet(4 * rng.below(6), 0);
            for (char &b : packet)
                b = (char)rng.below(256);
            o.prims.push_back(prim(rng.pick(modes), packet, rng.below(256)));
        }
        o.scale = rng.below(1000);
    }
    return m;
}

// A variant of the model: some values changed, now and then an element or
// a primitive more or fewer.
Model variantOf(Model m, Rng &rng)
{
    m.flags = rng.chance(10);
    for (Obj &o : m.objs) {
        for (auto *elems : {&o.verts, &o.norms}) {
            for (auto &e : *elems)
                if (rng.chance(2))
                    e = randomElement(rng);
            if (rng.chance(8))
                elems->push_back(randomElement(rng));
        }
        for (Prim &p : o.prims)
            for (auto &b : p.packet)
                if (rng.chance(4))
                    b = (char)rng.below(256);
        if (rng.chance(10) && !o.prims.empty())
            o.prims.pop_back();
    }
    return m;
}

// A value near 0, 2^15, 2^16, 2^31 or 2^32, or one that points at or near
// the end of the file.
uint32_t interesting(Rng &rng, size_t fileSize)
{
    static const uint32_t values[] = {0, 1, 2, 3, 0x41, 0x7F, 0xFF, 0x100, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
                                      0x7FFFFFF0, 0x7FFFFFFF, 0x80000000, 0x80000001, 0xFFFFFFF4,
                                      0xFFFFFFFE, 0xFFFFFFFF};
    return rng.chance(6) ? (uint32_t)fileSize - 12 + rng.below(3) : rng.pick(values);
}

void mutate(std::string &m, const Layout &lay, Rng &rng)
{
    if (m.empty())
        return;
    auto at = [&](const std::vector<size_t> &places) { return places[rng.below((uint32_t)places.size())]; };
    switch (rng.below(8)) {
    case 0:  // one bit or byte anywhere
        m[rng.below((uint32_t)m.size())] ^= (char)(rng.chance(2) ? 1 << rng.below(8) : rng.below(256));
        break;
    case 1:  // a header word: identifier, flags or object count
        m = setWord(m, 4 * rng.below(3), interesting(rng, m.size()));
        break;
    case 2:
    case 3:  // a word of the object table: a top, a count or a scale
        if (!lay.tableWords.empty())
            m = setWord(m, at(lay.tableWords), interesting(rng, m.size()));
        break;
    case 4:  // a primitive header's packet length or mode byte
        if (size_t p = lay.primHeaders.empty() ? m.size() : at(lay.primHeaders) + (rng.chance(2) ? 1 : 3);
            p < m.size())  // an earlier mutation may have cut it off
            m[p] = (char)rng.below(256);
        break;
    case 5:  // cut short
        m.resize(rng.below((uint32_t)m.size()));
        break;
    case 6:  // stray bytes at the end
        for (uint32_t n = 1 + rng.below(16); n; n--)
            m += (char)rng.below(256);
        break;
    default:  // a 32-bit word at a random aligned place
        m = setWord(m, 4 * rng.below((uint32_t)(m.size() / 4 + 1)), interesting(rng, m.size()));
        break;
    }
}

std::vector<std::string> randomOptions(Rng &rng)
{
    static const char *const names[] = {"out", "out.b.x", "sub/out", "d/x.y", "o.", "../o"};
    std::vector<std::string> opts;
    for (const char *f : {"-n", "-t", "-v", "-dump", "-c", "-N", "-T"})
        if (rng.chance(2))
            opts.push_back(f);
    if (rng.chance(6))
        opts.insert(opts.end(), {"-o", rng.pick(names)});
    return opts;
}

// The models mode: a base and up to three variants, some of them damaged,
// and a command line naming them in one of several ways.
std::vector<std::string> modelInput(const fs::path &dir, Rng &rng)
{
    static const char *const more[] = {"v2", "missing", "d", "b.kgx", "v1.kgx"};
    Layout lb, lv;
    Model base = randomModel(rng);
    std::string b = bytes(base, &lb), v = rng.chance(8) ? b : bytes(variantOf(base, rng), &lv);
    if (rng.chance(8))
        lv = lb;
    for (uint32_t n = 1 + rng.below(4); n; n--)
        rng.chance(3) ? mutate(b, lb, rng) : mutate(v, lv, rng);
    spit(dir / "b.kgx", b);
    spit(dir / "v1.kgx", v);
    spit(dir / "v2.KGX", bytes(variantOf(base, rng)));
    std::vector<std::string> args = randomOptions(rng);
    args.push_back(rng.chance(2) ? "b" : "b.kgx");
    args.push_back(rng.chance(2) ? "v1" : "v1.kgx");
    for (uint32_t n = rng.below(3); n; n--)
        args.push_back(rng.pick(more));
    return args;
}

// Tokens for argument files.  None is absolute and none climbs more than
// one level with "..", so whatever follows "-o", the outputs stay inside
// the fuzz directory.
std::string token(Rng &rng)
{
    static const char *const pool[] = {"-n",    "-t",     "-v",      "-dump", "-c",    "-o",
                                       "-help", "-x",     "-",       "b.kgx", "v1.kgx", "v1",
                                       "b",     "missing", "l.arg",  "m.ARG", "d",     "d/",
                                       ".",     "...",    "o.b.x",   "sub/o", "x.",    ".arg"};
    if (!rng.chance(6))
        return rng.pick(pool);
    std::string t;
    for (uint32_t n = rng.chance(2) ? 1 + rng.below(40) : 250 + rng.below(4000); n; n--) {
        char c = (char)(1 + rng.below(255));
        t += c == '/' || c == '.' ? 'a' : c;  // white space splits it, as it should
    }
    return t;
}

std::vector<std::string> argInput(const fs::path &dir, Rng &rng)
{
    static const char *const blanks[] = {" ", "\n", "\t", "\r\n", "  \f\v ", ""};
    static const char *const words[] = {"l.arg", "m.ARG", "l", "b.kgx", "v1", "none.arg"};
    Model base = randomModel(rng);
    spit(dir / "b.kgx", bytes(base));
    spit(dir / "v1.kgx", bytes(variantOf(base, rng)));
    for (const char *name : {"l.arg", "m.ARG"}) {
        std::string text;
        for (uint32_t n = rng.below(12); n; n--)
            text += token(rng) + rng.pick(blanks);
        if (rng.chance(4))
            text.resize(rng.below((uint32_t)text.size() + 1));
        spit(dir / name, text);
    }
    std::vector<std::string> args = rng.chance(3) ? randomOptions(rng) : std::vector<std::string>{};
    for (uint32_t n = 1 + rng.below(3); n; n--)
        args.push_back(rng.pick(words));
    return args;
}

// The truncation sweep: a fixed model pair, cut at every offset, first the
// base with the variant whole and then the variant with the base whole.
std::vector<std::string> truncInput(const fs::path &dir, long index, long *total)
{
    Model base{{Obj{{{0, 0, 0, 0}, {1, 2, 3, 4}, {5, 6, 7, 8}}, {{0, 0, 1, 0}},
                    {prim(12, std::string(16, 7)), prim(0, "\1\2\3\4")}},
                Obj{{{9, 9, 9, 9}}, {}, {prim(4, std::string(12, 1))}}}};
    Model var = edit(base, [](Model &m) {
        m.objs[0].verts[2] = {5, 6, 70, 8};
        m.objs[0].norms[0] = {0, 1, 0, 0};
        m.objs[0].prims[0].packet[15] = 9;
        m.objs[1].prims[0].packet[2] = 0;
    });
    std::string b = bytes(base), v = bytes(var);
    *total = (long)(b.size() + v.size());
    (size_t)index < b.size() ? b.resize((size_t)index) : v.resize((size_t)index - b.size());
    spit(dir / "b.kgx", b);
    spit(dir / "v1.kgx", v);
    return {"-n", "-t", "-v", "-dump", "b.kgx", "v1.kgx"};
}

}  // namespace

int main(int argc, char **argv)
{
    std::map<std::string, std::string> o = {{"--mode", "models"}, {"--seed", "1"}, {"--count", "1000"},
                                            {"--seconds", "0"}, {"--only", "-1"}, {"--keep", ""}};
    for (int i = 1; i + 1 < argc; i += 2)
        o[argv[i]] = argv[i + 1];
    if (!o.count("--keyblend") || !o.count("--dir")) {
        fprintf(stderr, "usage: fuzz_keyblend --keyblend BIN --dir DIR [--mode models|args|truncate]"
                        " [--seed S] [--count N | --seconds T] [--only I] [--keep DIR]\n");
        return 2;
    }
    const std::string mode = o["--mode"], keep = o["--keep"];
    const uint64_t seed = std::stoull(o["--seed"]);
    const long only = std::stol(o["--only"]);
    const double seconds = std::stod(o["--seconds"]);
    const std::set<int> documented = documentedCodes();
    fs::path work = fs::absolute(o["--dir"]) / "input";
    auto start = std::chrono::steady_clock::now();
    std::map<int, long> codes;
    long inputs = 0, findings = 0;
    long total = mode == "truncate" ? LONG_MAX : std::stol(o["--count"]);  // the sweep sets its own
    for (long i = only >= 0 ? only : 0;; i++) {
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (only >= 0 ? i > only : seconds > 0 ? elapsed >= seconds : i >= total)
            break;
        fs::remove_all(work);
        for (const char *d : {"", "d", "sub"})
            fs::create_directories(work / d);
        Rng rng{seed * 0x100000001B3ull ^ (uint64_t)i};
        std::vector<std::string> args = mode == "truncate" ? truncInput(work, i, &total)
                                        : mode == "args"   ? argInput(work, rng)
                                                           : modelInput(work, rng);
        args.insert(args.begin(), fs::absolute(o["--keyblend"]));
        // Leak checking triples the cost of a run, so only every eighth
        // input has it; the sanitizers abort at once on any other finding.
        Result r = run(work, args,
                       {std::string("ASAN_OPTIONS=abort_on_error=1:detect_leaks=") + (i % 8 ? "0" : "1"),
                        "UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1"},
                       10000);
        inputs++;
        codes[r.code >= 1000 ? 1000 - r.code : r.code]++;
        std::string why = fault(r, documented);
        if (why.empty())
            continue;
        findings++;
        fprintf(stderr, "FINDING %s: --mode %s --seed %llu --only %ld\n  cmd:", why.c_str(), mode.c_str(),
                (unsigned long long)seed, i);
        for (const std::string &a : args)
            fprintf(stderr, " %s", a.size() > 80 ? (a.substr(0, 80) + "...").c_str() : a.c_str());
        fprintf(stderr, "\n%s\n", r.err.substr(0, 4000).c_str());
        if (!keep.empty())
            fs::copy(work, fs::path(keep) / (mode + "-" + std::to_string(seed) + "-" + std::to_string(i)),
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    fs::remove_all(work);
    printf("%s seed %llu: %ld inputs, %ld findings; exit statuses:", mode.c_str(), (unsigned long long)seed,
           inputs, findings);
    for (auto &[code, n] : codes)
        printf(" %s%d:%ld", code < 0 ? "sig" : "", code < 0 ? -code : code, n);
    printf("\n");
    return findings ? 1 : 0;
}
