// kit.cpp -- test models built into bytes by kgxBuild, byte helpers and the
// runner for the built tools
#include "kit/kit.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace kit {

Prim prim(uint32_t mode, const std::string &packet, uint32_t other)
{
    return {primHeader(mode, (uint32_t)(packet.size() / 4), other), packet};
}

std::string bytes(const Model &m)
{
    std::vector<KgxObjectArrays> objects;
    for (const Obj &o : m.objs) {
        KgxObjectArrays &a = objects.emplace_back();
        for (const Elem &e : o.verts)
            a.vert.insert(a.vert.end(), e.begin(), e.end());
        for (const Elem &e : o.norms)
            a.norm.insert(a.norm.end(), e.begin(), e.end());
        for (const Prim &p : o.prims) {
            a.primHeaders.push_back(p.header);
            a.packets.insert(a.packets.end(), p.packet.begin(), p.packet.end());
        }
        a.scale = o.scale;
    }
    std::vector<unsigned char> image = kgxBuild(m.flags, objects);
    return {image.begin(), image.end()};
}

uint32_t word(const std::string &s, size_t at)
{
    if (at + 4 > s.size())
        throw std::out_of_range("kit::word: no word at " + std::to_string(at));
    return loadLE32((const unsigned char *)s.data() + at);
}

std::string setWord(std::string s, size_t at, uint32_t v)
{
    unsigned char le[4];
    storeLE32(le, v);
    for (size_t i = 0; i < 4 && at + i < s.size(); i++)
        s[at + i] = (char)le[i];
    return s;
}

std::string le32(const std::vector<uint32_t> &words)
{
    std::string s(4 * words.size(), '\0');
    for (size_t i = 0; i < words.size(); i++)
        storeLE32((unsigned char *)&s[4 * i], words[i]);
    return s;
}

std::string unhex(std::string_view text)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += text[i] == ' ' ? 1 : 2)
        if (text[i] != ' ')
            bytes += (char)std::stoi(std::string(text.substr(i, 2)), nullptr, 16);
    return bytes;
}

std::string hex(std::string_view bytes)
{
    std::string text;
    for (unsigned char c : bytes)
        text += (text.empty() ? "" : " ") +
                std::string{"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    return text;
}

std::string repeat(const std::string &s, int n)
{
    std::string all;
    for (; n > 0; n--)
        all += s;
    return all;
}

std::string slurp(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// posix_spawn, not fork: the parent may run under the sanitizers, whose page
// tables fork would copy.
Result run(const fs::path &dir, const std::vector<std::string> &argv,
           const std::vector<std::string> &env, int limitMs)
{
    std::vector<std::string> envs = env;
    for (char **e = environ; *e; e++)
        if (std::none_of(env.begin(), env.end(),
                         [&](auto &kv) { return !strncmp(*e, kv.c_str(), kv.find('=') + 1); }))
            envs.push_back(*e);
    auto pointers = [](const std::vector<std::string> &strings) {  // C forms, null-ended
        std::vector<char *> all;
        for (const std::string &s : strings)
            all.push_back(const_cast<char *>(s.c_str()));
        return all.push_back(nullptr), all;
    };
    std::vector<char *> args = pointers(argv), envp = pointers(envs);
    const fs::path out = dir / ".stdout", err = dir / ".stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    // Every signal at its default and none blocked, whatever this process
    // ignores or blocks: a tool is tested as a shell would start it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all), sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid;
    int status = 0, rc = posix_spawn(&pid, args[0], &fa, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        throw std::runtime_error("cannot run " + argv[0]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (pid_t got; (got = waitpid(pid, &status, WNOHANG)) != pid;) {
        if (got < 0 && errno != EINTR)
            throw std::runtime_error("lost " + argv[0]);
        if (std::chrono::steady_clock::now() > deadline)
            kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    Result r{WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status), slurp(out),
             slurp(err)};
    fs::remove(out), fs::remove(err);
    return r;
}

std::vector<std::string> words(const std::string &line)
{
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), {}};
}

Result sh(const fs::path &dir, const std::string &line) { return run(dir, words(line)); }

std::vector<std::pair<std::string, std::string>> snapshot(const fs::path &dir)
{
    std::vector<std::pair<std::string, std::string>> all;
    for (auto &e : fs::recursive_directory_iterator(dir))
        all.emplace_back(e.path().lexically_relative(dir).string(),
                         e.is_regular_file() && !e.is_symlink() ? slurp(e.path()) : "");
    std::sort(all.begin(), all.end());
    return all;
}

int replayCorpus(int argc, char **argv, int (*target)(const uint8_t *, size_t))
{
    long n = 0;
    for (int i = 1; i < argc; i++)
        for (const auto &entry : fs::directory_iterator(argv[i])) {
            std::string bytes = slurp(entry.path());
            target((const uint8_t *)bytes.data(), bytes.size()), n++;
        }
    printf("replayed %ld inputs\n", n);
    return n ? 0 : 1;
}

}  // namespace kit
