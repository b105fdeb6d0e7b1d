// gltf.h -- glTF 2.0 assets with morph targets: the asset as kelo holds it,
// encoded and decoded through tinygltf (gltf_io.cpp), and made from a KGX
// model with its variants or turned into meshes (gltf_mesh.cpp).  The rules
// are the user's to read in docs/kelo-gltf.md.
#ifndef KELO_GLTF_H
#define KELO_GLTF_H

#include "mesh.h"

/* An asset is one mesh whose primitives are the objects, one node and one
   scene: a variant moves all objects together, so one weight per target
   drives them all.  Values are glTF's: positions in metres, unit normals,
   texture coordinates with v pointing down the image. */

struct GltfOffsets {
    std::vector<float> position;  // 3 per vertex
    std::vector<float> normal;    // 3 per vertex, or empty: the normals stay
};

struct GltfObject {
    std::string name;                  // of the mesh it came from, for messages
    std::vector<float> position;       // 3 per vertex
    std::vector<float> normal;         // 3 per vertex, or empty
    std::vector<float> texcoord;       // 2 per vertex (TEXCOORD_0), or empty
    std::vector<uint16_t> corner;      // 2 per vertex (_KGX_CORNER): the KGX vertex
                                       // and normal it stands for; or empty
    std::vector<uint32_t> triangles;   // 3 vertex numbers each; none: points
    std::vector<GltfOffsets> targets;  // one per target of the asset
};

struct GltfAsset {
    std::string name;                      // of the mesh and its node
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
// buffer files are read from its folder), every primitive of every mesh
// (gltf_read.cpp).  KELO_BAD_IMPORT naming the file and what is wrong.
// The work it allows is bounded by the bytes it reads (docs/robustness.md).
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
// applyVariant makes it; normal offsets when a normal file is given.  scale
// 0 takes each object's scale word as its steps per metre, any other scale
// applies to every object.  KELO_BAD_MODEL for a model glTF cannot hold,
// and for an asset of more than 2 GiB, found before any of it is built;
// the problems of groupChanges for a variant that does not fit.
Problem gltfFromModel(const Model &m, const std::vector<KeloFile> &files, uint32_t scale,
                      GltfAsset &asset);

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

#endif
