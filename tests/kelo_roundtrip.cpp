// kelo_roundtrip.cpp -- keyblend's run over generated sets, then kelo:
// applying the records to the base gives back every variant, and blending
// one variant at weight 1 gives what applying it does
#include "engine.h"
#include "kelo.h"
#include "kit/test.h"

#include <random>

using kit::Elem, kit::Obj, kit::Prim;

// A base and one to three variants.  Only what keyblend compares changes
// (vertex and normal values, the packet bytes of texture values), so apply
// must rebuild each variant byte for byte.  An object may share the arrays
// of the one before (in every model).  With wrap, values span the 16-bit
// range and move by 40000: most differences keyblend stores wrap around.
struct Set {
    kit::Model base;
    std::vector<kit::Model> variants;
    std::vector<bool> shared;

    Set(uint32_t seed, bool wrap)
    {
        std::mt19937 r(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(r); };
        auto value = [&] { return (int16_t)(wrap ? pick(-32767, 32767) : pick(-3000, 3000)); };
        for (int o = pick(1, 3); o > 0; o--) {
            Obj ob{.scale = 4096};
            shared.push_back(!shared.empty() && pick(0, 1));
            for (auto *elems : {&ob.verts, &ob.norms})
                for (int i = shared.back() ? 0 : pick(0, 9); i > 0; i--)
                    elems->push_back({value(), value(), value(), value()});
            for (int j = pick(0, 6); j > 0; j--) {
                std::string packet(4 * (size_t)pick(0, 6), 0);
                for (char &b : packet)
                    b = (char)pick(0, 255);
                const uint32_t mode =
                    (pick(0, 1) ? MODE_TEXTURED : 0) | (pick(0, 1) ? MODE_FOUR_CORNERS : 0);
                ob.prims.push_back(kit::prim(mode, packet, (uint32_t)r() & PRIM_FREE_BITS));
            }
            base.objs.push_back(ob);
        }
        const int percent =
            std::array{0, 15, 50, 100}[(size_t)pick(0, 3)];  // of the values changed
        for (int k = pick(1, 3); k > 0; k--) {
            kit::Model v = base;
            for (Obj &ob : v.objs) {
                for (auto *elems : {&ob.verts, &ob.norms})
                    for (Elem &e : *elems)
                        if (int16_t &x = e[(size_t)pick(0, 3)]; pick(1, 100) <= percent)
                            x = (int16_t)(!wrap    ? x + pick(1, 500)
                                          : x >= 0 ? x - 40000
                                                   : x + 40000);
                for (Prim &pr : ob.prims)
                    for (uint32_t t = 0, mode = primMode(pr.header);
                         mode & MODE_TEXTURED && t < 2 * primCorners(mode); t++)
                        if (texByteAt(t) < pr.packet.size() && pick(1, 100) <= percent)
                            pr.packet[texByteAt(t)] = (char)pick(0, 255);
            }
            variants.push_back(v);
        }
    }

    // The model file, each sharing object pointed at the arrays of the one before.
    std::string file(const kit::Model &m) const
    {
        std::string bytes = kit::bytes(m);
        for (uint32_t o = 1; o < shared.size(); o++)
            for (uint32_t w : {ENTRY_VERT_TOP, ENTRY_N_VERT, ENTRY_NORM_TOP, ENTRY_N_NORM})
                if (shared[o])
                    bytes = kit::setWord(bytes, kgxEntryAt(o, w),
                                         kit::word(bytes, kgxEntryAt(o - 1, w)));
        return bytes;
    }
};

TEST(RoundTrip, ApplyReproducesEveryVariant)
{
    kit::Scratch dir;
    std::string out = (dir / "p").string();
    outputName = out.data();
    NormalKelo = UVKelo = 1;
    for (uint32_t seed = 0; seed < 1400 && !HasFailure(); seed++) {
        const bool wrap = seed % 5 == 0;
        Set s(seed, wrap);
        // keyblend -n -t -o p base.kgx p0.kgx ...: its run over the variants,
        // in this process so that many sets stay fast (under the sanitizers too).
        kit::spit(dir / "base.kgx", s.file(s.base));
        std::vector<std::string> names;
        for (const kit::Model &v : s.variants)
            kit::spit(names.emplace_back(out + std::to_string(names.size()) + ".kgx"), s.file(v));
        std::vector<char *> variants;
        for (std::string &name : names)
            variants.push_back(name.data());
        FileHandle *fh = fileOpen((dir / "base.kgx").c_str(), "r");
        ASSERT_EQ(runVariants(fh, variants.data(), (int32_t)variants.size()), 0);
        fileClose(fh);
        ::Model base;
        ASSERT_FALSE(modelLoad((dir / "base.kgx").string(), base));
        std::vector<KeloFile> files(KINDS);
        for (int k = 0; k < KINDS; k++) {
            Problem p = keloLoad(out + "." + kindName((KeloKind)k), (KeloKind)k, files[k]);
            ASSERT_FALSE(p) << seed << ": " << problemMessage(p);
            ASSERT_EQ(files[k].groups(), s.variants.size())
                << seed << ": " << kindName((KeloKind)k);
        }
        const std::vector<KeloFile> vertNorm(files.begin(), files.begin() + 2);
        for (uint32_t v = 0; v < s.variants.size(); v++) {
            std::vector<unsigned char> applied, blended;
            Problem p = applyVariant(base, files, v, applied);
            EXPECT_FALSE(p) << problemMessage(p);
            EXPECT_EQ(kit::hex({(const char *)applied.data(), applied.size()}),
                      kit::hex(s.file(s.variants[v])))
                << "seed " << seed << " variant " << v;
            // Blend clamps where keyblend wrapped a difference.
            std::vector<double> weights(s.variants.size(), 0.0);
            weights[v] = 1;
            ASSERT_FALSE(applyVariant(base, vertNorm, v, applied) ||
                         blendVariants(base, vertNorm, weights, blended));
            EXPECT_TRUE(wrap || blended == applied) << "seed " << seed << " variant " << v;
        }
    }
}
