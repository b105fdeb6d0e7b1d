// gltf_io.h -- KGX models with their variants as glTF 2.0 assets with morph
// targets: the asset as glTF holds it, read and written through tinygltf,
// and the mapping between it and KGX object arrays (gltf_io.cpp)
#ifndef KELO_GLTF_IO_H
#define KELO_GLTF_IO_H

#include "kgx.h"

#include <cstdint>
#include <string>
#include <vector>

/* The asset.  Written as one mesh whose primitives are the objects, one node
   and one scene: a variant of a KGX model moves all its objects together, so
   one weight per target drives them all.  Every object has one set of
   offsets per target; the mesh names the targets in extras.targetNames and
   starts with every weight at 0.  Values are glTF's: positions in metres,
   unit normals, texture coordinates with v pointing down the image. */

struct GltfOffsets {
    std::vector<float> position;  // 3 per vertex (dense)
    std::vector<float> normal;    // 3 per vertex, or empty: the normals stay
    bool operator==(const GltfOffsets &) const = default;
};

struct GltfObject {
    std::vector<float> position;      // 3 per vertex
    std::vector<float> normal;        // 3 per vertex, unit length; or empty
    std::vector<float> texcoord;      // 2 per vertex (TEXCOORD_0), or empty
    std::vector<uint16_t> corner;     // 2 per vertex (_KGX_CORNER): the KGX vertex and
                                      // normal it stands for; or empty
    std::vector<uint32_t> triangles;  // 3 vertex numbers per triangle; none: the
                                      // vertices are drawn as points
    std::vector<GltfOffsets> targets;  // one per target of the asset
    bool operator==(const GltfObject &) const = default;
};

struct GltfAsset {
    std::string name;                      // of the mesh and its node
    std::vector<std::string> targetNames;  // one per target, "" where unnamed
    std::vector<GltfObject> objects;
    bool operator==(const GltfAsset &) const = default;
};

// What went wrong, and in which file.  Empty `what`: nothing went wrong.
struct GltfProblem {
    std::string file;
    std::string what;
    explicit operator bool() const { return !what.empty(); }
};

// Writes the asset to path: binary glTF when the name ends in .glb, JSON
// with the buffer embedded as a data URI when it ends in .gltf (either in
// any case).  Sparse accessors hold a target's offsets where they take fewer
// bytes than dense ones.  On a problem no file is left at path.
GltfProblem gltfWrite(const GltfAsset &asset, const std::string &path);

// Reads a .glb or .gltf file (told apart by content, not name; external
// buffers are looked up beside it): every primitive of every mesh becomes an
// object, in order; node transforms, materials and images are ignored.
// Every primitive must have the same number of targets, and every accessor
// as many elements as its primitive has vertices.
GltfProblem gltfRead(const std::string &path, GltfAsset *asset);

/* The mapping to and from KGX.

   Export: each object's primitives are split into triangles as a fan from
   their first corner; each distinct corner (vertex, normal, texture bytes)
   becomes one glTF vertex, and vertices and normals no corner uses get a
   vertex of their own, so that nothing of the model is lost.  A primitive
   whose packet has two words per corner takes its normal numbers from the
   second half; one with one word per corner uses the normal numbered like
   its vertex.  Position = value / steps per metre; normal = value / 4096
   when that is of unit length within NORMAL_SLACK, else the value scaled to
   unit length (a zero normal becomes +z); texture coordinate = (U / 255,
   1 - V / 255), untextured corners of a textured object (0, 1).  Target
   offsets are the variant's values minus the base's, in the same units.

   Import undoes this exactly for what export wrote: glTF vertices that carry
   the same _KGX_CORNER numbers (or, without them, the same position and
   offsets in every target) become one KGX vertex, numbered in the order of
   those numbers (or of first use); normals alike.  Without NORMAL, each
   triangle gets the flat normal of its base and of each variant, as glTF
   asks of a viewer.  Primitives are the triangles, in kelo's packet layout
   (two words per corner), textured when the object has TEXCOORD_0. */

constexpr double NORMAL_SLACK = 0.001;

// A variant to export: its objects as the base's, with changed vertex (and
// normal) values.
struct KgxVariant {
    std::string name;
    std::vector<KgxObjectArrays> objects;
};

// The asset of the base and its variants.  stepsPerMetre > 0 applies to
// every object; 0 takes each object's scale word (16.16 steps per metre, 0
// read as 1).  With normalTargets the targets carry normal offsets.  A
// problem names the object and primitive at fault; its file is `file`.
GltfProblem gltfFromKgx(const std::string &file, const std::vector<KgxObjectArrays> &base,
                        const std::vector<KgxVariant> &variants, double stepsPerMetre,
                        bool normalTargets, GltfAsset *asset);

struct KgxImport {
    std::vector<KgxObjectArrays> base;
    std::vector<std::vector<KgxObjectArrays>> variants;  // one model per target
};

// The KGX objects of an asset, with scale word scales[k] for object k (the
// last one for objects beyond the list), and one variant per target: the
// base with that target's offsets at weight 1.  Refuses a coordinate that
// does not fit 16 bits at its scale and an object of more than
// CORNER_INDEX_MAX vertices or normals, naming the file and the object.
GltfProblem gltfToKgx(const std::string &file, const GltfAsset &asset,
                      const std::vector<uint32_t> &scales, KgxImport *out);

// The largest scale word at which every position of the base and of every
// target fits 16 bits; SCALE_WORD_ONE when all are 0; 0 when none fits.
constexpr uint32_t SCALE_WORD_ONE = 65536;
uint32_t gltfFitScale(const GltfAsset &asset);

#endif
