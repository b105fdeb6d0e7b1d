// kelo_roundtrip.cpp -- applying keyblend's records to the base gives back
// every variant, on generated sets of every shape
#include "kit/test.h"

using namespace kit;

#include "../app/defs.h"
#include "../app/kelo/kelo.h"

#include <random>

// keyblend's engine runs in this process; these stand in for its driver.
int32_t Verbose = 0;
uint8_t Dump = 0;
FILE *vout = stdout;
FILE *dout = stdout;

// A fatal report inside the engine or kelo is a failed test, loudly.
void Exit(int32_t code)
{
    if (code != 0) {
        fprintf(stderr, "fatal report, code %d\n", (int)code);
        abort();
    }
}

enum Shape { DENSE, SPARSE, IDENTICAL, WRAP, TEXTURED, FOUR_CORNER, SHAPES };

struct Set {
    Model base;
    std::vector<Model> variants;
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
    for (int o = pick(1, 3); o > 0; o--) {
        Obj ob{.scale = 4096};
        for (int i = pick(0, 9); i > 0; i--)
            ob.verts.push_back(elem(shape == WRAP ? 32767 : 3000));
        for (int i = pick(0, 9); i > 0; i--)
            ob.norms.push_back(elem(4096));
        for (int j = pick(0, 6); j > 0; j--) {
            uint32_t mode = shape == FOUR_CORNER ? 12 : shape == TEXTURED ? 4 : (uint32_t)pick(0, 2) * 4;
            std::string packet(4 * (size_t)pick(shape >= TEXTURED ? 3 : 0, 6), 0);
            for (char &b : packet)
                b = (char)pick(0, 255);
            ob.prims.push_back(prim(mode, packet, (uint32_t)pick(0, 255) << 16 | (uint32_t)pick(0, 255)));
        }
        s.base.objs.push_back(ob);
    }
    double p = shape == DENSE ? 1.0 : shape == IDENTICAL ? 0.0 : 0.15;
    for (int k = pick(1, 3); k > 0; k--) {
        Model v = s.base;
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
                size_t words = pr.header >> 24 & 8 ? 4 : 3;
                bool textured = (pr.header >> 24 & 4) && shape != IDENTICAL;
                for (size_t w = 0; textured && w < words && 4 * w + 4 <= pr.packet.size(); w++)
                    for (size_t b = 2; b < 4; b++)
                        if (chance(shape >= TEXTURED ? 0.5 : p))
                            pr.packet[4 * w + b] = (char)pick(0, 255);
            }
        }
        s.variants.push_back(v);
    }
    return s;
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

// Writes the set's models as base.kgx, v0.kgx, ...
static void writeSet(const fs::path &dir, const Set &s)
{
    spit(dir / "base.kgx", bytes(s.base));
    for (size_t k = 0; k < s.variants.size(); k++)
        spit(dir / std::string("v").append(std::to_string(k)).append(".kgx"), bytes(s.variants[k]));
}

// Every record of the three files fits the base, and each variant group
// applied to the base gives the variant's bytes.
static void expectRoundTrip(const std::string &dir, const Set &s, uint32_t seed)
{
    KgxModel base;
    ASSERT_EQ(modelLoad(&base, (dir + "/base.kgx").c_str()), 1);
    KeloFile f[3];
    char why[256];
    for (int k = 0; k < 3; k++) {
        ASSERT_EQ(keloLoad(&f[k], (dir + "/p." + kindName[k]).c_str(), (KeloKind)k), 1) << seed;
        ASSERT_EQ(f[k].nGroup, s.variants.size()) << seed << " " << kindName[k];
        for (uint32_t i = 0; i < f[k].nRec; i++)
            EXPECT_LT(checkRecord(&base, &f[k], &f[k].rec[i], why, sizeof why), 0) << why;
    }
    for (size_t v = 0; v < s.variants.size(); v++) {
        KgxModel m;
        ASSERT_EQ(modelCopy(&m, &base, "applied"), 1);
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(applyGroup(&m, &f[k], (uint32_t)v, why, sizeof why), 1) << why;
        EXPECT_EQ(hex(std::string((char *)m.image, m.size)), hex(bytes(s.variants[v])))
            << "seed " << seed << " variant " << v;
        modelFree(&m);
    }
    for (KeloFile &kf : f)
        keloFree(&kf);
    modelFree(&base);
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
        writeSet(dir.dir, s);
        diffInProcess(dir.dir, s.variants.size());
        expectRoundTrip(dir.dir, s, seed);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RoundTrip, testing::Range(0, (int)SHAPES));
