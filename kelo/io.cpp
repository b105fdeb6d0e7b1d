// io.cpp -- kelo's inputs (read whole), its outputs (written beside the
// target and renamed into place) and the standard streams
#include "kelo.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

// Inputs are opened and read with plain POSIX calls, which return their
// failures, rather than through the support library's file handle: the
// handle reports its own failures in keyblend's words and ends the process,
// even from the path canonicaliser behind every open (a name such as
// /../d.vdf).  The library gives only the fallback names, from mkFileName0,
// which builds text and cannot fail.

// Opens name for reading as written, then under each name that the list's
// extensions make of it, and returns the descriptor, or -1 when none opens.
// opened is the name tried last: the one that opened.
static int openMatching(const std::string &name, const char *const *list, std::string &opened)
{
    opened = name;
    int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    for (size_t i = 0; fd < 0 && list && list[i]; i++) {
        opened.assign(mkFileNameRoom(name.c_str(), list[i], list) - 1, '\0');
        mkFileName0(name.c_str(), list[i], list, opened.data());
        fd = open(opened.c_str(), O_RDONLY | O_CLOEXEC);
    }
    return fd;
}

// Reads n bytes, going on after short reads, and returns how many were read:
// fewer at the end of the file, or on an error, which sets failed.
static size_t readAll(int fd, unsigned char *p, size_t n, bool &failed)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(fd, p + got, n - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            failed = r < 0;
            break;
        }
        got += (size_t)r;
    }
    return got;
}

namespace {

// An open input, closed when this goes out of scope.
struct InputDescriptor {
    int fd;
    ~InputDescriptor()
    {
        if (fd >= 0)
            close(fd);
    }
};

}  // namespace

/* The files the command reads, as the system identifies them */

namespace {

struct InputFile {
    dev_t dev;
    ino_t ino;
    std::string name;
};
std::vector<InputFile> inputsRead;
bool noting = false;

}  // namespace

InputsNoted::InputsNoted() { noting = true; }

InputsNoted::~InputsNoted()
{
    noting = false;
    inputsRead.clear();
}

void noteInput(const struct stat &st, const std::string &name)
{
    if (noting)
        inputsRead.push_back({st.st_dev, st.st_ino, name});
}

// KELO_OVER_INPUT when target names a file the command reads: the same
// device and inode, by whatever path, link or hard link.  A target that
// does not exist yet is none: every input is read before anything is
// written.
static Problem notAnInput(const std::string &target)
{
    struct stat st;
    if (stat(target.c_str(), &st) != 0)
        return {};
    for (const InputFile &in : inputsRead)
        if (in.dev == st.st_dev && in.ino == st.st_ino)
            return problemIn(KELO_OVER_INPUT, target,
                             "is the same file as the input " + in.name + ": nothing written");
    return {};
}

Problem readInput(const std::string &name, const char *const *list, Input &in)
{
    InputDescriptor input{openMatching(name, list, in.name)};
    if (input.fd < 0)
        return problemIn(KELO_NO_OPEN, name, "cannot open");
    struct stat st;
    if (fstat(input.fd, &st) != 0 || st.st_size >= INT32_MAX)
        return problemIn(KELO_READ, in.name, "size unknown, or 2 GiB or more");
    noteInput(st, in.name);
    in.bytes.resize((size_t)st.st_size);
    bool failed = false;
    size_t got = readAll(input.fd, in.bytes.data(), in.bytes.size(), failed);
    if (got < in.bytes.size())
        return problemAt(failed ? KELO_READ : KELO_SHORT, in.name, (int64_t)got,
                         failed ? "read error" : "the file ended before its size");
    return {};
}

// Writes all bytes to the descriptor, going on after short writes.
static bool writeAll(int fd, const unsigned char *p, size_t n)
{
    while (n > 0) {
        ssize_t put = write(fd, p, n);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        p += put;
        n -= (size_t)put;
    }
    return true;
}

static Problem writeFailed(const std::string &target, const char *step)
{
    return problemIn(KELO_WRITE, target, format("cannot %s: %s", step, strerror(errno)));
}

// The permissions the written file gets: those of the file it replaces, or
// what creating it would give.
static mode_t modeFor(const struct stat *old)
{
    if (old)
        return old->st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

namespace {

// One output on its way.  A regular target gets a temporary file beside it,
// written whole and closed, and removed when this goes out of scope unless
// it was renamed into place.  A target that is not a regular file (a device,
// a pipe, a terminal) cannot be replaced by renaming: it is opened, and
// written as it is.
struct Staged {
    std::string target, path, temporary;  // path: the file the target names
    int fd = -1;
    Staged() = default;
    Staged(const Staged &) = delete;
    Staged &operator=(const Staged &) = delete;
    ~Staged()
    {
        if (fd >= 0)
            close(fd);
        if (!temporary.empty())
            unlink(temporary.c_str());
    }
};

}  // namespace

// Writes the bytes to a temporary beside the target, or opens a target that
// is not a regular file.
static Problem stage(const std::string &target, const unsigned char *bytes, size_t size, Staged &s)
{
    s.target = target;
    struct stat st;
    bool exists = stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        s.fd = open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        return s.fd < 0 ? writeFailed(target, "open") : Problem{};
    }
    if (exists && access(target.c_str(), W_OK) != 0)
        return writeFailed(target, "write over it");
    // A symbolic link stays a link: the file it names is replaced.
    s.path = target;
    if (exists) {
        char *real = realpath(target.c_str(), nullptr);
        if (!real)
            return writeFailed(target, "resolve its name");
        s.path = real;
        free(real);
    }
    size_t slash = s.path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : s.path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? s.path : s.path.substr(slash + 1);
    std::string pattern = dir + "." + base + ".XXXXXX";
    int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return writeFailed(target, "create a temporary file beside it");
    s.temporary = pattern;
    s.fd = fd;
    if (fchmod(fd, modeFor(exists ? &st : nullptr)) != 0)
        return writeFailed(target, "set its permissions");
    if (!writeAll(fd, bytes, size))
        return writeFailed(target, "write");
    if (fsync(fd) != 0)
        return writeFailed(target, "flush");
    s.fd = -1;
    if (close(fd) != 0)
        return writeFailed(target, "close");
    return {};
}

// Renames the temporary into place, or writes the target opened in place.
static Problem commit(Staged &s, const unsigned char *bytes, size_t size)
{
    if (s.temporary.empty()) {
        if (!writeAll(s.fd, bytes, size))
            return writeFailed(s.target, "write");
        int fd = s.fd;
        s.fd = -1;
        return close(fd) != 0 ? writeFailed(s.target, "close") : Problem{};
    }
    if (rename(s.temporary.c_str(), s.path.c_str()) != 0)
        return writeFailed(s.target, "rename the temporary file into place");
    s.temporary.clear();
    return {};
}

Problem writeOutput(const std::string &target, const void *data, size_t size)
{
    if (Problem p = notAnInput(target))
        return p;
    Staged s;
    const unsigned char *bytes = (const unsigned char *)data;
    if (Problem p = stage(target, bytes, size, s))
        return p;
    return commit(s, bytes, size);
}

Problem writeOutputs(const std::vector<OutputFile> &files)
{
    std::vector<std::filesystem::path> seen;
    for (const OutputFile &f : files) {
        std::error_code ec;
        std::filesystem::path name = std::filesystem::weakly_canonical(f.target, ec);
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            return usageProblem(format("two outputs would be written to %s", f.target.c_str()));
        seen.push_back(name);
        if (Problem p = notAnInput(f.target))
            return p;
    }
    std::vector<Staged> staged(files.size());
    for (size_t i = 0; i < files.size(); i++)
        if (Problem p =
                stage(files[i].target, files[i].bytes.data(), files[i].bytes.size(), staged[i]))
            return p;
    for (size_t i = 0; i < files.size(); i++)
        if (Problem p = commit(staged[i], files[i].bytes.data(), files[i].bytes.size()))
            return p;
    return {};
}

Problem finishStandardOutput()
{
    if (fflush(stdout) != 0 || ferror(stdout))
        return problemIn(KELO_WRITE, "standard output",
                         format("cannot write: %s", strerror(errno)));
    return {};
}
