// obj_cmd.cpp -- kelo import and kelo export: OBJ text to a KGX model and
// back
#include "obj.h"

// The scales an import uses: the base's for --like (each object that of the
// base's object of the same number, so that equal coordinates give equal
// integers), or the fitted one, printed.
static Problem importScales(const ObjText &text, const Model *like, std::vector<uint32_t> &scales)
{
    if (like) {
        scales.clear();
        for (const KgxObject &ob : like->obj)
            scales.push_back(ob.scale ? ob.scale : SCALE_ONE);
        if (scales.empty())
            scales.push_back(SCALE_ONE);
        return {};
    }
    if (Problem p = scaleFit(text, scales[0]))
        return p;
    msgPrint(stdout, "scale %s\n", scaleText(scales[0]).c_str());
    return {};
}

// kelo import IN.obj [--scale S | --fit | --like BASE.kgx] [--objects H] -o
// OUT.kgx.
Problem cmdImport(const Args &args)
{
    if (args.has("--scale") + args.has("--fit") + args.has("--like") > 1)
        return usageProblem("give at most one of --scale, --fit and --like");
    std::vector<uint32_t> scales(1, SCALE_ONE);
    const std::string *scaleWord = args.value("--scale");
    if (scaleWord && !scaleParse(scaleWord->c_str(), scales[0]))
        return usageProblem(format("--scale takes a positive number, not \"%s\"", scaleWord->c_str()));
    bool single = args.has("--objects") && *args.value("--objects") == "single";
    ObjText text;
    if (Problem p = objLoad(args.operands[0], single, text))
        return p;
    if (text.faces.empty())
        return problemIn(KELO_BAD_OBJ, text.name, "no faces to import");
    Model like;
    if (const std::string *name = args.value("--like"))
        if (Problem p = modelLoad(*name, like))
            return p;
    if (!scaleWord)
        if (Problem p = importScales(text, args.has("--like") ? &like : nullptr, scales))
            return p;
    Mesh mesh;
    if (Problem p = meshBuild(text, scales, mesh))
        return p;
    if (args.has("--like"))
        if (Problem p = meshLike(mesh, like))
            return p;
    const std::string &out = *args.value("-o");
    std::vector<unsigned char> image;
    if (Problem p = meshImage(mesh, like.flags, out, image))
        return p;
    return writeOutput(out, image.data(), image.size());
}

// kelo export IN.kgx -o OUT.obj.
Problem cmdExport(const Args &args)
{
    Model m;
    if (Problem p = modelLoad(args.operands[0], m))
        return p;
    std::string text;
    if (Problem p = objExport(m, text))
        return p;
    return writeOutput(*args.value("-o"), text.data(), text.size());
}
