// put1ary.cpp -- write raw bytes through a FileHandle
#include "klib.h"

// Writes n bytes unconverted with one block write, flushes and returns the
// bytes written.  A short write ends the process with 37 at the position
// before the call (with WRIT_ERR suppressed, pos grows by what was written
// and that count is returned).  For n < 1 it only flushes and returns 0.
int32_t putByteArray(const unsigned char *bytes, int32_t n, FileHandle *fh)
{
    if (n < 1) {
        (void)fflush(fh->fp);
        return 0;
    }
    size_t put = fwrite(bytes, 1, (size_t)n, fh->fp);
    (void)fflush(fh->fp);
    if (put < (size_t)n)
        errReport(WRIT_ERR, fileCode + 7, fh->name, (long)fh->pos);
    posAdvance(fh, (uint32_t)put);
    return (int32_t)put;
}
