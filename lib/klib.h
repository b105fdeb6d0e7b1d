// klib.h -- keyblend's support library: failure reports, counted allocation,
// the binary file handle, file names and the absolute-path canonicaliser.
//
// Every routine that can fail reports its own failure on the error stream and
// ends the process through the program's Exit with that failure's code
// (below), unless the caller has put the failure's key on the suppression
// list, in which case the routine returns its failure value instead.
#ifndef KLIB_H
#define KLIB_H

#include <cstdint>
#include <cstdio>

/* error.cpp -- error keys, the suppression list and the report procedure */

// An error key is a message format; its address is its identity.
typedef const char *ErrKey;

extern const char OPEN_ERR[];  // file name
extern const char ALC_ERR[];   // label, two size factors, allocCount, freeCount, allocTotal
extern const char EOF_ERR[];   // file name, byte position
extern const char READ_ERR[];  // file name, byte position
extern const char WRIT_ERR[];  // file name, byte position
extern const char EOT_ERR[];   // file name, line
extern const char RTXT_ERR[];  // file name, line
extern const char ARG_ERR[];   // two words
extern const char FORM_ERR[];  // file name, format name
extern const char VER_ERR[];   // file name, version
extern const char SYN_ERR[];   // file name, line, text
extern const char LEAK_ERR[];  // count, place
extern const char WARN_MSG[];  // prefix of a warning, not a report

// Code bases: a report's exit code is its base plus a per-failure offset.
constexpr int32_t memCode = 10;   // allocation
constexpr int32_t fileCode = 30;  // file access
constexpr int32_t libCode = 50;   // other library services
constexpr int32_t formCode = 70;  // file format
constexpr int32_t synCode = 90;   // text syntax

// The exit code of each failure the library reports, named here once for
// the routines and both programs.
constexpr int32_t HANDLE_ALLOC_CODE = memCode + 1;  // fileOpen: the handle record
constexpr int32_t ALLOC_CODE = memCode + 2;         // strAlloc: a block
constexpr int32_t COPY_ALLOC_CODE = memCode + 3;    // strCopy: a string copy
constexpr int32_t OPEN_CODE = fileCode + 0;         // fileOpen: the file does not open
constexpr int32_t CLOSE_CODE = fileCode + 1;        // fileClose
constexpr int32_t SEEK_CODE = fileCode + 2;         // fileSeek
constexpr int32_t PUT2_WRITE_CODE = fileCode + 5;   // put2Bytes
constexpr int32_t PUT4_WRITE_CODE = fileCode + 6;   // put4Bytes
constexpr int32_t GET4_READ_CODE = fileCode + 10;   // get4Bytes: a read error
constexpr int32_t GET4_EOF_CODE = fileCode + 11;    // get4Bytes: the end of the file
constexpr int32_t GET1_READ_CODE = fileCode + 12;   // getByteArray: a read error
constexpr int32_t GET1_EOF_CODE = fileCode + 13;    // getByteArray: the end of the file
constexpr int32_t GET2_READ_CODE = fileCode + 14;   // get2ByteArray: a read error
constexpr int32_t GET2_EOF_CODE = fileCode + 15;    // get2ByteArray: the end of the file
constexpr int32_t CWD_CODE = libCode + 1;           // getFullPath0: no working directory
constexpr int32_t BAD_PATH_CODE = libCode + 2;      // getFullPath0: ".." above the root

constexpr int32_t IGNORE_MAX = 30;
extern ErrKey _ignoreErr_[IGNORE_MAX];
extern int32_t _igno_;

void errPush(ErrKey key);
void errPop(void);
bool errIgnored(ErrKey key);
void errReport(ErrKey key, int32_t code, ...);
void msgPrint(FILE *fp, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Supplied by each program: releases its long-lived blocks and, for a code
// other than 0, ends the process with that code.
void Exit(int32_t code);

/* stralc.cpp -- counted allocation and strings */

extern int32_t allocTotal;  // bytes requested so far, failed requests included
extern int32_t allocCount;  // requests so far, failed requests included
extern int32_t freeCount;   // blocks released so far

void allocCounted(int32_t size);
void allocReport(const char *label, int32_t size, long factor, int32_t code);
char *strAlloc(int32_t size, const char *label);
char *strCopy(const char *s);
void makeUpper(char *s);
void makeLower(char *s);
void freeCounted(void *block);

// The counted release: gives back the block the holder holds, if any, and
// leaves the holder empty.
template <typename T>
inline void memFree(T *&holder)
{
    if (holder) {
        freeCounted(holder);
        holder = nullptr;
    }
}

/* fopen.cpp, fseek.cpp, get4.cpp, get2ary.cpp, get1ary.cpp, put4.cpp,
   put2.cpp, put2ary.cpp -- the binary file handle and
   little-endian I/O */

struct FileHandle {
    FILE *fp;        // the buffered stream
    char *name;      // owned copy of the name the file was opened under
    char *fullPath;  // owned canonical absolute path of that name
    int32_t line;    // line counter, 0 from the open on
    int32_t pos;     // byte position as counted by the I/O routines
};

constexpr int32_t FILE_HANDLE_SIZE = 20;  // what a handle record counts as

FileHandle *fileOpen(const char *name, const char *mode);
void fileClose(FileHandle *fh);
int32_t fileSeek(FileHandle *fh, int32_t offset);
uint32_t get4Bytes(FileHandle *fh);
int32_t get2ByteArray(int16_t *values, int32_t n, FileHandle *fh);
int32_t getByteArray(unsigned char *bytes, int32_t n, FileHandle *fh);
int32_t put4Bytes(uint32_t value, FileHandle *fh);
int32_t put2Bytes(int16_t value, FileHandle *fh);
int32_t put2ByteArray(const int16_t *values, int32_t n, FileHandle *fh);
int32_t streamFlushed(FILE *fp);

// Moves a handle's position on by n bytes; positions wrap like the 32-bit
// offsets of the files they describe.
inline void posAdvance(FileHandle *fh, uint32_t n) { fh->pos = (int32_t)((uint32_t)fh->pos + n); }

/* getfnam0.cpp, getfname.cpp, getext0.cpp, getext.cpp, getname.cpp,
   getpname.cpp, strrcmp.cpp, mkfname0.cpp, mkfname.cpp, fmopen.cpp
   -- file names and extension matching */

// Extension lists end with a null entry.
extern const char *const kgxs[];     // "kgx", "KGX": model files
extern const char *const ARG_EXT[];  // "arg", "ARG": argument files

constexpr int32_t CANDIDATE_SIZE = 256;

const char *getFileName0(const char *name);
char *getFileName(const char *name);
const char *getExt0(const char *name);
char *getExt(const char *name);
char *getName(const char *name);
char *getPathName(const char *name);
int32_t strrcmp(const char *a, const char *b);

// How mkFileName and mkFileName0 build their result: the first keep
// characters of the name, a '.' when dot is set, then tail.
enum MkKind { MK_COPY, MK_APPEND, MK_COMPLETE };
struct MkPlan {
    MkKind kind;
    size_t keep;
    bool dot;
    const char *tail;
};
MkPlan mkFilePlan(const char *name, const char *ext, const char *const *list);
size_t mkPlanLength(const MkPlan *plan);
char *mkPlanFill(const char *name, const MkPlan *plan, char *buffer);
char *mkFileName(const char *name, const char *ext, const char *const *list);
char *mkFileName0(const char *name, const char *ext, const char *const *list, char *buffer);
size_t mkFileNameRoom(const char *name, const char *ext, const char *const *list);
FileHandle *fileMatchOpen(const char *name, const char *const *list, const char *mode);

/* stdopen.cpp -- the standard descriptors */

bool stdDescriptorsOpen(void);

/* getfull0.cpp, getfull.cpp -- the absolute-path canonicaliser */

constexpr int32_t FULL_PATH_SIZE = 255;

char *getFullPath0(const char *path, char *buffer, int32_t size);
char *getFullPath(const char *path);

#endif
