// get4.cpp -- read a little-endian 32-bit word through a FileHandle
#include "klib.h"

// Returns the next four bytes as a word, least significant byte first, so the
// value never depends on the host's byte order.  pos grows by 4 whatever
// happens; the stream's own indicators then decide: an error ends the process
// with GET4_READ_CODE, else an end of file with GET4_EOF_CODE, both at the
// position after the four bytes.  A byte that could not be read contributes
// 0xFF.
//
// The _unlocked forms (glibc) do the same without taking the stream lock,
// which a single-threaded program never needs; the byte reads then come
// straight from the stream's buffer.
uint32_t get4Bytes(FileHandle *fh)
{
    uint32_t word = 0;
    for (int shift = 0; shift < 32; shift += 8)
        word |= (uint32_t)(getc_unlocked(fh->fp) & 0xFF) << shift;
    posAdvance(fh, 4);
    if (ferror_unlocked(fh->fp))
        errReport(READ_ERR, GET4_READ_CODE, fh->name, (long)fh->pos);
    else if (feof_unlocked(fh->fp))
        errReport(EOF_ERR, GET4_EOF_CODE, fh->name, (long)fh->pos);
    return word;
}
