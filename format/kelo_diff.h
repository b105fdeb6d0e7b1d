// kelo_diff.h -- the Kelo difference file layout (vdf, ndf, tdf), written
// down once: records, their elements, and which packet bytes a texture
// element compares
#ifndef KELO_DIFF_H
#define KELO_DIFF_H

#include "kgx_model.h"

/* Texture element: TEX_VALUES differences of packet bytes.  For packet word
   k (k < primCorners(mode): 3, or 4 for a four-corner primitive), value 2k
   compares the word's most significant byte (packet byte 4k + 3) and value
   2k + 1 the byte below it (4k + 2).  Bytes from TEX_BYTES on are never
   compared. */
constexpr uint32_t TEX_VALUES = 2 * CORNERS_MAX;
constexpr uint32_t TEX_BYTES = 4 * CORNERS_MAX;

constexpr uint32_t texByteAt(uint32_t value) { return 4 * (value / 2) + 3 - value % 2; }

/* Kelo difference file (vdf, ndf, tdf), all values little-endian: a 32-bit
   record count at KELO_COUNT_AT, then the records back to back.  A record is
   REC_WORDS words (object index, first element of the run, element count)
   followed by count elements of keloElementValues(kind) signed 16-bit
   values. */
constexpr uint32_t KELO_COUNT_AT = 0;
constexpr uint32_t KELO_RECORDS_AT = 4;

enum KeloRecordWord : uint32_t { REC_OBJ, REC_FIRST, REC_COUNT, REC_WORDS };
constexpr uint32_t KELO_RECORD_HEAD = 4 * REC_WORDS;

enum KeloKind { KIND_VDF, KIND_NDF, KIND_TDF, KINDS };
// Each kind's file extension, which is also its name.
constexpr const char *KELO_EXT[KINDS] = {"vdf", "ndf", "tdf"};
constexpr uint32_t keloElementValues(KeloKind kind)
{
    return kind == KIND_TDF ? TEX_VALUES : ELEMENT_VALUES;
}

#endif
