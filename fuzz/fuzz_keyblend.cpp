// fuzz_keyblend.cpp -- process-level fuzzing of keyblend
//
// Builds valid base and variant models, damages them (header words, object
// table entries, tops and counts, primitive headers and packet lengths,
// truncation, stray bytes) or builds argument files from a pool of awkward
// tokens, runs keyblend on each input in a scratch directory and fails on any
// signal, time-out, sanitizer report or undocumented exit status.  It hunts
// crashes, not wrong output.  Every input follows from the seed and its own
// index alone, so a finding is replayed with --seed S --only I.
//
//   fuzz_keyblend --keyblend BIN --dir DIR --mode models|args|truncate
//                 [--seed S] [--count N | --seconds T] [--only I]
//                 [--limit-ms MS] [--keep DIR]
#include "kit/model.h"
#include "kit/run.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

using namespace kit;

namespace {

// Every status keyblend may end with; anything else is a fault.
const std::set<int> documentedCodes = {0,  1,  2,  3,  11, 12, 13, 30, 31, 32, 35,
                                       36, 40, 41, 42, 43, 44, 45, 51, 52, 232};

// What makes a run a fault whatever its inputs: a time-out, a signal, a
// sanitizer report or an exit status keyblend does not document.  Returns
// the reason, or an empty string for a clean run.
std::string fault(const Result &r)
{
    if (r.timedOut)
        return "hang";
    if (r.code >= 1000)
        return "signal " + std::to_string(r.code - 1000);
    if (r.err.find("Sanitizer") != std::string::npos || r.err.find("runtime error:") != std::string::npos)
        return "sanitizer report";
    if (!documentedCodes.count(r.code))
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
};

struct Options {
    std::string keyblend, dir, mode = "models", keep;
    uint64_t seed = 1;
    long count = 1000, only = -1;
    double seconds = 0;
    int limitMs = 10000;
};

const uint32_t INTERESTING[] = {0,          1,          2,          3,          0x41,
                                0x7F,       0xFF,       0x100,      0x7FFF,     0x8000,
                                0xFFFF,     0x10000,    0x7FFFFFF0, 0x7FFFFFFF, 0x80000000,
                                0x80000001, 0xFFFFFFF4, 0xFFFFFFFE, 0xFFFFFFFF};

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
    Model m{std::vector<Obj>(1 + rng.below(3))};
    for (Obj &o : m.objs) {
        for (uint32_t n = rng.below(6); n; n--)
            o.verts.push_back(randomElement(rng));
        for (uint32_t n = rng.below(4); n; n--)
            o.norms.push_back(randomElement(rng));
        for (uint32_t n = rng.below(5); n; n--) {
            static const uint32_t modes[] = {0, 4, 8, 12, 0xFF};
            std::string packet(4 * rng.below(6), 0);
            for (char &b : packet)
                b = (char)rng.below(256);
            o.prims.push_back(prim(modes[rng.below(5)], packet, rng.below(256)));
        }
        o.scale = rng.below(1000);
    }
    return m;
}

// A variant of the model: some elements and texture bytes changed, now and
// then an element or primitive more or fewer.
Model variantOf(Model m, Rng &rng, bool flags = false)
{
    m.flags = flags;
    for (Obj &o : m.objs) {
        for (auto &v : o.verts)
            if (rng.chance(2))
                v = randomElement(rng);
        for (auto &v : o.norms)
            if (rng.chance(3))
                v = randomElement(rng);
        for (Prim &p : o.prims)
            for (auto &b : p.packet)
                if (rng.chance(4))
                    b = (char)rng.below(256);
        if (rng.chance(8))
            o.verts.push_back(randomElement(rng));
        if (rng.chance(8))
            o.norms.push_back(randomElement(rng));
        if (rng.chance(10) && !o.prims.empty())
            o.prims.pop_back();
    }
    return m;
}

uint32_t interesting(Rng &rng, size_t fileSize)
{
    uint32_t n = sizeof INTERESTING / sizeof *INTERESTING;
    uint32_t k = rng.below(n + 3);
    if (k < n)
        return INTERESTING[k];
    return (uint32_t)fileSize - 12 + (k - n);  // tops that land at or near the end
}

void mutate(std::string &m, const Layout &lay, Rng &rng)
{
    if (m.empty())
        return;
    switch (rng.below(9)) {
    case 0:  // one bit anywhere
        m[rng.below((uint32_t)m.size())] ^= (char)(1 << rng.below(8));
        break;
    case 1:  // one byte anywhere
        m[rng.below((uint32_t)m.size())] = (char)rng.below(256);
        break;
    case 2:  // a header word: identifier, flags or object count
        m = setWord(m, 4 * rng.below(3), interesting(rng, m.size()));
        break;
    case 3:
    case 4:  // a word of the object table: a top, a count or a scale
        if (!lay.tableWords.empty())
            m = setWord(m, lay.tableWords[rng.below((uint32_t)lay.tableWords.size())],
                  interesting(rng, m.size()));
        break;
    case 5:  // a primitive header's packet length or mode byte
        if (!lay.primHeaders.empty()) {
            size_t at = lay.primHeaders[rng.below((uint32_t)lay.primHeaders.size())];
            at += rng.chance(2) ? 1 : 3;
            if (at < m.size())  // an earlier mutation may have cut it off
                m[at] = (char)rng.below(256);
        }
        break;
    case 6:  // cut short
        m.resize(rng.below((uint32_t)m.size()));
        break;
    case 7:  // stray bytes at the end
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
    std::vector<std::string> opts;
    static const char *const flags[] = {"-n", "-t", "-v", "-dump", "-c", "-N", "-T"};
    for (const char *f : flags)
        if (rng.chance(2))
            opts.push_back(f);
    if (rng.chance(6)) {
        static const char *const names[] = {"out", "out.b.x", "sub/out", "d/x.y", "o."};
        opts.push_back("-o");
        opts.push_back(names[rng.below(5)]);
    }
    return opts;
}

// One input of the model mode: a base and up to three variants, some of
// them damaged, and a command line naming them in one of several ways.
std::vector<std::string> modelInput(const fs::path &dir, Rng &rng)
{
    Layout lb, lv;
    Model base = randomModel(rng);
    std::string b = bytes(base, &lb);
    std::string v = rng.chance(8) ? b : bytes(variantOf(base, rng, rng.chance(10)), &lv);
    if (rng.chance(8))
        lv = lb;
    for (uint32_t n = 1 + rng.below(4); n; n--) {
        if (rng.chance(3))
            mutate(b, lb, rng);
        else
            mutate(v, lv, rng);
    }
    spit(dir / "b.kgx", b);
    spit(dir / "v1.kgx", v);
    spit(dir / "v2.KGX", bytes(variantOf(base, rng)));
    fs::create_directory(dir / "d");
    fs::create_directory(dir / "sub");
    std::vector<std::string> args = randomOptions(rng);
    args.push_back(rng.chance(2) ? "b" : "b.kgx");
    args.push_back(rng.chance(2) ? "v1" : "v1.kgx");
    static const char *const more[] = {"v2", "missing", "d", "b.kgx", "v1.kgx"};
    for (uint32_t n = rng.below(3); n; n--)
        args.push_back(more[rng.below(5)]);
    return args;
}

// Tokens for argument files.  None is absolute and none climbs with "..",
// so whatever follows "-o", the outputs stay inside the scratch directory.
std::string token(Rng &rng)
{
    static const char *const pool[] = {"-n",   "-t",     "-v",     "-dump",  "-c",    "-o",
                                       "-help", "-x",    "-",      "b.kgx",  "v1.kgx", "v1",
                                       "b",    "missing", "l.arg", "m.ARG",  "d",      "d/",
                                       ".",    "...",    "o.b.x",  "sub/o",  "x.",     ".arg"};
    uint32_t k = rng.below(sizeof pool / sizeof *pool + 2);
    if (k < sizeof pool / sizeof *pool)
        return pool[k];
    std::string t;
    uint32_t len = k == sizeof pool / sizeof *pool ? 1 + rng.below(40) : 250 + rng.below(4000);
    for (uint32_t i = 0; i < len; i++) {
        char c = (char)(1 + rng.below(255));
        t += c == '/' || c == '.' ? 'a' : c;  // white space splits it, as it should
    }
    return t;
}

std::vector<std::string> argInput(const fs::path &dir, Rng &rng)
{
    Model base = randomModel(rng);
    spit(dir / "b.kgx", bytes(base));
    spit(dir / "v1.kgx", bytes(variantOf(base, rng)));
    fs::create_directory(dir / "d");
    fs::create_directory(dir / "sub");
    static const char *const blanks[] = {" ", "\n", "\t", "\r\n", "  \f\v ", ""};
    for (const char *name : {"l.arg", "m.ARG"}) {
        std::string text;
        for (uint32_t n = rng.below(12); n; n--)
            text += token(rng) + blanks[rng.below(6)];
        if (rng.chance(4) && !text.empty())
            text.resize(rng.below((uint32_t)text.size()));
        spit(dir / name, text);
    }
    std::vector<std::string> args;
    if (rng.chance(3))
        args = randomOptions(rng);
    static const char *const words[] = {"l.arg", "m.ARG", "l", "b.kgx", "v1", "none.arg"};
    for (uint32_t n = 1 + rng.below(3); n; n--)
        args.push_back(words[rng.below(6)]);
    return args;
}

// The truncation sweep: a fixed model pair, cut at every offset, first the
// base with the variant whole and then the variant with the base whole.
std::vector<std::string> truncInput(const fs::path &dir, long index, long *total)
{
    Model base{{Obj{{{0, 0, 0, 0}, {1, 2, 3, 4}, {5, 6, 7, 8}}, {{0, 0, 1, 0}},
                    {prim(12, std::string(16, 7)), prim(0, "\1\2\3\4")}},
                Obj{{{9, 9, 9, 9}}, {}, {prim(4, std::string(12, 1))}}}};
    Model var = base;
    var.objs[0].verts[2] = {5, 6, 70, 8};
    var.objs[0].norms[0] = {0, 1, 0, 0};
    var.objs[0].prims[0].packet[15] = 9;
    var.objs[1].prims[0].packet[2] = 0;
    std::string b = bytes(base), v = bytes(var);
    *total = (long)(b.size() + v.size());
    if ((size_t)index < b.size())
        b.resize((size_t)index);
    else
        v.resize((size_t)index - b.size());
    spit(dir / "b.kgx", b);
    spit(dir / "v1.kgx", v);
    return {"-n", "-t", "-v", "-dump", "b.kgx", "v1.kgx"};
}

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string k = argv[i], v = argv[i + 1];
        if (k == "--keyblend")
            o.keyblend = fs::absolute(v);
        else if (k == "--dir")
            o.dir = v;
        else if (k == "--mode")
            o.mode = v;
        else if (k == "--seed")
            o.seed = std::stoull(v);
        else if (k == "--count")
            o.count = std::stol(v);
        else if (k == "--seconds")
            o.seconds = std::stod(v);
        else if (k == "--only")
            o.only = std::stol(v);
        else if (k == "--limit-ms")
            o.limitMs = std::stoi(v);
        else if (k == "--keep")
            o.keep = v;
    }
    if (o.keyblend.empty() || o.dir.empty()) {
        fprintf(stderr, "usage: fuzz_keyblend --keyblend BIN --dir DIR [--mode models|args|"
                        "truncate] [--seed S] [--count N | --seconds T] [--only I]\n");
        exit(2);
    }
    return o;
}

}  // namespace

int main(int argc, char **argv)
{
    Options o = parse(argc, argv);
    fs::path work = fs::absolute(o.dir) / "input";
    auto start = std::chrono::steady_clock::now();
    std::map<int, long> codes;
    long inputs = 0, findings = 0;
    long total = o.mode == "truncate" ? LONG_MAX : o.count;  // the sweep sets its own
    for (long i = o.only >= 0 ? o.only : 0;; i++) {
        double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (o.only >= 0 ? i > o.only : o.seconds > 0 ? elapsed >= o.seconds : i >= total)
            break;
        fs::remove_all(work);
        fs::create_directories(work);
        Rng rng{o.seed * 0x100000001B3ull ^ (uint64_t)i};
        std::vector<std::string> args;
        if (o.mode == "truncate")
            args = truncInput(work, i, &total);
        else if (o.mode == "args")
            args = argInput(work, rng);
        else
            args = modelInput(work, rng);
        args.insert(args.begin(), o.keyblend);
        // Leak checking triples the cost of a run, so only every eighth
        // input has it; the sanitizers abort at once on any other finding.
        std::string asan = "ASAN_OPTIONS=abort_on_error=1:detect_leaks=";
        asan += i % 8 == 0 ? "1" : "0";
        Result r = run(work, args, {asan, "UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1"},
                       o.limitMs);
        inputs++;
        codes[r.code >= 1000 ? 1000 - r.code : r.code]++;
        std::string why = fault(r);
        if (why.empty())
            continue;
        findings++;
        fprintf(stderr, "FINDING %s: --mode %s --seed %llu --only %ld\n  cmd:", why.c_str(),
                o.mode.c_str(), (unsigned long long)o.seed, i);
        for (const std::string &a : args)
            fprintf(stderr, " %s", a.size() > 80 ? (a.substr(0, 80) + "...").c_str() : a.c_str());
        fprintf(stderr, "\n%s\n", r.err.substr(0, 4000).c_str());
        if (!o.keep.empty())
            fs::copy(work, fs::path(o.keep) / (o.mode + "-" + std::to_string(o.seed) + "-" +
                                               std::to_string(i)),
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    fs::remove_all(work);
    printf("%s seed %llu: %ld inputs, %ld findings; exit statuses:", o.mode.c_str(),
           (unsigned long long)o.seed, inputs, findings);
    for (auto &[code, n] : codes)
        printf(" %s%d:%ld", code < 0 ? "sig" : "", code < 0 ? -code : code, n);
    printf("\n");
    return findings ? 1 : 0;
}
