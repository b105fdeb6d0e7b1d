// get1ary.cpp -- read raw bytes through a FileHandle
#include "klib.h"

// Reads n bytes with one block read, unconverted, and returns how many were
// read.  A short read ends the process with GET1_READ_CODE on a stream error,
// else GET1_EOF_CODE at end of file, both at the position before the read;
// pos then grows by the bytes read.  fread_unlocked and the indicator tests
// below are the glibc forms without the stream lock, which a single-threaded
// program never needs.
int32_t getByteArray(unsigned char *bytes, int32_t n, FileHandle *fh)
{
    if (n < 0)
        n = 0;
    size_t got = fread_unlocked(bytes, 1, (size_t)n, fh->fp);
    if (got < (size_t)n) {
        if (ferror_unlocked(fh->fp))
            errReport(READ_ERR, GET1_READ_CODE, fh->name, (long)fh->pos);
        else if (feof_unlocked(fh->fp))
            errReport(EOF_ERR, GET1_EOF_CODE, fh->name, (long)fh->pos);
    }
    posAdvance(fh, (uint32_t)got);
    return (int32_t)got;
}
