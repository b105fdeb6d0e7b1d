// getfull0.cpp -- canonical absolute path, in the caller's buffer
#include "klib.h"

#include <cstring>
#include <unistd.h>

static const char CWD_ERR[] = "Cannot getcwd: \"%s\"\n";
static const char BAD_PATH_ERR[] = "Bad path name: \"%s\"\n";

// Puts the absolute form of path into buffer: path itself when it starts with
// '/', else the working directory, '/' and path.  The working directory is
// asked for in FULL_PATH_SIZE bytes; when it cannot be had in them the
// process ends with CWD_CODE.  Returns false, the buffer emptied, when the joined
// path does not fit in size bytes after all: the working directory may have
// changed since getFullPath measured it.
static bool joinPath(const char *path, char *buffer, int32_t size)
{
    size_t n = strlen(path);
    if (path[0] == '/') {
        memcpy(buffer, path, n + 1);
        return true;
    }
    if (!getcwd(buffer, FULL_PATH_SIZE) || buffer[0] != '/')
        errReport(CWD_ERR, CWD_CODE, path);
    size_t cwd = strlen(buffer);
    if (cwd + 1 + n >= (size_t)size) {
        buffer[0] = '\0';
        return false;
    }
    buffer[cwd] = '/';
    memcpy(buffer + cwd + 1, path, n + 1);
    return true;
}

// Moves *cursor past a run of '/' and then past the component that follows,
// which is returned as start and length.  The component is empty only at
// the end of a path that ends in '/'.
static void nextComponent(const char **cursor, const char **start, size_t *len)
{
    const char *c = *cursor;
    while (*c == '/')
        c++;
    *start = c;
    while (*c && *c != '/')
        c++;
    *len = (size_t)(c - *start);
    *cursor = c;
}

static bool isDot(const char *s, size_t n) { return n == 1 && s[0] == '.'; }

static bool isDotDot(const char *s, size_t n) { return n == 2 && s[0] == '.' && s[1] == '.'; }

// Counts the components of the joined path (never empty: it starts with
// '/') that survive "." and "..", reporting a ".." that finds nothing to
// remove at the moment it is met (BAD_PATH_CODE).
static int32_t keptComponents(const char *joined, const char *path)
{
    int32_t count = 0;
    const char *cursor = joined, *start;
    size_t len;
    do {
        nextComponent(&cursor, &start, &len);
        if (isDotDot(start, len)) {
            if (--count < 0)
                errReport(BAD_PATH_ERR, BAD_PATH_CODE, path);
        } else if (!isDot(start, len)) {
            count++;
        }
    } while (*cursor == '/');
    return count;
}

// Rewrites the joined path in place as "/" and each kept component.  The
// write position never passes the read position, because every kept
// component had at least one '/' in front of it in the joined path, so
// there is no limit on the number or length of components.
static void rebuild(char *buffer)
{
    const char *cursor = buffer, *start;
    char *out = buffer;
    size_t len;
    do {
        nextComponent(&cursor, &start, &len);
        if (isDotDot(start, len)) {
            while (out > buffer && *--out != '/')
                ;
        } else if (!isDot(start, len)) {
            *out++ = '/';
            memmove(out, start, len);
            out += len;
        }
    } while (*cursor == '/');
    *out = '\0';
}

// Writes the canonical absolute path of path into buffer and returns buffer:
// runs of '/' collapse, "." goes, and ".." removes the component before it.
// The work is textual: links are not followed and nothing need exist.  When
// no component is left the joined path stays as it is.  The buffer holds
// size bytes, as many as getFullPath, the one caller, measured for the
// joined path, and at least FULL_PATH_SIZE.  Ends the process with CWD_CODE when
// the working directory cannot be had in FULL_PATH_SIZE bytes (a relative
// path only) and with BAD_PATH_CODE when a ".." climbs above the root; both keys are
// this routine's own, so no caller can suppress them.  Returns null, the
// buffer emptied, when the working directory changed since it was measured
// and the joined path no longer fits.
char *getFullPath0(const char *path, char *buffer, int32_t size)
{
    if (!joinPath(path, buffer, size))
        return nullptr;
    if (keptComponents(buffer, path) > 0)
        rebuild(buffer);
    return buffer;
}
