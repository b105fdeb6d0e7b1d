// convert.cpp -- kelo import and kelo export: KGX models from and to
// Wavefront OBJ text and glTF assets, with the scale rules the formats
// share and the variant models a glTF asset's morph targets make
#include "gltf.h"
#include "obj.h"

#include <algorithm>
#include <cctype>
#include <set>

// The scale word --scale gives, or 0 when it is not given.
static uint32_t scaleOption(const Args &args)
{
    return args.has(OPT_SCALE) ? args.number(OPT_SCALE) : 0;
}

// The scales an import uses: the given one (not 0) for every object; the
// --like base's object by object, so that equal coordinates give equal
// integers; or the largest at which every coordinate fits, told on the
// error stream.  The coordinates (a routine that lists them) are gathered
// only for that last.
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
    reportNote(file, "fitted scale " + scaleText(scales[0]));
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

// The base's mesh, then with --variants each target's; with --like, their
// models instead, made on the base's topology.
static Problem importGltf(const Args &args, uint32_t scale, const Model *like,
                          std::vector<Mesh> &meshes,
                          std::vector<std::vector<unsigned char>> &images,
                          std::vector<std::string> &names)
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
    if (args.has(OPT_VARIANTS) && asset.targetNames.empty())
        return problemIn(KELO_BAD_IMPORT, in.name,
                         "no morph targets in its scene, so --variants has no model to write");
    names = asset.targetNames;
    if (like)
        return gltfLikeModels(asset, in.name, *like, args.has(OPT_VARIANTS), images);
    std::vector<uint32_t> scales;
    auto coordinates = [&] { return gltfCoordinates(asset); };
    if (Problem p = importScales(scale, nullptr, coordinates, in.name, scales))
        return p;
    return gltfMeshes(asset, in.name, scales, args.has(OPT_VARIANTS), meshes);
}

// The most bytes of a target's name that its file's name keeps.
constexpr size_t VARIANT_STEM_MAX = 64;

// The file of each target: PREFIX_STEM.kgx, where STEM is its name as
// fileNameText makes it; the target's number when nothing is left; and,
// while an earlier target has the same stem, with _K (K the target's
// number) added.
static std::vector<std::string> variantFiles(const std::string &prefix,
                                             const std::vector<std::string> &names)
{
    std::vector<std::string> files;
    std::set<std::string> taken;
    for (size_t t = 0; t < names.size(); t++) {
        std::string stem = fileNameText(names[t], VARIANT_STEM_MAX);
        stem = stem.empty() ? std::to_string(t) : stem;
        while (!taken.insert(stem).second)
            stem += "_" + std::to_string(t);
        files.push_back(prefix + "_" + stem + ".kgx");
    }
    return files;
}

// The argument file that names the base and the variant models for
// keyblend, one per line: a name that begins with '-' is written as ./NAME,
// which keyblend cannot take for an option.
static OutputFile argumentFile(const std::string &prefix, const std::vector<std::string> &models)
{
    OutputFile out{prefix + ".arg", {}};
    for (const std::string &model : models) {
        std::string line = (model[0] == '-' ? "./" : "") + model + "\n";
        out.bytes.insert(out.bytes.end(), line.begin(), line.end());
    }
    return out;
}

// kelo import IN [--scale S | --fit | --like BASE.kgx] [--objects H]
// [--variants PREFIX] -o OUT.kgx.  Nothing is written unless every model is
// made; then all are written, or none.
Problem cmdImport(const Args &args)
{
    bool gltf = isGltfName(args.operands[0]);
    if (args.has(gltf ? OPT_OBJECTS : OPT_VARIANTS))
        return usageProblem(gltf ? "--objects is for OBJ files" : "--variants is for glTF assets");
    // keyblend splits an argument file's words at white space.
    for (OptionId option : {OPT_OUT, OPT_VARIANTS})
        if (args.has(OPT_VARIANTS) &&
            std::ranges::any_of(args.word(option), [](unsigned char c) { return isspace(c); }))
            return usageProblem(format("%s \"%s\": an argument file cannot carry a name with "
                                       "white space",
                                       optionName(option), messageText(args.word(option)).c_str()));
    uint32_t scale = scaleOption(args);
    Model like;
    bool likeGiven = args.has(OPT_LIKE);
    if (likeGiven)
        if (Problem p = modelLoad(args.word(OPT_LIKE), like))
            return p;
    std::vector<Mesh> meshes;
    std::vector<std::vector<unsigned char>> images;  // made whole: glTF with --like
    std::vector<std::string> names;
    if (Problem p =
            gltf ? importGltf(args, scale, likeGiven ? &like : nullptr, meshes, images, names)
                 : importObj(args, scale, likeGiven ? &like : nullptr, meshes))
        return p;
    if (likeGiven && !gltf)
        if (Problem p = meshLike(meshes[0], like))
            return p;
    std::vector<std::string> files = {args.word(OPT_OUT)};
    if (args.has(OPT_VARIANTS))
        for (const std::string &file : variantFiles(args.word(OPT_VARIANTS), names))
            files.push_back(file);
    std::vector<OutputFile> outs(files.size());
    for (size_t i = 0; i < outs.size(); i++) {
        outs[i].target = files[i];
        if (!images.empty())
            outs[i].bytes = std::move(images[i]);
        else if (Problem p = meshImage(std::move(meshes[i]), like.flags, files[i], outs[i].bytes))
            return p;
    }
    if (args.has(OPT_VARIANTS))
        outs.push_back(argumentFile(args.word(OPT_VARIANTS), files));
    if (Problem p = writeOutputs(outs))
        return p;
    for (size_t i = 1; i < files.size(); i++)
        msgPrint(stdout, "%s\n", files[i].c_str());
    return {};
}

// The targets' names --names gives, split at commas: one per variant group
// of file, none empty, none twice (import could not tell two targets of one
// name apart).
static Problem namesOption(const Args &args, const KeloFile &file, std::vector<std::string> &names)
{
    names.clear();
    std::set<std::string> seen;
    const std::string &list = args.word(OPT_NAMES);
    for (size_t from = 0, comma = 0; comma != std::string::npos; from = comma + 1) {
        comma = list.find(',', from);
        names.push_back(list.substr(from, comma - from));
        if (names.back().empty())
            return usageProblem("--names holds an empty name");
        if (!seen.insert(names.back()).second)
            return usageProblem(
                format("--names gives \"%s\" twice", messageText(names.back()).c_str()));
    }
    if (names.size() != file.groups())
        return usageProblem(format("--names gives %zu names, %s has %lu variant groups",
                                   names.size(), file.name.c_str(), (unsigned long)file.groups()));
    return {};
}

// kelo export IN.kgx [--vdf F] [--ndf F] [--scale S] [--names N0,N1,...]
// -o OUT.glb|OUT.gltf: one target per variant group.
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
    std::vector<std::string> names;
    if (args.has(OPT_NAMES))
        if (Problem p = namesOption(args, files[0], names))
            return p;
    GltfAsset asset;
    if (Problem p = gltfFromModel(m, files, scaleOption(args), asset))
        return p;
    if (!names.empty())
        asset.targetNames = names;
    std::string bytes = gltfEncode(asset, hasExtension(out, ".glb"));
    return writeOutput(out, bytes.data(), bytes.size());
}

// kelo export IN.kgx -o OUT: glTF by OUT's extension, OBJ otherwise.
Problem cmdExport(const Args &args)
{
    const std::string &out = args.word(OPT_OUT);
    bool gltf = isGltfName(out);
    for (OptionId option : {OPT_VDF, OPT_NDF, OPT_SCALE, OPT_NAMES})
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
