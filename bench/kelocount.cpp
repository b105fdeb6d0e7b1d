// kelocount.cpp -- count the put calls that wrote a difference file
//
// Usage: kelocount VARIANTS FILE:VALUES [FILE:VALUES...]
// Reads each difference file (VALUES 16-bit values per element: 4 for vertex
// and normal files, 8 for texture files) and prints the number of put calls
// with data that keyblend made to write it, which is also the number of
// write calls it needs, since every put is flushed:
//   1 for the provisional record count, and 1 more when the count was
//     corrected because the records differ from VARIANTS;
//   3 for an empty record (object index, 0, 0);
//   4 for a record with a run (object index, first index, the placeholder
//     count and its patch), plus 1 per differing element (one array put)
//     and VALUES per zero element inside the run (one put per value).
// A differing element is never all zeros, so the two kinds of element can be
// told apart from the file alone.
#include "kelo_diff.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// Reads the next little-endian word; false at the end of the file.
static bool word(FILE *fp, uint32_t *w)
{
    unsigned char b[4];
    if (fread(b, 1, sizeof b, fp) != sizeof b)
        return false;
    *w = loadLE32(b);
    return true;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: kelocount VARIANTS FILE:VALUES...\n");
        return 2;
    }
    uint64_t variants = strtoull(argv[1], nullptr, 10), puts = 0;
    for (int i = 2; i < argc; i++) {
        std::string arg = argv[i];
        size_t colon = arg.rfind(':');
        if (colon == std::string::npos) {
            fprintf(stderr, "kelocount: %s lacks :VALUES\n", argv[i]);
            return 2;
        }
        size_t elemBytes = 2 * strtoul(arg.c_str() + colon + 1, nullptr, 10);
        std::string name = arg.substr(0, colon);
        FILE *fp = fopen(name.c_str(), "rb");
        uint32_t records = 0;
        if (!fp || !word(fp, &records)) {
            fprintf(stderr, "kelocount: cannot read %s\n", name.c_str());
            return 2;
        }
        puts += 1 + (records != variants);
        std::vector<unsigned char> elem(elemBytes);
        const std::vector<unsigned char> zero(elemBytes, 0);
        uint32_t head[REC_WORDS];
        for (uint32_t r = 0; r < records; r++) {
            for (uint32_t &w : head)
                if (!word(fp, &w)) {
                    fprintf(stderr, "kelocount: %s ends inside record %u\n", name.c_str(), r);
                    return 2;
                }
            // One put per word of the head, and the patch of a run's count.
            puts += REC_WORDS + (head[REC_COUNT] ? 1 : 0);
            for (uint32_t e = 0; e < head[REC_COUNT]; e++) {
                if (fread(elem.data(), 1, elemBytes, fp) != elemBytes) {
                    fprintf(stderr, "kelocount: %s ends inside record %u\n", name.c_str(), r);
                    return 2;
                }
                puts += elem == zero ? elemBytes / 2 : 1;
            }
        }
        fclose(fp);
    }
    printf("%llu\n", (unsigned long long)puts);
    return 0;
}
