// kgx_model.cpp -- the model builder: plain arrays in, a KGX byte image out
#include "kgx_model.h"

#include <algorithm>

static uint64_t primitiveBytes(const KgxObjectArrays &ob)
{
    uint64_t bytes = 0;
    for (uint32_t header : ob.primHeaders)
        bytes += PRIM_HEAD + 4 * (uint64_t)primPacketWords(header);
    return bytes;
}

uint64_t kgxBuildSize(const std::vector<KgxObjectArrays> &objects)
{
    uint64_t size = kgxEntryAt((uint32_t)objects.size());
    for (const KgxObjectArrays &ob : objects)
        size += 2 * ((uint64_t)ob.vert.size() + ob.norm.size()) + primitiveBytes(ob);
    return size;
}

// Appends the 16-bit values, low byte first, rounding a short last element
// up with zeros.
static void putValues(std::vector<unsigned char> &image, const std::vector<int16_t> &values)
{
    size_t at = image.size();
    size_t elements = (values.size() + ELEMENT_VALUES - 1) / ELEMENT_VALUES;
    image.resize(at + KGX_ELEMENT * elements);
    for (int16_t v : values) {
        storeLE16(&image[at], v);
        at += 2;
    }
}

std::vector<unsigned char> kgxBuild(uint32_t flags, const std::vector<KgxObjectArrays> &objects)
{
    const uint32_t nObj = (uint32_t)objects.size();
    std::vector<unsigned char> image((size_t)kgxEntryAt(nObj));
    image.reserve((size_t)kgxBuildSize(objects));
    storeLE32(&image[0], KGX_ID);
    storeLE32(&image[KGX_FLAGS_AT], flags);
    storeLE32(&image[KGX_COUNT_AT], nObj);
    for (uint32_t o = 0; o < nObj; o++) {
        const KgxObjectArrays &ob = objects[o];
        auto entry = [&](KgxEntryWord w, uint64_t v) {
            storeLE32(&image[(size_t)kgxEntryAt(o, w)], (uint32_t)v);
        };
        // Tops count from the object table.
        auto top = [&] { return (uint64_t)image.size() - KGX_TABLE; };
        entry(ENTRY_VERT_TOP, top());
        entry(ENTRY_N_VERT, (ob.vert.size() + ELEMENT_VALUES - 1) / ELEMENT_VALUES);
        putValues(image, ob.vert);
        entry(ENTRY_NORM_TOP, top());
        entry(ENTRY_N_NORM, (ob.norm.size() + ELEMENT_VALUES - 1) / ELEMENT_VALUES);
        putValues(image, ob.norm);
        entry(ENTRY_PRIM_TOP, top());
        entry(ENTRY_N_PRIM, ob.primHeaders.size());
        entry(ENTRY_SCALE, ob.scale);
        size_t packet = 0;
        for (uint32_t header : ob.primHeaders) {
            size_t at = image.size();
            size_t bytes = 4 * (size_t)primPacketWords(header);
            image.resize(at + PRIM_HEAD + bytes);
            storeLE32(&image[at], header);
            size_t have =
                packet < ob.packets.size() ? std::min(bytes, ob.packets.size() - packet) : 0;
            if (have)
                std::copy_n(&ob.packets[packet], have, &image[at + PRIM_HEAD]);
            packet += bytes;
        }
    }
    return image;
}
