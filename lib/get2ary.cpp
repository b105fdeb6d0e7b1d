// get2ary.cpp -- read an array of little-endian 16-bit values through a
// FileHandle
#include "klib.h"

#include <bit>

// Reads n values with one block read and returns the bytes read (2 per whole
// value).  A short read ends the process with GET2_READ_CODE on a stream
// error, else GET2_EOF_CODE at end of file, both at the position before the
// read; pos then grows by the bytes read.  Slots past a short read hold
// nothing meaningful.
//
// The engine calls this twice per element, so the per-call cost is the cost
// of a comparison: fread_unlocked (glibc) is fread without the stream lock,
// which a single-threaded program never needs, and the assembly into host
// values is skipped where the host's byte order already is the file's.
int32_t get2ByteArray(int16_t *values, int32_t n, FileHandle *fh)
{
    if (n < 0)
        n = 0;
    size_t got = fread_unlocked(values, 2, (size_t)n, fh->fp);
    if constexpr (std::endian::native != std::endian::little) {
        // Assemble each value from its two bytes in place.
        const unsigned char *bytes = (const unsigned char *)values;
        for (size_t i = 0; i < (size_t)n; i++)
            values[i] = (int16_t)(uint16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);
    }
    if (got < (size_t)n) {
        if (ferror_unlocked(fh->fp))
            errReport(READ_ERR, GET2_READ_CODE, fh->name, (long)fh->pos);
        else if (feof_unlocked(fh->fp))
            errReport(EOF_ERR, GET2_EOF_CODE, fh->name, (long)fh->pos);
    }
    posAdvance(fh, (uint32_t)(2 * got));
    return (int32_t)(2 * got);
}
