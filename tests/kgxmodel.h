// kgxmodel.h -- KGX models built in memory for the end-to-end tests, and a
// runner that executes keyblend on them in a scratch directory
#ifndef KGXMODEL_H
#define KGXMODEL_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <array>
#include <filesystem>
#include <fstream>

extern char **environ;

namespace kgx {
namespace fs = std::filesystem;

using Elem = std::array<int16_t, 4>;  // a vertex or a normal
struct Prim { uint32_t header; std::string packet; };  // header: mode << 24 | words << 8 | ...
struct Obj { std::vector<Elem> verts{}, norms{}; std::vector<Prim> prims{}; uint32_t scale = 1; };
struct Model { std::vector<Obj> objs{}; uint32_t id = 0x41, flags = 0; };
using Files = std::map<std::string, std::string>;  // name -> bytes (or hex)

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
    for (unsigned char c : bytes) {
        snprintf(pair, sizeof pair, " %02x", c);
        text += pair;
    }
    return text.empty() ? text : text.substr(1);
}

inline std::string le32(uint32_t v)
{
    return {(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)};
}
inline std::string setWord(std::string s, size_t at, uint32_t v) { return s.replace(at, 4, le32(v)); }

// A primitive of the mode whose packet is the given hex bytes; other holds
// header bits 0-7 and 16-23, which only take part in the header comparison.
inline Prim prim(uint32_t mode, std::string_view packetHex, uint32_t other = 0)
{
    std::string packet = unhex(packetHex);
    return {mode << 24 | (uint32_t)(packet.size() / 4) << 8 | other, packet};
}

// The model file: header, object table, then each object's vertices,
// normals and primitives, with every top counted from the object table.
inline std::string bytes(const Model &m)
{
    std::string head = le32(m.id) + le32(m.flags) + le32((uint32_t)m.objs.size()), body;
    const size_t table = 28 * m.objs.size();
    auto top = [&](size_t n) { head += le32((uint32_t)(table + body.size())) + le32((uint32_t)n); };
    for (const Obj &o : m.objs) {
        for (const std::vector<Elem> *elems : {&o.verts, &o.norms}) {
            top(elems->size());
            for (const Elem &e : *elems)
                for (int16_t x : e)
                    body += {(char)x, (char)((uint16_t)x >> 8)};
        }
        top(o.prims.size());
        for (const Prim &p : o.prims)
            body += le32(p.header) + p.packet;
        head += le32(o.scale);
    }
    return head + body;
}

template <class F>
Model edit(Model m, F change) { change(m); return m; }
inline Files withFiles(Files a, const Files &b) { a.insert(b.begin(), b.end()); return a; }
inline std::string repeat(const std::string &s, int n) { return n > 0 ? s + repeat(s, n - 1) : ""; }
inline std::string slurp(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Result { int code; std::string out, err; };  // code: exit status, or 1000 + signal

// Runs keyblend in dir with the words as they are (no shell in between);
// its streams go to files beside dir.
inline Result run(const fs::path &dir, const std::vector<std::string> &words)
{
    std::vector<char *> argv{const_cast<char *>(KEYBLEND_BIN)};
    for (const std::string &w : words)
        argv.push_back(const_cast<char *>(w.c_str()));
    argv.push_back(nullptr);
    const std::string out = dir.parent_path() / "stdout", err = dir.parent_path() / "stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    pid_t pid;
    int status = 0;
    int rc = posix_spawn(&pid, KEYBLEND_BIN, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0 || waitpid(pid, &status, 0) != pid)
        throw std::runtime_error("cannot run " KEYBLEND_BIN);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    return {code, slurp(out), slurp(err)};
}

// One run: the input files, the words, and everything it must leave behind.
struct Case {
    std::string name{};
    Files in{};  // name -> bytes
    std::vector<std::string> args{};
    int code = 0;
    std::string out{};
    std::string err{};  // the error stream after its first line, the banner
    Files want{};       // name -> hex: every file the run creates
};
inline void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }
inline std::string caseName(const ::testing::TestParamInfo<Case> &info) { return info.param.name; }

// Runs the case in a fresh scratch directory and checks, in this order, the
// exit code, standard output, the error stream, each output file byte for
// byte, and that no other file appeared.  The run works in the directory's
// "trash"; the directory is removed when the case passed and kept, its path
// printed, when it failed, so that the files can be looked at.
inline void check(const Case &c)
{
    char root[] = "/tmp/keyblend-e2e-XXXXXX";
    ASSERT_TRUE(mkdtemp(root));
    const fs::path dir = fs::path(root) / "trash";
    fs::create_directory(dir);
    std::set<std::string> names, found;
    for (const auto &[name, content] : c.in) {
        std::ofstream(dir / name, std::ios::binary) << content;
        names.insert(name);
    }
    Result r = run(dir, c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), c.err);
    for (const auto &[name, want] : c.want) {
        names.insert(name);
        EXPECT_EQ(hex(slurp(dir / name)), hex(unhex(want))) << name;
    }
    for (const auto &e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            found.insert(fs::relative(e.path(), dir).string());
    EXPECT_EQ(found, names);
    if (::testing::Test::HasFailure())
        fprintf(stderr, "scratch directory kept: %s\n", root);
    else
        fs::remove_all(root);
}

// The warning for an object in which nothing of the kind differs.
inline std::string same(std::string what, std::string var, std::string base = "base.kgx")
{
    return "WARNING!: No " + what + " differs between \"" + base + "\" and \"" + var + ".\"\n";
}
// The record of object k in which nothing differs.
inline std::string none(int k) { return "0" + std::to_string(k) + "000000 00000000 00000000"; }

}  // namespace kgx

#endif
