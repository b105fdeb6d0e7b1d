// kelo_roundtrip.cpp -- applying keyblend's records to the base gives back
// every variant, and blending one variant at weight 1 gives what applying
// it does, on generated sets of every shape
#include "../app/defs.h"
#include "kelo.h"
#include "kit/test.h"

#include <random>

using kit::Elem, kit::Obj, kit::Prim, kit::Scratch;

// keyblend's engine runs in this process; these stand in for its driver.
int32_t Verbose = 0;
uint8_t Dump = 0;
FILE *vout = stdout;
FILE *dout = stdout;

// A fatal report inside the engine or the library is a failed test, loudly.
void Exit(int32_t code)
{
    if (code != 0) {
        fprintf(stderr, "fatal report, code %d\n", (int)code);
        abort();
    }
}

enum Shape { DENSE, SPARSE, IDENTICAL, WRAP, TEXTURED, FOUR_CORNER, SHARED, SHAPES };

// One base and its variants; in shared[o] object o uses the vertex and
// normal arrays of object o - 1 (its own are empty), in every model.
struct Set {
    kit::Model base;
    std::vector<kit::Model> variants;
    std::vector<bool> shared;
};

// A set of one base and one to three variants.  Only what keyblend compares
// changes (vertex and normal values, the two high bytes of the texture
// words), so a variant rebuilt by apply must equal its file byte for byte.
static Set makeSet(uint32_t seed, Shape shape)
{
    std::mt19937 r(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(r); };
    auto chance = [&](double p) { return std::uniform_real_distribution<double>()(r) < p; };
    auto elem = [&](int span) { return Elem{(int16_t)pick(-span, span), (int16_t)pick(-span, span),
                                            (int16_t)pick(-span, span), (int16_t)pick(-span, span)}; };
    Set s;
    for (int o = pick(shape == SHARED ? 2 : 1, 3); o > 0; o--) {
        Obj ob{.scale = 4096};
        s.shared.push_back(!s.shared.empty() && shape == SHARED && chance(0.7));
        for (int i = s.shared.back() ? 0 : pick(0, 9); i > 0; i--)
            ob.verts.push_back(elem(shape == WRAP ? 32767 : 3000));
        for (int i = s.shared.back() ? 0 : pick(0, 9); i > 0; i--)
            ob.norms.push_back(elem(4096));
        for (int j = pick(0, 6); j > 0; j--) {
            uint32_t mode = shape == FOUR_CORNER ? 12 : shape == TEXTURED ? 4 : (uint32_t)pick(0, 2) * 4;
            std::string packet(4 * (size_t)pick(shape == TEXTURED || shape == FOUR_CORNER ? 3 : 0, 6), 0);
            for (char &b : packet)
                b = (char)pick(0, 255);
            ob.prims.push_back(kit::prim(mode, packet, (uint32_t)pick(0, 255) << 16 | (uint32_t)pick(0, 255)));
        }
        s.base.objs.push_back(ob);
    }
    double p = shape == DENSE ? 1.0 : shape == IDENTICAL ? 0.0 : 0.15;
    for (int k = pick(1, 3); k > 0; k--) {
        kit::Model v = s.base;
        for (Obj &ob : v.objs) {
            for (auto *elems : {&ob.verts, &ob.norms})
                for (Elem &e : *elems)
                    if (chance(p)) {
                        int16_t &x = e[(size_t)pick(0, 3)];
                        // A wrap-around move crosses the 16-bit range, so
                        // only its value modulo 2^16 can be stored.
                        x = shape == WRAP ? (int16_t)(x >= 0 ? x - 40000 : x + 40000) : (int16_t)(x + pick(1, 500));
                    }
            for (Prim &pr : ob.prims) {
                bool textured = (primMode(pr.header) & MODE_TEXTURED) && shape != IDENTICAL;
                for (size_t w = 0; textured && w < texWords(primMode(pr.header)) && 4 * w + 4 <= pr.packet.size(); w++)
                    for (size_t b = 2; b < 4; b++)
                        if (chance(shape == TEXTURED || shape == FOUR_CORNER ? 0.5 : p))
                            pr.packet[4 * w + b] = (char)pick(0, 255);
            }
        }
        s.variants.push_back(v);
    }
    return s;
}

// The model file, with each sharing object pointed at the arrays of the
// object before it.
static std::string built(const Set &s, const kit::Model &m)
{
    std::string bytes = kit::bytes(m);
    for (uint32_t o = 1; o < s.shared.size(); o++)
        for (uint32_t w : {ENTRY_VERT_TOP, ENTRY_N_VERT, ENTRY_NORM_TOP, ENTRY_N_NORM})
            if (s.shared[o])
                bytes = kit::setWord(bytes, kgxEntryAt(o, w), kit::word(bytes, kgxEntryAt(o - 1, w)));
    return bytes;
}

// keyblend's driver loop, run on the engine in this process: the
// provisional count, the three comparisons per variant and the count fix.
static void diffInProcess(const std::string &dir, size_t nVariants)
{
    const char *ext[3] = {"vdf", "ndf", "tdf"};
    FileHandle *out[3];
    for (int k = 0; k < 3; k++) {
        out[k] = fileOpen((dir + "/p." + ext[k]).c_str(), "w");
        put4Bytes((uint32_t)nVariants, out[k]);
    }
    nVDF = nNDF = nMDF = 0;
    FileHandle *base = fileOpen((dir + "/base.kgx").c_str(), "r");
    for (size_t k = 0; k < nVariants; k++) {
        FileHandle *var = fileOpen((dir + "/v" + std::to_string(k) + ".kgx").c_str(), "r");
        if (kgx_diff(base, var) > 0) {
            vn_diff(base, var, out[0], out[1]);
            mat_diff(base, var, out[2]);
        }
        fileSeek(base, 0);
        fileClose(var);
    }
    fileClose(base);
    uint32_t records[3] = {nVDF, nNDF, nMDF};
    for (int k = 0; k < 3; k++) {
        if (records[k] != nVariants) {
            fileSeek(out[k], 0);
            put4Bytes(records[k], out[k]);
        }
        fileClose(out[k]);
    }
}

// Each variant group applied to the base gives the variant's bytes; blended
// alone at weight 1 (where no difference wrapped) it gives the variant's
// vertices and normals as apply does.
static void expectRoundTrip(const std::string &dir, const Set &s, Shape shape, uint32_t seed)
{
    ::Model base;
    ASSERT_FALSE(modelLoad(dir + "/base.kgx", base));
    std::vector<KeloFile> files(KINDS);
    for (int k = 0; k < KINDS; k++) {
        ASSERT_FALSE(keloLoad(dir + "/p." + kindName((KeloKind)k), (KeloKind)k, files[k])) << seed;
        ASSERT_EQ(files[k].groups(), s.variants.size()) << seed << " " << kindName((KeloKind)k);
    }
    const std::vector<KeloFile> vertNorm(files.begin(), files.begin() + 2);
    for (uint32_t v = 0; v < s.variants.size(); v++) {
        std::vector<unsigned char> applied, blended;
        Problem p = applyVariant(base, files, v, applied);
        EXPECT_FALSE(p) << problemMessage(p);
        EXPECT_EQ(kit::hex({(const char *)applied.data(), applied.size()}),
                  kit::hex(built(s, s.variants[v])))
            << "seed " << seed << " variant " << v;
        if (shape == WRAP)
            continue;
        std::vector<double> weights(s.variants.size(), 0.0);
        weights[v] = 1;
        ASSERT_FALSE(applyVariant(base, vertNorm, v, applied));
        ASSERT_FALSE(blendVariants(base, vertNorm, weights, blended));
        EXPECT_EQ(blended, applied) << "seed " << seed << " variant " << v;
    }
}

constexpr uint32_t SETS_PER_SHAPE = 200;

class RoundTrip : public testing::TestWithParam<int> {};

// 200 sets of each shape through keyblend's engine and kelo's apply, in
// this process so that a thousand sets stay fast (under the sanitizers too).
TEST_P(RoundTrip, ApplyReproducesEveryVariant)
{
    Scratch dir;
    Shape shape = (Shape)GetParam();
    for (uint32_t n = 0; n < SETS_PER_SHAPE && !HasFailure(); n++) {
        uint32_t seed = 1000 * (uint32_t)shape + n;
        Set s = makeSet(seed, shape);
        kit::spit(dir / "base.kgx", built(s, s.base));
        for (size_t k = 0; k < s.variants.size(); k++)
            kit::spit(dir / ("v" + std::to_string(k) + ".kgx"), built(s, s.variants[k]));
        diffInProcess(dir.dir, s.variants.size());
        expectRoundTrip(dir.dir, s, shape, seed);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RoundTrip, testing::Range(0, (int)SHAPES));
