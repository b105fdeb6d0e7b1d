// mesh.h -- quantised meshes that become KGX models: the form every import
// goes through, whatever format it comes from (mesh.cpp), with the scale,
// normal, texture-byte and triangle conventions that import and export share
#ifndef KELO_MESH_H
#define KELO_MESH_H

#include "kelo.h"

// Scales are 16.16 fixed point: a scale word W maps a coordinate x to the
// integer round(x * W / 65536).  A scale word of 0 is read as 1.
constexpr uint32_t SCALE_ONE = 65536;
// A unit normal is stored with length NORMAL_ONE.  A normal whose length is
// within NORMAL_SLACK of 1 (or of NORMAL_ONE) counts as a unit normal and is
// taken as it is, so that normals exported and imported again come back to
// the same integers.
constexpr double NORMAL_ONE = 4096;
constexpr double NORMAL_SLACK = 0.001;

struct MeshObject {
    std::vector<int16_t> vert;      // ELEMENT_VALUES values per vertex
    std::vector<int16_t> norm;      // ELEMENT_VALUES values per normal
    std::vector<uint32_t> head;     // one header word per primitive
    std::vector<uint32_t> packet;   // the packets' words, back to back
    std::vector<int32_t> primLine;  // text line of each primitive, 0 if none
    uint32_t scale = SCALE_ONE;
    std::string group;
};

struct Mesh {
    std::string name;  // where it came from, for messages
    std::vector<MeshObject> obj;
};

// The triangles of a polygon of n corners, as a fan from its first corner:
// triangle(0, 1, 2), triangle(0, 2, 3), ...
template <typename F>
void fanTriangles(uint32_t n, F triangle)
{
    for (uint32_t i = 1; i + 1 < n; i++)
        triangle(0u, i, i + 1);
}
// A texture coordinate as a byte: 0..1 to 0..255; outside, its fraction.
uint8_t texByte(double t);
// A coordinate in steps of the scale, or INT32_MIN outside 16 bits.
int32_t quantise(double x, uint32_t scale);
// A normal's component x as a value: x * NORMAL_ONE, rounded and clamped to
// 16 bits; 0 for NaN.
int16_t normalValue(double x);
// A model's scale word as a scale: 0 says nothing about units, read as 1.
uint32_t scaleOf(uint32_t word);
// The largest scale at which every value fits 16 bits (SCALE_ONE when all
// are 0); KELO_BAD_IMPORT naming file when even the smallest is too large.
Problem scaleFit(const std::vector<double> &values, const std::string &file, uint32_t &scale);
// A decimal number, refusing what strtod takes beyond one and a value out
// of range.
bool parseNumber(std::string_view word, double &value);
// A scale as a decimal number, and the shortest text that reads back as it.
bool scaleParse(const char *text, uint32_t &scale);
std::string scaleText(uint32_t scale);

// The same objects, vertex, normal and primitive counts and primitives (but
// for their texture bytes) as base; KELO_NOT_LIKE naming the first mismatch.
Problem meshLike(const Mesh &m, const Model &base);
// The KGX image of the mesh, whose arrays it takes; KELO_BAD_IMPORT naming
// out when it would not fit the format.
Problem meshImage(Mesh &&m, uint32_t flags, const std::string &out,
                  std::vector<unsigned char> &image);

#endif
