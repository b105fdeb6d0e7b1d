// apply.cpp -- kelo apply: the model one variant's records describe
#include "kelo.h"

Problem applyVariant(const Model &m, const std::vector<KeloFile> &files, uint32_t group,
                     std::vector<unsigned char> &image)
{
    Changes values, bytes;  // 16-bit values of vdf and ndf; packet bytes of tdf
    values.begin(m.image.size());
    bytes.begin(m.image.size());
    for (const KeloFile &f : files)
        if (Problem p = groupChanges(m, f, group, f.kind == KIND_TDF ? bytes : values))
            return p;
    image = m.image;
    applyChanges(m, KIND_VDF, values, image);
    applyChanges(m, KIND_TDF, bytes, image);
    return {};
}

// kelo apply BASE --variant K [--vdf F] [--ndf F] [--tdf F] -o OUT.
Problem cmdApply(const Args &args)
{
    Model m;
    if (Problem p = modelLoad(args.operands[0], m))
        return p;
    std::vector<KeloFile> files;
    if (Problem p = loadFiles(args, {OPT_VDF, OPT_NDF, OPT_TDF}, files))
        return p;
    std::vector<unsigned char> image;
    if (Problem p = applyVariant(m, files, args.number(OPT_VARIANT), image))
        return p;
    return writeOutput(args.word(OPT_OUT), image.data(), image.size());
}
