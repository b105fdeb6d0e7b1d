// run.cpp -- scratch directories and the runner for the built tools
#include "kit/run.h"

#include "kit/model.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace kit {

TempDir::TempDir()
{
    std::string t = access("/dev/shm", W_OK) == 0 ? "/dev/shm/keyblend-XXXXXX" : "/tmp/keyblend-XXXXXX";
    if (!mkdtemp(t.data()))
        throw std::runtime_error("mkdtemp: " + std::string(strerror(errno)));
    dir = t;
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    if (keep)
        fprintf(stderr, "scratch directory kept: %s\n", dir.c_str());
    else
        fs::remove_all(dir, ignored);
}

// The environment with the entries of env in place of those of the same name.
static std::vector<char *> environment(const std::vector<std::string> &env)
{
    std::vector<char *> envp;
    for (char **e = environ; *e; e++)
        if (std::none_of(env.begin(), env.end(),
                         [&](auto &kv) { return !strncmp(*e, kv.c_str(), kv.find('=') + 1); }))
            envp.push_back(*e);
    for (const std::string &kv : env)
        envp.push_back(const_cast<char *>(kv.c_str()));
    envp.push_back(nullptr);
    return envp;
}

// posix_spawn, not fork: the parent may run under the sanitizers, whose page
// tables fork would copy.
Result run(const fs::path &dir, const std::vector<std::string> &argv,
           const std::vector<std::string> &env, int limitMs)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char *> envp = environment(env);
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

std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> all;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        all.push_back(w);
    return all;
}

Result sh(const fs::path &dir, const std::string &line) { return run(dir, words(line)); }

std::vector<std::pair<std::string, std::string>> snapshot(const fs::path &dir)
{
    std::vector<std::pair<std::string, std::string>> all;
    for (auto &e : fs::recursive_directory_iterator(dir))
        all.emplace_back(fs::relative(e.path(), dir).string(),
                         e.is_regular_file() && !e.is_symlink() ? slurp(e.path()) : "");
    std::sort(all.begin(), all.end());
    return all;
}

}  // namespace kit
