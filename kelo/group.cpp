// group.cpp -- one variant group of a difference file against its base: does
// it fit, and what does it change
#include "kelo.h"

Problem recordFits(const Model &m, const KeloFile &f, uint32_t i)
{
    const KeloRecord &r = f.rec[i];
    if (r.obj >= m.obj.size())
        return problemAt(KELO_BAD_FILE, f.name, r.at + 4 * REC_OBJ,
                         format("record %lu: object %lu is outside the base's %zu objects",
                                (unsigned long)i, (unsigned long)r.obj, m.obj.size()));
    uint32_t n = kindElements(m.obj[r.obj], f.kind);
    if ((uint64_t)r.first + r.count <= n)
        return {};
    std::string run =
        r.count ? format("%s %lu to %llu are", kindPlural(f.kind), (unsigned long)r.first,
                         (unsigned long long)r.first + r.count - 1)
                : format("an empty run at %s %lu is", kindElement(f.kind), (unsigned long)r.first);
    return problemAt(KELO_BAD_FILE, f.name, r.at + 4 * REC_FIRST,
                     format("record %lu: %s outside object %lu's %lu %s", (unsigned long)i,
                            run.c_str(), (unsigned long)r.obj, (unsigned long)n,
                            kindPlural(f.kind)));
}

Problem groupFits(const Model &m, const KeloFile &f, uint32_t group)
{
    for (uint32_t i = f.groupAt[group]; i < f.groupAt[group + 1]; i++)
        if (Problem p = recordFits(m, f, i))
            return p;
    return {};
}

void Changes::begin(size_t imageSize)
{
    if (stamp.size() != imageSize) {
        stamp.assign(imageSize, 0);
        diff.assign(imageSize, 0);
        round = 0;
    }
    at.clear();
    round++;
}

// Sets the difference at position p for this round.  Returns false when an
// earlier record of the round set a different one.
static bool setChange(Changes &ch, uint32_t p, int16_t d)
{
    if (ch.stamp[p] == ch.round)
        return ch.diff[p] == d;
    ch.stamp[p] = ch.round;
    ch.diff[p] = d;
    ch.at.push_back(p);
    return true;
}

Problem groupChanges(const Model &m, const KeloFile &f, uint32_t group, Changes &ch)
{
    if (group >= f.groups())
        return problemIn(KELO_NO_GROUP, f.name,
                         format("has %lu variant groups; there is no variant %lu",
                                (unsigned long)f.groups(), (unsigned long)group));
    if (Problem p = groupFits(m, f, group))
        return p;
    const uint32_t values = keloElementValues(f.kind);
    for (uint32_t i = f.groupAt[group]; i < f.groupAt[group + 1]; i++) {
        const KeloRecord &r = f.rec[i];
        for (uint32_t e = 0; e < r.count; e++) {
            uint32_t j = r.first + e, base, room;
            if (f.kind == KIND_TDF) {
                base = m.primitiveAt(r.obj, j) + PRIM_HEAD;
                room = 4 * primPacketWords(m.word(base - PRIM_HEAD));
            } else {
                base = f.kind == KIND_VDF ? m.vertexAt(r.obj, j) : m.normalAt(r.obj, j);
                room = KGX_ELEMENT;
            }
            for (uint32_t v = 0; v < values; v++) {
                int16_t d = f.value(r, e, v);
                uint32_t at = f.kind == KIND_TDF ? texByteAt(v) : 2 * v;
                if (at >= room) {
                    // keyblend compares a missing byte as 0 in both models,
                    // so it never writes a value for one.
                    if (d == 0)
                        continue;
                    return problemAt(KELO_BAD_FILE, f.name, r.at,
                                     format("record %lu: primitive %lu has no packet byte %lu",
                                            (unsigned long)i, (unsigned long)j, (unsigned long)at));
                }
                if (!setChange(ch, base + at, d))
                    return problemAt(KELO_BAD_FILE, f.name, r.at,
                                     format("record %lu: %s %lu of object %lu shares model offset "
                                            "%lu with an earlier record, which changes it by %d, "
                                            "not %d",
                                            (unsigned long)i, kindElement(f.kind), (unsigned long)j,
                                            (unsigned long)r.obj, (unsigned long)base + at,
                                            ch.diff[base + at], d));
            }
        }
    }
    return {};
}

void applyChanges(const Model &m, KeloKind kind, const Changes &ch,
                  std::vector<unsigned char> &image)
{
    for (uint32_t p : ch.at) {
        if (kind == KIND_TDF)
            image[p] = (unsigned char)(m.image[p] + ch.diff[p]);
        else
            storeLE16(&image[p], (int16_t)(uint16_t)((uint16_t)m.value(p) + (uint16_t)ch.diff[p]));
    }
}
