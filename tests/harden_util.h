// harden_util.h -- what the robustness tests and the fuzz driver share: a
// KGX model builder that also records where each field lies, a child-process
// runner with a time limit, and small file helpers.
#ifndef HARDEN_UTIL_H
#define HARDEN_UTIL_H

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace harden {

namespace fs = std::filesystem;

// Every status keyblend may end with; anything else is a fault.
inline const std::set<int> &documentedCodes()
{
    static const std::set<int> codes = {0,  1,  2,  3,  11, 12, 13, 30, 31, 32, 35,
                                        36, 40, 41, 42, 43, 44, 45, 51, 52, 232};
    return codes;
}

/* Models */

struct Prim {
    uint32_t header;               // packet length in bits 8-15, mode in 24-31
    std::vector<uint8_t> packet;   // header's packet length x 4 bytes
};
struct Obj {
    std::vector<std::array<int16_t, 4>> verts, norms;
    std::vector<Prim> prims;
    uint32_t scale = 1;
};

inline uint32_t primHeader(uint32_t mode, uint32_t words, uint32_t low = 0)
{
    return mode << 24 | (words & 0xFF) << 8 | (low & 0xFF);
}

// Where the fields of a built model lie, for mutations that aim at them.
struct Layout {
    std::vector<size_t> tableWords;  // every word of every object entry
    std::vector<size_t> primHeaders; // every primitive header
};

inline void putLe(std::string &out, uint32_t v, int bytes = 4)
{
    for (int i = 0; i < bytes; i++)
        out += (char)(v >> (8 * i) & 0xFF);
}

inline void setLe(std::string &out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4 && at + i < out.size(); i++)
        out[at + i] = (char)(v >> (8 * i) & 0xFF);
}

// The model's bytes: header, object table, then each object's vertices,
// normals and primitives in turn.  Tops count from the object table.
inline std::string kgx(const std::vector<Obj> &objs, uint32_t flags = 0, Layout *layout = nullptr)
{
    std::string out;
    putLe(out, 0x41);
    putLe(out, flags);
    putLe(out, (uint32_t)objs.size());
    size_t data = 28 * objs.size();
    std::string body;
    for (const Obj &o : objs) {
        uint32_t vtop = (uint32_t)(data + body.size());
        for (auto &v : o.verts)
            for (int16_t x : v)
                putLe(body, (uint16_t)x, 2);
        uint32_t ntop = (uint32_t)(data + body.size());
        for (auto &v : o.norms)
            for (int16_t x : v)
                putLe(body, (uint16_t)x, 2);
        uint32_t ptop = (uint32_t)(data + body.size());
        for (const Prim &p : o.prims) {
            if (layout)
                layout->primHeaders.push_back(12 + data + body.size());
            putLe(body, p.header);
            body.append(p.packet.begin(), p.packet.end());
        }
        if (layout)
            for (int w = 0; w < 7; w++)
                layout->tableWords.push_back(out.size() + 4 * w);
        for (uint32_t w : {vtop, (uint32_t)o.verts.size(), ntop, (uint32_t)o.norms.size(), ptop,
                           (uint32_t)o.prims.size(), o.scale})
            putLe(out, w);
    }
    return out + body;
}

/* Files */

inline void writeFile(const fs::path &p, const std::string &bytes)
{
    std::ofstream(p, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
}

inline std::string readFile(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

/* Running keyblend */

struct Result {
    int code = -1;        // exit status, or -1 when ended by a signal
    int signal = 0;       // the signal that ended it
    bool timedOut = false;
    long maxRssKb = 0;
    double seconds = 0;
    std::string out, err;
};

// Runs argv[0] (a path) with the arguments in dir, standard output and
// error into files there (named so that no test input can collide with
// them), and kills it when it runs longer than limitMs.  env entries are
// added to the child's environment.  With uid set, the child gives up root
// for that user (so that directory permissions hold for it) once its output
// files are open.  A child that cannot be started counts as a signal.
inline Result run(const fs::path &dir, const std::vector<std::string> &argv, int limitMs = 20000,
                  const std::vector<std::string> &env = {}, int uid = -1)
{
    Result r;
    fs::path outPath = dir / ".stdout", errPath = dir / ".stderr";
    auto start = std::chrono::steady_clock::now();
    std::vector<char *> args, envp;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (char **e = environ; *e; e++) {
        bool replaced = false;  // by an entry of env with the same name
        for (const std::string &kv : env)
            replaced |= strncmp(*e, kv.c_str(), kv.find('=') + 1) == 0;
        if (!replaced)
            envp.push_back(*e);
    }
    for (const std::string &kv : env)
        envp.push_back(const_cast<char *>(kv.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (uid < 0) {
        // posix_spawn does not copy the parent's page tables as fork does,
        // which matters when the parent runs under the sanitizers.
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
        if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), envp.data()) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&fa);
    } else if ((pid = fork()) == 0) {
        int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(dir.c_str()) != 0 || o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0)
            _exit(127);
        if (setgid((gid_t)uid) != 0 || setuid((uid_t)uid) != 0)
            _exit(127);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    if (pid < 0) {
        r.signal = -1;
        return r;
    }
    int status = 0;
    struct rusage ru = {};
    for (;;) {
        pid_t got = wait4(pid, &status, WNOHANG, &ru);
        if (got == pid)
            break;
        if (got < 0 && errno != EINTR)
            break;
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
        if (ms > limitMs && !r.timedOut) {
            r.timedOut = true;
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.maxRssKb = ru.ru_maxrss;
    if (WIFEXITED(status))
        r.code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        r.signal = WTERMSIG(status);
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return r;
}

// What makes a run a fault whatever its inputs: a signal, a time-out, a
// sanitizer report or an exit status keyblend does not document.  Returns
// the reason, or an empty string for a clean run.
inline std::string fault(const Result &r)
{
    if (r.timedOut)
        return "hang";
    if (r.signal)
        return "signal " + std::to_string(r.signal);
    if (r.err.find("Sanitizer") != std::string::npos ||
        r.err.find("runtime error:") != std::string::npos)
        return "sanitizer report";
    if (!documentedCodes().count(r.code))
        return "undocumented exit code " + std::to_string(r.code);
    return "";
}

// A fresh scratch directory that everyone may read, for one test.
inline fs::path scratchDir()
{
    std::string tmpl = (fs::temp_directory_path() / "keyblend-harden-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        return {};
    fs::permissions(tmpl, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    return tmpl;
}

// Everything the directory holds, by name, with each file's bytes.
inline std::vector<std::pair<std::string, std::string>> snapshot(const fs::path &dir)
{
    std::vector<std::pair<std::string, std::string>> all;
    for (auto &e : fs::recursive_directory_iterator(dir))
        all.emplace_back(fs::relative(e.path(), dir).string(),
                         e.is_regular_file() && !e.is_symlink() ? readFile(e.path()) : "");
    std::sort(all.begin(), all.end());
    return all;
}

// One object of n vertices; vertex k is (k, k, k, bump).
inline std::string simpleModel(uint32_t n, int16_t bump = 0)
{
    Obj o;
    for (uint32_t k = 0; k < n; k++)
        o.verts.push_back({(int16_t)k, (int16_t)k, (int16_t)k, bump});
    o.norms = {{0, 0, 1, 0}};
    o.prims = {{primHeader(4, 3), std::vector<uint8_t>(12, (uint8_t)bump)}};
    return kgx({o});
}

inline uint32_t le32(const std::string &bytes, size_t at = 0)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--)
        v = v << 8 | (uint8_t)bytes.at(at + i);
    return v;
}

}  // namespace harden

#endif
