// testkit.h -- what the tests and the fuzz driver share: KGX models built in
// memory, hex helpers, scratch directories and a runner for the built tools
#ifndef TESTKIT_H
#define TESTKIT_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <sstream>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace kit {
namespace fs = std::filesystem;

using Elem = std::array<int16_t, 4>;                  // a vertex or a normal
struct Prim { uint32_t header; std::string packet; };  // header: mode << 24 | words << 8 | other
struct Obj { std::vector<Elem> verts{}, norms{}; std::vector<Prim> prims{}; uint32_t scale = 1; };
struct Model { std::vector<Obj> objs{}; uint32_t flags = 0; };
// Where the fields of a built model lie, for damage aimed at them.
struct Layout { std::vector<size_t> tableWords{}, primHeaders{}; };

inline std::string le32(uint32_t v) { return {(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)}; }
inline uint32_t word(const std::string &s, size_t at = 0)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--)
        v = v << 8 | (uint8_t)s.at(at + (size_t)i);
    return v;
}
// Sets the word at at, as far as the bytes reach.
inline std::string setWord(std::string s, size_t at, uint32_t v)
{
    for (size_t i = 0; i < 4 && at + i < s.size(); i++)
        s[at + i] = (char)(v >> (8 * i));
    return s;
}

// Bytes from hex text, where blanks between the pairs show the layout.
inline std::string unhex(std::string_view text)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += text[i] == ' ' ? 1 : 2)
        if (text[i] != ' ')
            bytes += (char)std::stoi(std::string(text.substr(i, 2)), nullptr, 16);
    return bytes;
}
// One pair of hex digits per byte, so that a mismatch shows its offset.
inline std::string hex(std::string_view bytes)
{
    std::string text;
    char pair[4];
    for (unsigned char c : bytes)
        text += (snprintf(pair, sizeof pair, " %02x", c), pair);
    return text.empty() ? text : text.substr(1);
}

// A primitive of the mode with the packet's bytes; other holds header bits
// 0-7 and 16-23, which only take part in the header comparison.
inline Prim prim(uint32_t mode, const std::string &packet, uint32_t other = 0)
{
    return {mode << 24 | (uint32_t)(packet.size() / 4) << 8 | other, packet};
}

// The model file: header, object table, then each object's vertices,
// normals and primitives, with every top counted from the object table.
inline std::string bytes(const Model &m, Layout *layout = nullptr)
{
    std::string head = le32(0x41) + le32(m.flags) + le32((uint32_t)m.objs.size()), body;
    const size_t table = 28 * m.objs.size();
    auto top = [&](size_t n) { head += le32((uint32_t)(table + body.size())) + le32((uint32_t)n); };
    for (const Obj &o : m.objs) {
        for (size_t w = 0; layout && w < 7; w++)
            layout->tableWords.push_back(head.size() + 4 * w);
        for (const std::vector<Elem> *elems : {&o.verts, &o.norms}) {
            top(elems->size());
            for (const Elem &e : *elems)
                for (int16_t x : e)
                    body += {(char)x, (char)((uint16_t)x >> 8)};
        }
        top(o.prims.size());
        for (const Prim &p : o.prims) {
            if (layout)
                layout->primHeaders.push_back(12 + table + body.size());
            body += le32(p.header) + p.packet;
        }
        head += le32(o.scale);
    }
    return head + body;
}

template <class F>
Model edit(Model m, F change) { change(m); return m; }
inline std::string repeat(const std::string &s, int n) { return n > 0 ? s + repeat(s, n - 1) : ""; }
inline std::string slurp(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
inline void spit(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}
// Words split at blanks: "dump --json t.vdf".
inline std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> all;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        all.push_back(w);
    return all;
}

#ifdef KELO_BIN
const std::string KELO = KELO_BIN, KEYBLEND = KEYBLEND_BIN;
#endif

// Every file and directory below dir with each file's bytes.
inline std::vector<std::pair<std::string, std::string>> snapshot(const fs::path &dir)
{
    std::vector<std::pair<std::string, std::string>> all;
    for (auto &e : fs::recursive_directory_iterator(dir))
        all.emplace_back(fs::relative(e.path(), dir).string(),
                         e.is_regular_file() && !e.is_symlink() ? slurp(e.path()) : "");
    std::sort(all.begin(), all.end());
    return all;
}

// A fresh directory that everyone may enter, in memory where there is such
// a place (the tools flush every value they write).  It is removed at the
// end of its scope unless the running test has failed; then its path is
// printed so that its files can be looked at.
struct Scratch {
    fs::path dir;
    Scratch()
    {
        std::string t = access("/dev/shm", W_OK) == 0 ? "/dev/shm/keyblend-XXXXXX" : "/tmp/keyblend-XXXXXX";
        dir = mkdtemp(t.data()) ? t : throw std::runtime_error("mkdtemp");
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    }
    ~Scratch()
    {
        if (::testing::Test::HasFailure())
            fprintf(stderr, "scratch directory kept: %s\n", dir.c_str());
        else
            fs::remove_all(dir);
    }
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
// or add to the environment.  posix_spawn, not fork: the parent may run
// under the sanitizers, whose page tables fork would copy.  A run longer
// than limitMs is killed.
inline Result run(const fs::path &dir, const std::vector<std::string> &argv,
                  const std::vector<std::string> &env = {}, int limitMs = 60000)
{
    std::vector<char *> args, envp;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    for (char **e = environ; *e; e++)
        if (std::none_of(env.begin(), env.end(), [&](auto &kv) { return !strncmp(*e, kv.c_str(), kv.find('=') + 1); }))
            envp.push_back(*e);
    for (const std::string &kv : env)
        envp.push_back(const_cast<char *>(kv.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    const fs::path out = dir / ".stdout", err = dir / ".stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    Result r;
    auto start = std::chrono::steady_clock::now();
    auto since = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    pid_t pid;
    int status = 0, rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        throw std::runtime_error("cannot run " + argv[0]);
    struct rusage ru = {};
    for (pid_t got; (got = wait4(pid, &status, WNOHANG, &ru)) != pid;) {
        if (got < 0 && errno != EINTR)
            throw std::runtime_error("lost " + argv[0]);
        if (!r.timedOut && since() * 1000 > limitMs)
            r.timedOut = kill(pid, SIGKILL) == 0;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    r.seconds = since();
    r.maxRssKb = ru.ru_maxrss;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    r.out = slurp(out), r.err = slurp(err);
    fs::remove(out), fs::remove(err);
    return r;
}

// Runs a command line of words split at blanks.
inline Result sh(const fs::path &dir, const std::string &line) { return run(dir, words(line)); }

}  // namespace kit

#endif
