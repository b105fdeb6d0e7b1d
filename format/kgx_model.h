// kgx_model.h -- the KGX model layout, written down once, with the
// little-endian load and store helpers for byte images and the model builder
// (kgx_model.cpp)
//
// Every file of this project that reads or writes a model takes its offsets,
// sizes, mode bits and field positions from here; the Kelo difference files
// have theirs in kelo_diff.h.
#ifndef KGX_MODEL_H
#define KGX_MODEL_H

#include <cstdint>
#include <vector>

/* KGX model file, all values little-endian.

     offset  size            field
     0       4               identifier: its first byte is KGX_ID, the
                             other three are not examined
     4       4               flags: base and variant must agree
     8       4               object count
     12      28 x count      object table, one entry per object

   An entry is ENTRY_WORDS 32-bit words (KgxEntryWord).  The three tops count
   from the start of the object table, whatever the flags say.  A vertex and
   a normal are ELEMENT_VALUES signed 16-bit values (x, y, z, fourth).  A
   primitive is a header word followed by a packet of primPacketWords(header)
   words; the primitives of an object stand back to back. */
constexpr uint32_t KGX_ID = 0x41;
constexpr uint32_t KGX_FLAGS_AT = 4;
constexpr uint32_t KGX_COUNT_AT = 8;
constexpr uint32_t KGX_TABLE = 12;  // also the size of the header

// True when a model's first word identifies it: only its low byte counts.
constexpr bool kgxIdOk(uint32_t firstWord) { return (firstWord & 0xFF) == KGX_ID; }

enum KgxEntryWord : uint32_t {
    ENTRY_VERT_TOP,
    ENTRY_N_VERT,
    ENTRY_NORM_TOP,
    ENTRY_N_NORM,
    ENTRY_PRIM_TOP,
    ENTRY_N_PRIM,
    ENTRY_SCALE,
    ENTRY_WORDS
};
constexpr uint32_t KGX_ENTRY = 4 * ENTRY_WORDS;  // bytes per object entry

// File offset of word w of object o's entry.
constexpr uint64_t kgxEntryAt(uint32_t o, uint32_t w = 0)
{
    return KGX_TABLE + (uint64_t)KGX_ENTRY * o + 4 * (uint64_t)w;
}

constexpr uint32_t ELEMENT_VALUES = 4;                // 16-bit values per vertex or normal
constexpr uint32_t KGX_ELEMENT = 2 * ELEMENT_VALUES;  // bytes per vertex or normal

/* Primitive header word: bits 0-7 and 16-23 are not interpreted (they take
   part only in the header comparison), bits 8-15 give the packet length in
   words, bits 24-31 the mode. */
constexpr uint32_t PRIM_HEAD = 4;                      // bytes of the header word
constexpr uint32_t MODE_TEXTURED = 4;                  // the packet holds texture bytes
constexpr uint32_t MODE_FOUR_CORNERS = 8;              // four corners, four texture words
constexpr uint32_t PACKET_WORDS_MAX = 255;             // the length is an 8-bit field
constexpr uint32_t PACKET_MAX = 4 * PACKET_WORDS_MAX;  // bytes of the longest packet
constexpr uint32_t PRIM_FREE_BITS = 0x00FF00FFu;       // the bits that are not interpreted

constexpr uint32_t primPacketWords(uint32_t header) { return header >> 8 & 0xFF; }
constexpr uint32_t primMode(uint32_t header) { return header >> 24; }
// Corners of a primitive of the mode: 4 with MODE_FOUR_CORNERS, else 3.  A
// textured primitive's first that many packet words hold its texture bytes.
constexpr uint32_t CORNERS_MAX = 4;
constexpr uint32_t primCorners(uint32_t mode) { return mode & MODE_FOUR_CORNERS ? CORNERS_MAX : 3; }
constexpr uint32_t primHeader(uint32_t mode, uint32_t words, uint32_t freeBits = 0)
{
    return mode << 24 | (words & 0xFF) << 8 | (freeBits & PRIM_FREE_BITS);
}

/* The packets kelo writes.  A primitive of n corners (3, or 4 with
   MODE_FOUR_CORNERS) has a packet of 2n words: word c (c < n) holds the
   vertex index of corner c in bits 0-15, its V byte in bits 16-23 and its U
   byte in bits 24-31, so that U and V are the bytes the texture element
   compares; word n + c holds the normal index of corner c in bits 0-15. */
constexpr uint32_t cornerWord(uint32_t index, uint8_t u = 0, uint8_t v = 0)
{
    return (index & 0xFFFF) | (uint32_t)v << 16 | (uint32_t)u << 24;
}
constexpr uint32_t cornerIndex(uint32_t word) { return word & 0xFFFF; }
constexpr uint8_t cornerU(uint32_t word) { return (uint8_t)(word >> 24); }
constexpr uint8_t cornerV(uint32_t word) { return (uint8_t)(word >> 16); }
constexpr uint32_t CORNER_INDEX_MAX = 0xFFFF;

/* Little-endian values in a byte image, assembled byte by byte so that the
   result never depends on the host's byte order or alignment. */
inline uint32_t loadLE32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline int16_t loadLE16(const unsigned char *p)
{
    return (int16_t)(uint16_t)((uint32_t)p[0] | (uint32_t)p[1] << 8);
}
inline void storeLE32(unsigned char *p, uint32_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}
inline void storeLE16(unsigned char *p, int16_t v)
{
    p[0] = (unsigned char)((uint16_t)v & 0xFF);
    p[1] = (unsigned char)((uint16_t)v >> 8);
}

/* kgx_model.cpp -- the model builder: plain arrays in, a KGX byte image out. */

// One object.  vert and norm hold ELEMENT_VALUES values per element; packets
// holds the primitives' packets back to back, each as long as its header
// says (missing bytes are written as 0, extra bytes are ignored).
struct KgxObjectArrays {
    std::vector<int16_t> vert;
    std::vector<int16_t> norm;
    std::vector<uint32_t> primHeaders;
    std::vector<unsigned char> packets;
    uint32_t scale = 0;
};

// Bytes of the image kgxBuild would make; 64-bit, so the caller can refuse
// a model that would not fit the format's 32-bit offsets.
uint64_t kgxBuildSize(const std::vector<KgxObjectArrays> &objects);

// The model: header (KGX_ID, flags, object count), object table, then each
// object's vertices, normals and primitives in object order.
std::vector<unsigned char> kgxBuild(uint32_t flags, const std::vector<KgxObjectArrays> &objects);

#endif
