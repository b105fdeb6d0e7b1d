// model.h -- KGX models described in memory and built into bytes by the one
// model builder (kgxBuild), with the byte helpers the tests, the fuzz
// drivers and their cases share.  No test framework needed.
#ifndef KIT_MODEL_H
#define KIT_MODEL_H

#include "kgx.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kit {
namespace fs = std::filesystem;

using Elem = std::array<int16_t, ELEMENT_VALUES>;      // a vertex or a normal
struct Prim { uint32_t header; std::string packet; };  // the packet as long as the header says
struct Obj { std::vector<Elem> verts{}, norms{}; std::vector<Prim> prims{}; uint32_t scale = 1; };
struct Model { std::vector<Obj> objs{}; uint32_t flags = 0; };
// Where the fields of a built model lie, for damage aimed at them: every
// word of the object table and every primitive header, as file offsets.
struct Layout { std::vector<size_t> tableWords{}, primHeaders{}; };

// A primitive of the mode with the packet's bytes (a whole number of words);
// other holds the header bits that only take part in the header comparison.
Prim prim(uint32_t mode, const std::string &packet, uint32_t other = 0);

// The model file.  Throws std::invalid_argument for a packet whose length
// disagrees with its header: damage a built model to make such a file.
std::string bytes(const Model &m, Layout *layout = nullptr);

template <class F>
Model edit(Model m, F change) { change(m); return m; }

// The little-endian word at at (throws std::out_of_range past the end), and
// s with the word at at set, as far as the bytes reach.
uint32_t word(const std::string &s, size_t at = 0);
std::string setWord(std::string s, size_t at, uint32_t v);

// Bytes from hex text, where blanks between the pairs show the layout; and
// back, one pair per byte, so that a mismatch shows its offset.
std::string unhex(std::string_view text);
std::string hex(std::string_view bytes);
std::string repeat(const std::string &s, int n);

// A whole file's bytes ("" when it cannot be read), and a file made of bytes.
std::string slurp(const fs::path &path);
void spit(const fs::path &path, const std::string &bytes);

}  // namespace kit

#endif
