// fopen.cpp -- open and close a FileHandle
#include "klib.h"

#include <cstdlib>

static const char CLOSE_ERR[] = "Fail to Close File : %s\n";

// Models are read in small pieces, and a stream refills its buffer with one
// read call, so the buffer's size sets the number of read calls.  The default
// is the file system's block size (4 KiB here); a handle opened for reading
// takes a larger buffer from a small fixed pool instead.  The pool is static
// rather than allocated, so a handle still counts as the three allocations
// it always did; a handle opened while every buffer is taken keeps the
// default.
constexpr size_t READ_BUFFER_SIZE = (size_t)64 * 1024;
constexpr int32_t READ_BUFFERS = 4;
static char readBuffer[READ_BUFFERS][READ_BUFFER_SIZE];
static FILE *readBufferOwner[READ_BUFFERS];

// The pool slot whose buffer the stream uses (a free slot for null), or -1.
// fileClose looks it up before closing the stream, as the pointer of a
// closed stream may no longer be used.
static int32_t readBufferSlot(const FILE *fp)
{
    for (int32_t k = 0; k < READ_BUFFERS; k++)
        if (readBufferOwner[k] == fp)
            return k;
    return -1;
}

static void readBufferTake(FILE *fp)
{
    int32_t slot = readBufferSlot(nullptr);
    if (slot >= 0 && setvbuf(fp, readBuffer[slot], _IOFBF, READ_BUFFER_SIZE) == 0)
        readBufferOwner[slot] = fp;
}

// Opens name with the stream mode and returns a new handle owned by the
// caller, with pos 0.  The record counts as FILE_HANDLE_SIZE bytes.  Ends the
// process with HANDLE_ALLOC_CODE when the record cannot be allocated and with
// OPEN_CODE when the stream cannot be opened; with OPEN_ERR suppressed the
// latter returns null, the record already given back.  A suppressed ALC_ERR
// also returns null.
FileHandle *fileOpen(const char *name, const char *mode)
{
    allocCounted(FILE_HANDLE_SIZE);
    FileHandle *fh = (FileHandle *)malloc(sizeof *fh);
    if (!fh) {
        allocReport("fileOpen", 1, FILE_HANDLE_SIZE, HANDLE_ALLOC_CODE);
        return nullptr;
    }
    fh->fp = fopen(name, mode);
    if (!fh->fp) {
        memFree(fh);
        errReport(OPEN_ERR, OPEN_CODE, name);
        return nullptr;
    }
    if (mode[0] == 'r')
        readBufferTake(fh->fp);
    fh->line = 0;
    fh->pos = 0;
    fh->name = nullptr;
    fh->fullPath = nullptr;
    fh->name = strCopy(name);
    fh->fullPath = getFullPath(name);
    return fh;
}

// Closes the stream and gives back the names and the record; null is
// ignored.  A failing close ends the process with CLOSE_CODE.
void fileClose(FileHandle *fh)
{
    if (!fh)
        return;
    if (fh->fp) {
        int32_t slot = readBufferSlot(fh->fp);
        int rc = fclose(fh->fp);
        if (slot >= 0)
            readBufferOwner[slot] = nullptr;
        if (rc == EOF)
            errReport(CLOSE_ERR, CLOSE_CODE, fh->name);
        fh->fp = nullptr;
    }
    memFree(fh->name);
    memFree(fh->fullPath);
    memFree(fh);
}

// Returns 1 when every write to the stream (a handle's, or one such as
// standard output) has reached its file: what the stream still holds
// flushes, and no write or flush ever failed (the stream's error indicator,
// which a failed flush sets too, is clear); 0 otherwise.  The put routines
// and msgPrint flush after every write but do not look at the result, and a
// stream that fails to flush drops what it held, so a lost write (a full
// disk, say) shows only here.  Reports nothing: the caller decides what a
// lost write means.
int32_t streamFlushed(FILE *fp)
{
    (void)fflush(fp);
    return ferror(fp) ? 0 : 1;
}
