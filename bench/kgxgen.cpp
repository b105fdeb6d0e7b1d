// kgxgen.cpp -- seeded KGX workloads for the keyblend benchmarks
//
// Usage: kgxgen WORKLOAD DIR [SEED]
// Writes DIR/base.kgx and DIR/v01.kgx ... for one of the workloads a-f
// (listed in WORKLOADS below) and prints one line for bench/run:
//   OPTIONS|ELEMENTS|VARIANTS
// the keyblend options the workload is meant to run with, the number of
// elements keyblend compares in that run and the number of variants.  The same workload and seed
// give the same bytes on every machine: values come straight from std::mt19937, whose output
// sequence is fixed, never through a distribution, whose mapping is left to each library.
#include "kelo_diff.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

enum class Change { Contiguous, None, All, Scattered };

struct Workload {
    char id;
    const char *options;  // keyblend options the workload exercises
    uint32_t objects, vertices, normals, prims, variants;
    Change change;
    uint32_t percent;  // share of elements that differ, for Contiguous and Scattered
    bool textured;     // primitives are textured four-corner ones
};

constexpr Workload WORKLOADS[] = {
    {'a', "", 8, 500, 500, 250, 20, Change::Contiguous, 5, false},
    {'b', "-n", 16, 65000, 65000, 0, 10, Change::Contiguous, 10, false},
    {'c', "-n", 16, 65000, 65000, 0, 10, Change::None, 0, false},
    {'d', "-n", 16, 65000, 65000, 0, 10, Change::All, 100, false},
    {'e', "-n", 16, 65000, 65000, 0, 10, Change::Scattered, 10, false},
    {'f', "-t", 16, 0, 0, 20000, 10, Change::Contiguous, 10, true},
};

constexpr uint32_t PACKET_WORDS = 8;  // 4 texture words, 4 index words
constexpr uint32_t MODE_TEX4 = MODE_TEXTURED | MODE_FOUR_CORNERS;
constexpr uint32_t MODE_PLAIN = 0;
constexpr uint32_t FLAGS = 0x00010002;  // the same in every file

// Which elements of an array of n differ from the base in one variant.
std::vector<bool> changedSet(const Workload &w, uint32_t n, std::mt19937 &rng)
{
    std::vector<bool> changed(n, false);
    if (n == 0)
        return changed;
    uint32_t k = (uint32_t)((uint64_t)n * w.percent / 100);
    switch (w.change) {
    case Change::None:
        break;
    case Change::All:
        changed.assign(n, true);
        break;
    case Change::Contiguous: {
        if (k == 0)
            k = 1;
        uint32_t start = rng() % (n - k + 1);
        for (uint32_t i = 0; i < k; i++)
            changed[start + i] = true;
        break;
    }
    case Change::Scattered:
        for (uint32_t i = 0; i < n; i++)
            changed[i] = rng() % 100 < w.percent;
        break;
    }
    return changed;
}

// A non-zero 16-bit step, so a changed element always differs.
uint16_t step(std::mt19937 &rng) { return (uint16_t)(1 + rng() % 0xFFFF); }

// An array of n elements: the base's values, with the changed elements
// moved in one of their values.
std::vector<int16_t> elements(uint32_t n, uint32_t salt, const std::vector<bool> *changed,
                              std::mt19937 &rng)
{
    std::vector<int16_t> values;
    for (uint32_t i = 0; i < n; i++) {
        uint16_t v[ELEMENT_VALUES];
        for (uint32_t c = 0; c < ELEMENT_VALUES; c++)
            v[c] = (uint16_t)((i * 2654435761u + salt * 40503u + c * 977u) >> 7);
        if (changed && (*changed)[i])
            v[rng() % ELEMENT_VALUES] += step(rng);
        for (uint16_t x : v)
            values.push_back((int16_t)x);
    }
    return values;
}

// Sets the object's n primitives, each with a packet of PACKET_WORDS words.
void primitives(const Workload &w, uint32_t n, uint32_t salt, const std::vector<bool> *changed,
                std::mt19937 &rng, KgxObjectArrays &ob)
{
    // 0x03: free bits, which only the header comparison looks at.
    const uint32_t header = primHeader(w.textured ? MODE_TEX4 : MODE_PLAIN, PACKET_WORDS, 0x03);
    for (uint32_t i = 0; i < n; i++) {
        ob.primHeaders.push_back(header);
        unsigned char packet[PACKET_WORDS * 4];
        for (uint32_t b = 0; b < sizeof packet; b++)
            packet[b] = (unsigned char)((i * 131u + salt * 7u + b * 29u) >> 2);
        if (changed && (*changed)[i]) {
            // One of the bytes a texture element compares: the lower (value
            // 2k + 1) or the upper (value 2k) of word k.
            uint32_t k = rng() % primCorners(MODE_TEX4);
            uint32_t at = texByteAt(2 * k + 1 - rng() % 2);
            packet[at] = (unsigned char)(packet[at] + 1 + rng() % 255);
        }
        ob.packets.insert(ob.packets.end(), packet, packet + sizeof packet);
    }
}

// Builds one model; variant 0 is the base, which changes nothing.
std::vector<unsigned char> model(const Workload &w, uint32_t variant, std::mt19937 &rng)
{
    std::vector<KgxObjectArrays> objects(w.objects);
    for (uint32_t o = 0; o < w.objects; o++) {
        KgxObjectArrays &ob = objects[o];
        std::vector<bool> vc, nc, pc;
        if (variant) {
            vc = changedSet(w, w.vertices, rng);
            nc = changedSet(w, w.normals, rng);
            pc = changedSet(w, w.prims, rng);
        }
        ob.vert = elements(w.vertices, o, variant ? &vc : nullptr, rng);
        ob.norm = elements(w.normals, o + 1000, variant ? &nc : nullptr, rng);
        primitives(w, w.prims, o, variant ? &pc : nullptr, rng, ob);
        ob.scale = 4096 + o;
    }
    return kgxBuild(FLAGS, objects);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3 || strlen(argv[1]) != 1) {
        fprintf(stderr, "usage: kgxgen a|b|c|d|e|f DIR [SEED]\n");
        return 2;
    }
    const Workload *w = nullptr;
    for (const Workload &x : WORKLOADS)
        if (x.id == argv[1][0])
            w = &x;
    if (!w) {
        fprintf(stderr, "kgxgen: no workload %s\n", argv[1]);
        return 2;
    }
    uint32_t seed = argc > 3 ? (uint32_t)strtoul(argv[3], nullptr, 10) : 1;
    std::mt19937 rng(seed * 977u + (uint32_t)w->id);
    for (uint32_t v = 0; v <= w->variants; v++) {
        std::vector<unsigned char> bytes = model(*w, v, rng);
        char name[32];
        if (v == 0)
            snprintf(name, sizeof name, "base.kgx");
        else
            snprintf(name, sizeof name, "v%02u.kgx", v);
        std::string path = std::string(argv[2]) + "/" + name;
        FILE *fp = fopen(path.c_str(), "wb");
        if (!fp || fwrite(bytes.data(), 1, bytes.size(), fp) != bytes.size() || fclose(fp) != 0) {
            fprintf(stderr, "kgxgen: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    bool normals = strstr(w->options, "-n"), prims = strstr(w->options, "-t");
    uint64_t elements = (uint64_t)w->variants * w->objects *
                        (w->vertices + (normals ? w->normals : 0) + (prims ? w->prims : 0));
    printf("%s|%llu|%u\n", w->options, (unsigned long long)elements, w->variants);
    return 0;
}
