// obj.h -- models from and to text: the Wavefront OBJ parser (obj_read.cpp),
// quantised meshes that become KGX models (mesh.cpp) and the OBJ writer
// (obj_write.cpp).  A mesh is independent of OBJ: any format that yields
// faces can be imported through it.
#ifndef KELO_OBJ_H
#define KELO_OBJ_H

#include "kelo.h"

// Scales are 16.16 fixed point: a scale word W maps a coordinate x to the
// integer round(x * W / 65536).  A scale word of 0 is read as 1.
constexpr uint32_t SCALE_ONE = 65536;
// A unit normal is stored with length NORMAL_ONE.
constexpr double NORMAL_ONE = 4096;

/* obj_read.cpp -- what import takes from an OBJ text */

struct ObjCorner {
    int32_t v, vt, vn;  // 0-based indices into the file's arrays; -1 when absent
};

struct ObjFace {
    uint32_t corner;  // first corner in ObjText::corners
    uint32_t n;       // corners, at least 3
    int32_t line;     // where the face stands
    uint32_t group;   // index into ObjText::groups
};

struct ObjText {
    std::string name;               // the file name, for messages
    std::vector<double> pos;        // three per vertex
    std::vector<int32_t> posLine;   // line of each vertex
    std::vector<double> tex;        // two per texture coordinate
    std::vector<double> nrm;        // three per normal
    std::vector<ObjCorner> corners;
    std::vector<ObjFace> faces;
    std::vector<std::string> groups;  // in order of first appearance
};

// Parses an OBJ text.  With single, all faces fall into one group; otherwise
// each g or o statement selects a group by name.  Returns KELO_BAD_OBJ with
// the line at fault.
Problem objParse(std::string_view text, const std::string &name, bool single, ObjText &t);
Problem objLoad(const std::string &name, bool single, ObjText &t);

/* mesh.cpp -- quantised objects, ready to become a KGX model */

struct MeshObject {
    std::vector<int16_t> vert;        // ELEMENT_VALUES values per vertex
    std::vector<int16_t> norm;        // ELEMENT_VALUES values per normal
    std::vector<uint32_t> head;       // one header word per primitive
    std::vector<uint32_t> packet;     // the packets' words, back to back
    std::vector<int32_t> primLine;    // text line of each primitive, 0 if none
    uint32_t scale = SCALE_ONE;
    std::string group;
};

struct Mesh {
    std::string name;  // where it came from, for messages
    std::vector<MeshObject> obj;
};

uint32_t primCorners(uint32_t head);
uint8_t texByte(double t);
int32_t quantise(double x, uint32_t scale);
Problem scaleFit(const ObjText &t, uint32_t &scale);
bool scaleParse(const char *text, uint32_t &scale);
std::string scaleText(uint32_t scale);

// One object per group that has faces, in the order the groups first
// appear; object k takes scales[k], or the last scale when there are fewer.
Problem meshBuild(const ObjText &t, const std::vector<uint32_t> &scales, Mesh &m);
// The same objects, vertex, normal and primitive counts and primitives (but
// for their texture bytes) as base; KELO_NOT_LIKE naming the first mismatch.
Problem meshLike(const Mesh &m, const Model &base);
// The KGX image of the mesh; KELO_BAD_OBJ when it would not fit the format.
Problem meshImage(const Mesh &m, uint32_t flags, const std::string &out,
                  std::vector<unsigned char> &image);

/* obj_write.cpp -- a model as OBJ text */

// The model as OBJ text: each distinct vertex and normal array once, one
// group of faces per object.  KELO_BAD_MODEL when a primitive is not in the
// packet layout kelo writes, or when the faces to write would outnumber the
// model's bytes (objects that share primitive areas).
Problem objExport(const Model &m, std::string &text);

#endif
