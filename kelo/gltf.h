// gltf.h -- glTF 2.0 assets with morph targets: the asset as kelo holds it,
// encoded and decoded through tinygltf (gltf_io.cpp), and made from a KGX
// model with its variants or turned into meshes (gltf_mesh.cpp).  The rules
// are the user's to read in docs/kelo-gltf.md.
#ifndef KELO_GLTF_H
#define KELO_GLTF_H

#include "mesh.h"

/* An asset is a list of objects sharing one list of targets.  Export writes
   it as one mesh whose primitives are the objects, one node and one scene: a
   variant moves all objects together, so one weight per target drives them
   all.  Import makes it of the primitives of the meshes the asset's scene
   places, in world space, their targets matched by name.  Values are glTF's:
   positions in metres, unit normals, texture coordinates with v pointing
   down the image. */

struct GltfOffsets {
    std::vector<float> position;  // 3 per vertex
    std::vector<float> normal;    // 3 per vertex, or empty: the normals stay
};

struct GltfObject {
    std::string name;  // of the mesh it came from, for messages
    std::string
        material;  // name of its primitive's material, "" when it has none or an unnamed one
    std::vector<float> position;       // 3 per vertex
    std::vector<float> normal;         // 3 per vertex, or empty
    std::vector<float> texcoord;       // 2 per vertex (TEXCOORD_0), or empty
    std::vector<uint16_t> corner;      // 2 per vertex (_KGX_CORNER): the KGX vertex
                                       // and normal it stands for; or empty
    std::vector<uint32_t> triangles;   // 3 vertex numbers each; none: points
    std::vector<GltfOffsets> targets;  // one per target of the asset, zeros where its
                                       // mesh has no such target
};

struct GltfAsset {
    std::string name;                      // of the (first) mesh and its node
    std::vector<std::string> targetNames;  // one per target, "" where unnamed
    std::vector<GltfObject> objects;
};

// A name of at least one byte before the extension ext (".glb"), in any
// case; and one ending in .glb or .gltf.
bool hasExtension(const std::string &name, const char *ext);
bool isGltfName(const std::string &name);

// The asset as binary glTF, or as JSON with its buffer embedded as a data
// URI.
std::string gltfEncode(const GltfAsset &asset, bool binary);

// The asset in a file read whole (binary or JSON, told by its content;
// buffer files are read from its folder): every primitive of every mesh its
// scene places, in scene order and where the scene puts it, the targets of
// its meshes matched by name (gltf_read.cpp).  KELO_BAD_IMPORT naming the
// file and what is wrong.  The work it allows is bounded by the bytes it
// reads (docs/robustness.md).
Problem gltfDecode(const Input &in, GltfAsset &asset);

// The first step of gltfDecode: the file as tinygltf reads it, behind
// kelo's checks of the GLB's layout and of the JSON's nesting and integers,
// and through kelo's own access to buffer files.  Every integer kelo reads
// from m (counts, offsets, lengths, strides, indices) is then from 0 to
// 2^31 - 1.  bytes: those of the file and of the buffer files read.
namespace tinygltf {
class Model;
}
Problem gltfLoad(const Input &in, tinygltf::Model &m, uint64_t &bytes);

// The asset of model m with one target per variant group of the vertex and
// normal files (which have as many groups), each the variant as
// applyVariant makes it; normal offsets when a normal file is given.  Object
// k is a primitive with a material of its own named "objectK", so that
// modelling tools keep the objects apart.  scale
// 0 takes each object's scale word as its steps per metre, any other scale
// applies to every object.  KELO_BAD_MODEL for a model glTF cannot hold,
// and for an asset of more than 2 GiB, found before any of it is built;
// the problems of groupChanges for a variant that does not fit.
Problem gltfFromModel(const Model &m, const std::vector<KeloFile> &files, uint32_t scale,
                      GltfAsset &asset);

// Normal i of the array at `at` in m, as export writes it: at unit length
// (+z for a zero normal).
void unitNormal(const Model &m, uint32_t at, uint32_t i, float *out);

// The least and the greatest of 0 and every position coordinate of the
// base and of each target at weight 1: a fitted scale that holds them holds
// every coordinate, which lies between them.
std::vector<double> gltfCoordinates(const GltfAsset &asset);

// The mesh of the asset (meshes[0]) and, withTargets, of each target t at
// weight 1 (meshes[1 + t]); object k takes scales[k], or the last scale.
// KELO_BAD_IMPORT naming file for a coordinate that does not fit 16 bits
// and for an object of more than CORNER_INDEX_MAX vertices or normals.
Problem gltfMeshes(const GltfAsset &asset, const std::string &file,
                   const std::vector<uint32_t> &scales, bool withTargets,
                   std::vector<Mesh> &meshes);

// The models of the asset on base (import --like): base's image (images[0])
// and, withTargets, target t's (images[1 + t]), each base's image with the
// target's vertex and normal values set (gltf_like.cpp; the rules in
// docs/kelo-gltf.md).  Each glTF vertex stands for the base vertex at its
// position at its object's scale, its normal for the nearest of those the
// base gives that vertex.  KELO_NOT_LIKE naming file for an asset that does
// not fit the base, KELO_BAD_IMPORT for a target coordinate that does not
// fit 16 bits, KELO_BAD_MODEL for a base primitive that cannot be read.
Problem gltfLikeModels(const GltfAsset &asset, const std::string &file, const Model &base,
                       bool withTargets, std::vector<std::vector<unsigned char>> &images);

#endif
