// put2ary.cpp -- write an array of little-endian 16-bit values through a FileHandle
#include "klib.h"

// Writes the n values, each low byte first, flushes once and returns 2n.
// This routine checks none of its writes and never reports: a failed write
// goes unnoticed.  For n < 1 it only flushes and returns 0.  Unlocked
// stream calls as in put4Bytes.
int32_t put2ByteArray(const int16_t *values, int32_t n, FileHandle *fh)
{
    if (n < 1) {
        (void)fflush_unlocked(fh->fp);
        return 0;
    }
    for (int32_t i = 0; i < n; i++) {
        uint16_t bits = (uint16_t)values[i];
        (void)putc_unlocked(bits & 0xFF, fh->fp);
        (void)putc_unlocked(bits >> 8, fh->fp);
    }
    (void)fflush_unlocked(fh->fp);
    posAdvance(fh, (uint32_t)(2 * n));
    return 2 * n;
}
