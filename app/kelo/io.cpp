// io.cpp -- kelo's inputs (read whole through the support library), its
// outputs (written beside the target and renamed into place) and the
// standard streams
#include "kelo.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Problem readInput(const std::string &name, const char *const *list, Input &in)
{
    FileHandle *fh = fileMatchOpen(name.c_str(), list, "r");
    if (!fh)
        return problemIn(KELO_NO_OPEN, name, "cannot open");
    in.name = fh->name;
    struct stat st;
    if (fstat(fileno(fh->fp), &st) != 0 || st.st_size >= INT32_MAX) {
        fileClose(fh);
        return problemIn(KELO_READ, in.name, "size unknown, or 2 GiB or more");
    }
    in.bytes.resize((size_t)st.st_size);
    // The library reports a short read itself and ends the process; with
    // its keys suppressed it returns what it read, and kelo words the
    // problem like every other.
    errPush(EOF_ERR);
    errPush(READ_ERR);
    int32_t got = getByteArray(in.bytes.data(), (int32_t)in.bytes.size(), fh);
    errPop();
    errPop();
    bool failed = ferror(fh->fp) != 0;
    fileClose(fh);
    if ((size_t)got < in.bytes.size())
        return problemAt(failed ? KELO_READ : KELO_SHORT, in.name, got,
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

// A target that is not a regular file (a device, a pipe, a terminal) cannot
// be replaced by renaming; it is opened and written as it is.
static Problem writeInPlace(const std::string &target, const unsigned char *data, size_t size)
{
    int fd = open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return writeFailed(target, "open");
    if (!writeAll(fd, data, size)) {
        Problem p = writeFailed(target, "write");
        close(fd);
        return p;
    }
    if (close(fd) != 0)
        return writeFailed(target, "close");
    return {};
}

// The temporary file beside a target: removed when it goes out of scope
// unless it was renamed into place.
struct Temporary {
    std::string path;
    int fd = -1;
    ~Temporary()
    {
        if (fd >= 0)
            close(fd);
        if (!path.empty())
            unlink(path.c_str());
    }
};

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

Problem writeOutput(const std::string &target, const void *data, size_t size)
{
    const unsigned char *bytes = (const unsigned char *)data;
    struct stat st;
    bool exists = stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        return writeInPlace(target, bytes, size);
    if (exists && access(target.c_str(), W_OK) != 0)
        return writeFailed(target, "write over it");
    // A symbolic link stays a link: the file it names is replaced.
    std::string path = target;
    if (exists) {
        char *real = realpath(target.c_str(), nullptr);
        if (!real)
            return writeFailed(target, "resolve its name");
        path = real;
        free(real);
    }
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    Temporary tmp;
    std::string pattern = dir + "." + base + ".XXXXXX";
    tmp.fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (tmp.fd < 0)
        return writeFailed(target, "create a temporary file beside it");
    tmp.path = pattern;
    if (fchmod(tmp.fd, modeFor(exists ? &st : nullptr)) != 0)
        return writeFailed(target, "set its permissions");
    if (!writeAll(tmp.fd, bytes, size))
        return writeFailed(target, "write");
    if (fsync(tmp.fd) != 0)
        return writeFailed(target, "flush");
    int fd = tmp.fd;
    tmp.fd = -1;
    if (close(fd) != 0)
        return writeFailed(target, "close");
    if (rename(tmp.path.c_str(), path.c_str()) != 0)
        return writeFailed(target, "rename the temporary file into place");
    tmp.path.clear();
    return {};
}

Problem finishStandardOutput()
{
    if (fflush(stdout) != 0 || ferror(stdout))
        return problemIn(KELO_WRITE, "standard output", format("cannot write: %s", strerror(errno)));
    return {};
}

void openStandardDescriptors()
{
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            // The lowest free descriptor is fd itself.
            (void)open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
}
