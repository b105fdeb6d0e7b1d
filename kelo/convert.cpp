// convert.cpp -- kelo import and kelo export: KGX models from and to
// Wavefront OBJ text and glTF assets, with the scale rules the formats
// share and the variant models a glTF asset's morph targets make
#include "gltf.h"
#include "obj.h"

#include <set>

// The scale word --scale gives, or 0 when it is not given.
static uint32_t scaleOption(const Args &args)
{
    return args.has(OPT_SCALE) ? args.number(OPT_SCALE) : 0;
}

// The scales an import uses: the given one (not 0) for every object; the
// --like base's object by object, so that equal coordinates give equal
// integers; or the largest at which every coordinate fits, printed.  The
// coordinates (a routine that lists them) are gathered only for that last.
template <typename Coordinates>
static Problem importScales(uint32_t given, const Model *like, Coordinates coordinates,
                            const std::string &file, std::vector<uint32_t> &scales)
{
    scales.assign(1, given ? given : SCALE_ONE);
    if (given)
        return {};
    if (like) {
        scales.clear();
        for (const KgxObject &ob : like->obj)
            scales.push_back(scaleOf(ob.scale));
        if (scales.empty())
            scales.push_back(SCALE_ONE);
        return {};
    }
    if (Problem p = scaleFit(coordinates(), file, scales[0]))
        return p;
    msgPrint(stdout, "scale %s\n", scaleText(scales[0]).c_str());
    return {};
}

static Problem importObj(const Args &args, uint32_t scale, const Model *like,
                         std::vector<Mesh> &meshes)
{
    ObjText text;
    if (Problem p = objLoad(args.operands[0], args.number(OPT_OBJECTS) == OBJECTS_SINGLE, text))
        return p;
    if (text.faces.empty())
        return problemIn(KELO_BAD_IMPORT, text.name, "no faces to import");
    std::vector<uint32_t> scales;
    auto coordinates = [&] { return usedCoordinates(text); };
    if (Problem p = importScales(scale, like, coordinates, text.name, scales))
        return p;
    return meshBuild(text, scales, meshes.emplace_back());
}

// The most targets --variants makes files of: each file is a whole model,
// written all or none, so that their number is kept within reason.
constexpr size_t VARIANT_FILES_MAX = 1000;

// The base's mesh, then with --variants each target's.
static Problem importGltf(const Args &args, uint32_t scale, const Model *like,
                          std::vector<Mesh> &meshes, std::vector<std::string> &names)
{
    Input in;
    if (Problem p = readInput(args.operands[0], nullptr, in))
        return p;
    GltfAsset asset;
    if (Problem p = gltfDecode(in, asset))
        return p;
    if (args.has(OPT_VARIANTS) && asset.targetNames.size() > VARIANT_FILES_MAX)
        return problemIn(KELO_BAD_IMPORT, in.name,
                         format("%zu morph targets, more than the %zu files --variants writes",
                                asset.targetNames.size(), VARIANT_FILES_MAX));
    std::vector<uint32_t> scales;
    auto coordinates = [&] { return gltfCoordinates(asset); };
    if (Problem p = importScales(scale, like, coordinates, in.name, scales))
        return p;
    names = asset.targetNames;
    return gltfMeshes(asset, in.name, scales, args.has(OPT_VARIANTS), meshes);
}

// The file of each target: PREFIX_STEM.kgx, where STEM is its name with each
// run of bytes other than letters, digits, '.', '-' and '_' made one '_',
// cut to 64 bytes; the target's number when nothing is left; and, while an
// earlier target has the same stem, with _K (K the target's number) added.
static std::vector<std::string> variantFiles(const std::string &prefix,
                                             const std::vector<std::string> &names)
{
    std::vector<std::string> files;
    std::set<std::string> taken;
    for (size_t t = 0; t < names.size(); t++) {
        std::string stem;
        for (char c : names[t]) {
            bool kept = isalnum((unsigned char)c) || c == '.' || c == '-' || c == '_';
            if (kept || stem.empty() || stem.back() != '_')
                stem += kept ? c : '_';
        }
        stem = stem.empty() ? std::to_string(t) : stem.substr(0, 64);
        while (!taken.insert(stem).second)
            stem += "_" + std::to_string(t);
        files.push_back(prefix + "_" + stem + ".kgx");
    }
    return files;
}

// kelo import IN [--scale S | --fit | --like BASE.kgx] [--objects H]
// [--variants PREFIX] -o OUT.kgx.  Nothing is written unless every model is
// made; then all are written, or none.
Problem cmdImport(const Args &args)
{
    bool gltf = isGltfName(args.operands[0]);
    if (args.has(gltf ? OPT_OBJECTS : OPT_VARIANTS))
        return usageProblem(gltf ? "--objects is for OBJ files" : "--variants is for glTF assets");
    uint32_t scale = scaleOption(args);
    Model like;
    bool likeGiven = args.has(OPT_LIKE);
    if (likeGiven)
        if (Problem p = modelLoad(args.word(OPT_LIKE), like))
            return p;
    std::vector<Mesh> meshes;
    std::vector<std::string> names;
    if (Problem p = gltf ? importGltf(args, scale, likeGiven ? &like : nullptr, meshes, names)
                         : importObj(args, scale, likeGiven ? &like : nullptr, meshes))
        return p;
    if (likeGiven)
        if (Problem p = meshLike(meshes[0], like))
            return p;
    std::vector<std::string> files = {args.word(OPT_OUT)};
    if (args.has(OPT_VARIANTS))
        for (const std::string &file : variantFiles(args.word(OPT_VARIANTS), names))
            files.push_back(file);
    std::vector<OutputFile> outs(meshes.size());
    for (size_t i = 0; i < meshes.size(); i++) {
        outs[i].target = files[i];
        if (Problem p = meshImage(std::move(meshes[i]), like.flags, files[i], outs[i].bytes))
            return p;
    }
    if (Problem p = writeOutputs(outs))
        return p;
    for (size_t i = 1; i < files.size(); i++)
        msgPrint(stdout, "%s\n", files[i].c_str());
    return {};
}

// kelo export IN.kgx [--vdf F] [--ndf F] [--scale S] -o OUT.glb|OUT.gltf:
// one target per variant group.
static Problem exportGltf(const Args &args, const Model &m, const std::string &out)
{
    std::vector<KeloFile> files;
    if (Problem p = loadFiles(args, {OPT_VDF, OPT_NDF}, files))
        return p;
    if (files.size() == 2 && files[0].groups() != files[1].groups())
        return problemIn(KELO_NO_GROUP, files[1].name,
                         format("has %lu variant groups, %s has %lu",
                                (unsigned long)files[1].groups(), files[0].name.c_str(),
                                (unsigned long)files[0].groups()));
    GltfAsset asset;
    if (Problem p = gltfFromModel(m, files, scaleOption(args), asset))
        return p;
    std::string bytes = gltfEncode(asset, hasExtension(out, ".glb"));
    return writeOutput(out, bytes.data(), bytes.size());
}

// kelo export IN.kgx -o OUT: glTF by OUT's extension, OBJ otherwise.
Problem cmdExport(const Args &args)
{
    const std::string &out = args.word(OPT_OUT);
    bool gltf = isGltfName(out);
    for (OptionId option : {OPT_VDF, OPT_NDF, OPT_SCALE})
        if (!gltf && args.has(option))
            return usageProblem(
                format("%s is for glTF output (-o NAME.glb or NAME.gltf)", optionName(option)));
    Model m;
    if (Problem p = modelLoad(args.operands[0], m))
        return p;
    if (gltf)
        return exportGltf(args, m, out);
    std::string text;
    if (Problem p = objExport(m, text))
        return p;
    return writeOutput(out, text.data(), text.size());
}
