// defs.h -- program-wide variables and routines shared by keyblend's driver
// (main.cpp) and its engine library beyond the engine's public header: the
// difference engine's object-table variables (read.cpp) and the output
// guard (guard.cpp)
#ifndef DEFS_H
#define DEFS_H

#include "engine.h"
#include "kelo_diff.h"

// Exit codes of keyblend's own, beside the library's.
constexpr int32_t USAGE_CODE = 1;     // the usage was printed
constexpr int32_t ARG_FILE_CODE = 2;  // an argument file cannot be opened
constexpr int32_t GUARD_CODE = 3;     // an output is a file the run reads
constexpr int32_t LOST_CODE = 4;      // a write to an output was lost
constexpr int32_t BASE_CODE = 1000;   // the base model cannot be opened

/* main.cpp -- argument expansion and options */

extern char **Argv;  // the expanded argument list
extern int32_t Argc;

int32_t option(int32_t argc, char **argv);
void usage(void);

/* read.cpp -- the difference engine's object-table variables */

extern uint32_t nobj;                             // object count of the base
extern uint32_t objTop;                           // file offset of the object table
extern uint32_t nextObj;                          // file offset of the next object entry
extern uint32_t vert_top1, norm_top1, prim_top1;  // the base's tops
extern uint32_t vert_top2, norm_top2, prim_top2;  // the variant's tops
extern uint32_t n_vert, n_norm, n_prim, scale;    // the base's counts and scale
extern int16_t vbuff[3 * ELEMENT_VALUES];         // base element, variant element, difference

/* guard.cpp -- no output may be a file the run reads */

void guardNote(FileHandle *fh, const char *name);
void guardOutputs(char *const *outputs, int32_t nOut, char *const *variants, int32_t nVariants);

#endif
