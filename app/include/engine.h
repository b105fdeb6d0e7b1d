// engine.h -- keyblend's engine as a library: the run's settings, the run
// over the variants (run.cpp) and the difference engine (read.cpp), for
// keyblend's driver and for the tests, fuzz targets and benchmarks that
// drive the engine in process
#ifndef ENGINE_H
#define ENGINE_H

#include "klib.h"

/* run.cpp -- the run's settings and the run over the variants */

extern int32_t Verbose;     // -v: verbose lines on vout
extern uint8_t Dump;        // -dump: the engine's dump lines on dout
extern uint8_t NormalKelo;  // -n: a normal difference file is made
extern uint8_t UVKelo;      // -t: a texture-coordinate difference file is made
extern uint8_t ColorKelo;   // -c: accepted, selects nothing
extern FILE *vout;          // verbose lines
extern FILE *dout;          // dump lines
extern char *outputName;    // base name of the outputs, without extension

// Creates the outputs, compares each variant with base and finishes the
// outputs; returns the run's exit code.  runAbandon closes what a run that
// a fatal report ended still holds.
int32_t runVariants(FileHandle *base, char **variants, int32_t nVariants);
void runAbandon(void);

/* read.cpp -- the difference engine */

extern uint32_t nVDF, nNDF, nMDF;  // records written to each output

int32_t kgx_diff(FileHandle *base, FileHandle *var);
int32_t vn_diff(FileHandle *base, FileHandle *var, FileHandle *vdf, FileHandle *ndf);
int32_t mat_diff(FileHandle *base, FileHandle *var, FileHandle *tdf);

#endif
