// obj.h -- Wavefront OBJ: the parser (obj_read.cpp), the OBJ text as a mesh
// (mesh.cpp) and the writer (obj_write.cpp)
#ifndef KELO_OBJ_H
#define KELO_OBJ_H

#include "mesh.h"

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
    std::string name;              // the file name, for messages
    std::vector<double> pos;       // three per vertex
    std::vector<int32_t> posLine;  // line of each vertex
    std::vector<double> tex;       // two per texture coordinate
    std::vector<double> nrm;       // three per normal
    std::vector<ObjCorner> corners;
    std::vector<ObjFace> faces;
    std::vector<std::string> groups;  // in order of first appearance
};

// Parses an OBJ text.  With single, all faces fall into one group; otherwise
// each g or o statement selects a group by name.  Returns KELO_BAD_IMPORT with
// the line at fault.
Problem objParse(std::string_view text, const std::string &name, bool single, ObjText &t);
Problem objLoad(const std::string &name, bool single, ObjText &t);

/* mesh.cpp -- the OBJ text as a mesh */

// The coordinates of every vertex a face uses, for the fitted scale.
std::vector<double> usedCoordinates(const ObjText &t);
// One object per group that has faces, in the order the groups first
// appear; object k takes scales[k], or the last scale when there are fewer.
Problem meshBuild(const ObjText &t, const std::vector<uint32_t> &scales, Mesh &m);

/* obj_write.cpp -- a model as OBJ text */

// The model as OBJ text: each distinct vertex and normal array once, one
// group of faces per object, their corners without normals in an object
// without normals.  KELO_BAD_MODEL when a primitive cannot be read
// (primitiveCorners), or when the faces to write would outnumber the model's
// bytes (objects that share primitive areas).
Problem objExport(const Model &m, std::string &text);

#endif
