// obj.h -- Wavefront OBJ text to and from kelo's in-memory meshes: the
// parser (obj_read.cpp), quantisation, normals and primitive packets
// (obj_mesh.cpp), the writer (obj_write.cpp) and the import and export
// commands (obj_cmd.cpp)
#ifndef KELO_OBJ_H
#define KELO_OBJ_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

/* Primitive packets as kelo writes them.  A primitive of n corners (3 or 4)
   has the header word  mode << 24 | 2n << 8  and a packet of 2n words:
     word c      (c < n)  bits 0-15 vertex index of corner c,
                          bits 16-23 V byte, bits 24-31 U byte;
     word n + c  (c < n)  bits 0-15 normal index of corner c, bits 16-31 zero.
   U of corner c is thus packet byte 4c + 3 and V byte 4c + 2, the two bytes
   the texture comparison reads from word c.  Untextured primitives hold zero
   U and V bytes. */
constexpr uint32_t PRIM_TEXTURED = 4;  // mode bit: corners carry U and V
constexpr uint32_t PRIM_QUAD = 8;      // mode bit: four corners
constexpr uint32_t OBJ_MAX_INDEX = 65535;  // vertices or normals per object

// Scales are 16.16 fixed point: a scale word W maps an OBJ coordinate x to
// the integer round(x * W / 65536).
constexpr uint32_t SCALE_ONE = 65536;

/* obj_read.cpp -- what import takes from an OBJ file */

struct ObjCorner {
    int32_t v, vt, vn;  // 0-based indices into the file's arrays; -1 when absent
};

struct ObjFace {
    uint32_t corner;  // first corner in ObjText.corners
    uint32_t n;       // corners, at least 3
    int32_t line;     // where the face stands
    uint32_t group;   // index into ObjText.groups
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

int32_t objRead(ObjText *t, FILE *fp, const char *name, bool single);
int32_t objReadFile(ObjText *t, const char *name, bool single);

/* obj_mesh.cpp -- quantised objects, ready to become a KGX model */

struct MeshObject {
    std::vector<int16_t> vert;           // four values per vertex
    std::vector<int16_t> norm;           // four values per normal
    std::vector<uint32_t> head;          // one header word per primitive
    std::vector<uint32_t> packet;        // the packets, back to back
    std::vector<int32_t> primLine;       // OBJ line of each primitive, 0 if none
    uint32_t scale;
    std::string group;
};

struct Mesh {
    std::string name;  // where it came from, for messages
    std::vector<MeshObject> obj;
};

uint32_t primCorners(uint32_t head);
uint8_t texByte(double t);
int32_t quantise(double x, uint32_t scale);
int32_t scaleFit(const ObjText *t, uint32_t *scale);
int32_t scaleParse(const char *text, uint32_t *scale);
void scaleText(uint32_t scale, char *buffer, size_t size);
int32_t meshBuild(Mesh *m, const ObjText *t, const uint32_t *scales, uint32_t nScales);
int32_t meshLike(const Mesh *m, const Mesh *base);

/* obj_write.cpp -- a mesh as OBJ text */

int32_t objWrite(const Mesh *m, FILE *fp);

#endif
