// blend.cpp -- kelo blend: base plus the weighted sum of every variant's
// differences, as a runtime blends them
#include "kelo.h"

#include <cmath>
#include <cstdlib>

// The sum is rounded once, not group by group, so that many small weights
// keep their fractions; and it is the move that is rounded, not the
// position, so that a move of -0.5 goes as far as one of +0.5 wherever the
// base is.  A sum that is not a number (never made by the weights blend
// accepts) would clamp to the lower end rather than convert undefined.
int16_t blendValue(int16_t base, double sum)
{
    double v = (double)base + std::round(sum);
    if (!(v > -32768.0))
        return -32768;
    if (v > 32767.0)
        return 32767;
    return (int16_t)v;
}

// The weights: one finite decimal number per operand after the base, whose
// magnitudes are small enough that no weighted sum of 16-bit differences
// can overflow (so every sum is finite and rounds and clamps as documented).
static Problem parseWeights(const std::vector<std::string> &operands, std::vector<double> &weights)
{
    double total = 0;
    for (size_t i = 1; i < operands.size(); i++) {
        char *end;
        double w = strtod(operands[i].c_str(), &end);
        if (operands[i].empty() || *end || !std::isfinite(w))
            return usageProblem(format("%s is not a weight", operands[i].c_str()));
        weights.push_back(w);
        total += std::fabs(w);
    }
    if (!std::isfinite(total * 32768.0))
        return usageProblem("the weights are too large: a weighted sum of 16-bit differences "
                            "could overflow");
    return {};
}

Problem blendVariants(const Model &m, const std::vector<KeloFile> &files,
                      const std::vector<double> &weights, std::vector<unsigned char> &image)
{
    for (const KeloFile &f : files)
        if (f.groups() != weights.size())
            return problemIn(KELO_NO_GROUP, f.name,
                             format("has %lu variant groups, but %zu weights are given",
                                    (unsigned long)f.groups(), weights.size()));
    std::vector<double> sum(m.image.size(), 0.0);
    std::vector<bool> touched(m.image.size(), false);
    Changes ch;
    for (uint32_t g = 0; g < weights.size(); g++) {
        ch.begin(m.image.size());
        for (const KeloFile &f : files)
            if (Problem p = groupChanges(m, f, g, ch))
                return p;
        for (uint32_t at : ch.at) {
            sum[at] += weights[g] * ch.diff[at];
            touched[at] = true;
        }
    }
    image = m.image;
    for (size_t at = 0; at < image.size(); at++)
        if (touched[at])
            storeLE16(&image[at], blendValue(m.value((uint32_t)at), sum[at]));
    return {};
}

// kelo blend BASE W0 W1 ... --vdf F [--ndf F] -o OUT.
Problem cmdBlend(const Args &args)
{
    std::vector<double> weights;
    if (Problem p = parseWeights(args.operands, weights))
        return p;
    Model m;
    if (Problem p = modelLoad(args.operands[0], m))
        return p;
    std::vector<KeloFile> files;
    if (Problem p = loadFiles(args, {OPT_VDF, OPT_NDF}, files))
        return p;
    std::vector<unsigned char> image;
    if (Problem p = blendVariants(m, files, weights, image))
        return p;
    return writeOutput(args.word(OPT_OUT), image.data(), image.size());
}
