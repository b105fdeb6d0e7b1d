// kelofile.cpp -- read a difference file whole and split it into records
// and variant groups
#include "kelo.h"

#include <strings.h>

static const char *const KIND_ELEMENTS[KINDS] = {"vertex", "normal", "primitive"};
static const char *const KIND_PLURALS[KINDS] = {"vertices", "normals", "primitives"};

const char *kindName(KeloKind kind) { return KELO_EXT[kind]; }

const char *kindElement(KeloKind kind) { return KIND_ELEMENTS[kind]; }

const char *kindPlural(KeloKind kind) { return KIND_PLURALS[kind]; }

// The kind a word names ("vdf", "ndf", "tdf" in any case), if any.
std::optional<KeloKind> kindFromWord(std::string_view word)
{
    for (int32_t k = 0; k < KINDS; k++)
        if (word.size() == 3 && strncasecmp(word.data(), KELO_EXT[k], 3) == 0)
            return (KeloKind)k;
    return std::nullopt;
}

// The kind a file name's extension names, if any: none without a dot.
std::optional<KeloKind> kindFromName(const std::string &name)
{
    const char *ext = getExt0(name.c_str());
    return ext ? kindFromWord(ext) : std::nullopt;
}

Problem fileKind(const std::string &name, const Args &args, KeloKind &kind)
{
    std::optional<KeloKind> k =
        args.has(OPT_KIND) ? (KeloKind)args.number(OPT_KIND) : kindFromName(name);
    if (!k)
        return usageProblem(format("cannot tell the kind of %s; use --kind", name.c_str()));
    kind = *k;
    return {};
}

// Elements of the object that records of the kind index: vertices, normals
// or primitives.
uint32_t kindElements(const KgxObject &ob, KeloKind kind)
{
    return kind == KIND_VDF ? ob.nVert : kind == KIND_NDF ? ob.nNorm : ob.nPrim;
}

/*
 * Walks the records, checking that each head and run lies inside the file
 * and that the count at offset 0 matches the records present.  A new group
 * begins wherever the object index stops increasing.  The offset of a
 * problem is that of the record that runs past the end, of the first record
 * beyond the count, or the file's size when the count promises more.
 */
Problem keloParse(KeloFile &f)
{
    const size_t size = f.image.size();
    auto refuse = [&](uint64_t at, std::string what) {
        return problemAt(KELO_BAD_FILE, f.name, (int64_t)at, std::move(what));
    };
    if (size < KELO_RECORDS_AT)
        return refuse(0, format("only %zu bytes, no room for the record count", size));
    uint32_t nCount = loadLE32(&f.image[KELO_COUNT_AT]);
    const uint64_t elementSize = 2 * (uint64_t)keloElementValues(f.kind);
    f.rec.clear();
    f.groupAt.clear();
    size_t beyondCount = 0;
    for (size_t p = KELO_RECORDS_AT; p < size;) {
        uint32_t n = (uint32_t)f.rec.size();
        if (n == nCount)
            beyondCount = p;
        if (size - p < KELO_RECORD_HEAD)
            return refuse(p, format("record %lu: %zu bytes left, too few for a record head",
                                    (unsigned long)n, size - p));
        auto field = [&](KeloRecordWord w) { return loadLE32(&f.image[p + 4 * (size_t)w]); };
        KeloRecord r = {(uint32_t)p, field(REC_OBJ), field(REC_FIRST), field(REC_COUNT), 0};
        uint64_t bytes = r.count * elementSize;
        if (bytes > size - p - KELO_RECORD_HEAD)
            return refuse(
                p, format("record %lu: a run of %lu %s elements needs %llu bytes, %zu remain",
                          (unsigned long)n, (unsigned long)r.count, kindName(f.kind),
                          (unsigned long long)bytes, size - p - KELO_RECORD_HEAD));
        if (f.rec.empty() || r.obj <= f.rec.back().obj)
            f.groupAt.push_back(n);
        r.group = (uint32_t)f.groupAt.size() - 1;
        f.rec.push_back(r);
        p += KELO_RECORD_HEAD + (size_t)bytes;
    }
    if (f.rec.size() < nCount)
        return refuse(size,
                      format("the count at offset 0 promises %lu records, the file ends after %zu",
                             (unsigned long)nCount, f.rec.size()));
    if (f.rec.size() > nCount)
        return refuse(beyondCount, format("the count at offset 0 says %lu records, but %zu follow",
                                          (unsigned long)nCount, f.rec.size()));
    f.groupAt.push_back((uint32_t)f.rec.size());
    return {};
}

Problem keloLoad(const std::string &name, KeloKind kind, KeloFile &f)
{
    Input in;
    if (Problem p = readInput(name, nullptr, in))
        return p;
    f = KeloFile();
    f.name = std::move(in.name);
    f.kind = kind;
    f.image = std::move(in.bytes);
    return keloParse(f);
}

Problem loadFiles(const Args &args, std::initializer_list<OptionId> options,
                  std::vector<KeloFile> &files)
{
    for (OptionId option : options)
        if (args.has(option))
            if (Problem p = keloLoad(args.word(option), *kindFromWord(optionName(option) + 2),
                                     files.emplace_back()))
                return p;
    return {};
}
