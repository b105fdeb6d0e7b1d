// obj_cmd.cpp -- kelo import and kelo export: OBJ text to a KGX model and
// back, through the model routines every kelo command shares
#include "kelo.h"
#include "obj.h"

#include <cstring>

// A scale word of 0 says nothing about units; it is read as 1.
static uint32_t scaleOf(uint32_t word)
{
    return word ? word : SCALE_ONE;
}

/*
 * The model's objects as a mesh, values and words taken as they stand.  With
 * strict, every primitive must be in kelo's packet layout (two words per
 * corner) with its vertex and normal indices inside its object, as export
 * needs; otherwise the first that is not is named on the error stream and
 * the result is 0.
 */
static int32_t meshFromModel(Mesh *mesh, KgxModel *m, bool strict)
{
    mesh->name = m->name;
    mesh->obj.assign(m->nObj, MeshObject());
    for (uint32_t k = 0; k < m->nObj; k++) {
        const KgxObject *ob = &m->obj[k];
        MeshObject *o = &mesh->obj[k];
        o->scale = scaleOf(ob->scale);
        o->group = "object" + std::to_string(k);
        for (uint32_t i = 0; i < 4 * ob->nVert; i++)
            o->vert.push_back(getLE16(modelVertex(m, k, 0) + 2 * (size_t)i));
        for (uint32_t i = 0; i < 4 * ob->nNorm; i++)
            o->norm.push_back(getLE16(modelNormal(m, k, 0) + 2 * (size_t)i));
        for (uint32_t j = 0; j < ob->nPrim; j++) {
            const unsigned char *p = modelPrimitive(m, k, j);
            uint32_t head = getLE32(p), words = packetWords(head), n = primCorners(head);
            o->head.push_back(head);
            o->primLine.push_back(0);
            for (uint32_t i = 0; i < words; i++)
                o->packet.push_back(getLE32(p + 4 + 4 * (size_t)i));
            if (!strict)
                continue;
            const char *why = nullptr;
            uint32_t *w = o->packet.data() + o->packet.size() - words;
            if (words != 2 * n)
                why = "its packet is not two words per corner";
            for (uint32_t c = 0; !why && c < n; c++)
                if ((w[c] & 0xFFFF) >= ob->nVert)
                    why = "a vertex index is out of range";
                else if ((w[n + c] & 0xFFFF) >= ob->nNorm)
                    why = "a normal index is out of range";
            if (why) {
                msgPrint(stderr, "%s: object %lu primitive %lu: %s\n", m->name, (unsigned long)k,
                         (unsigned long)j, why);
                return 0;
            }
        }
    }
    return 1;
}

// Builds the KGX model of a mesh under name: headers as they are, packet
// words little-endian.
static int32_t meshToModel(KgxModel *m, const Mesh *mesh, const char *name, uint32_t flags)
{
    std::vector<ObjectArrays> arrays(mesh->obj.size());
    std::vector<std::vector<unsigned char>> bytes(mesh->obj.size());
    for (size_t k = 0; k < mesh->obj.size(); k++) {
        const MeshObject &o = mesh->obj[k];
        bytes[k].resize(4 * o.packet.size());
        for (size_t i = 0; i < o.packet.size(); i++)
            putLE32(&bytes[k][4 * i], o.packet[i]);
        arrays[k] = {(uint32_t)(o.vert.size() / 4), o.vert.data(), (uint32_t)(o.norm.size() / 4),
                     o.norm.data(), (uint32_t)o.head.size(), o.head.data(), bytes[k].data(),
                     o.scale};
    }
    if (modelBuild(m, name, flags, arrays.data(), (uint32_t)arrays.size()))
        return 1;
    msgPrint(stderr, "%s: %s\n", name, inputProblem);
    return 0;
}

/*
 * kelo import IN.obj [--scale S | --fit | --like BASE.kgx] [--objects H]
 * -o OUT.kgx.  Returns KELO_OK, KELO_BAD_OBJ when the text cannot become a
 * model, KELO_NOT_LIKE when it does not match the base; a bad command line
 * ends the process with KELO_USAGE, an unreadable base with KELO_BAD_MODEL,
 * and file failures with the library's codes.
 */
int32_t cmdImport(int32_t argc, char **argv)
{
    const char *in = nullptr, *out = nullptr, *like = nullptr, *scaleWord = nullptr;
    bool fit = false, single = false;
    for (int32_t i = 0; i < argc; i++) {
        if (strcmp(argv[i], "--scale") == 0)
            scaleWord = optionValue(CMD_IMPORT, argc, argv, &i);
        else if (strcmp(argv[i], "--fit") == 0)
            fit = true;
        else if (strcmp(argv[i], "--like") == 0)
            like = optionValue(CMD_IMPORT, argc, argv, &i);
        else if (strcmp(argv[i], "-o") == 0)
            out = optionValue(CMD_IMPORT, argc, argv, &i);
        else if (strcmp(argv[i], "--objects") == 0) {
            const char *how = optionValue(CMD_IMPORT, argc, argv, &i);
            if (strcmp(how, "single") != 0 && strcmp(how, "by-group") != 0)
                usageError(CMD_IMPORT, "--objects takes by-group or single, not \"%s\"", how);
            single = strcmp(how, "single") == 0;
        } else if (argv[i][0] == '-' && argv[i][1])
            usageError(CMD_IMPORT, "unknown option %s", argv[i]);
        else if (in)
            usageError(CMD_IMPORT, "one OBJ file at a time");
        else
            in = argv[i];
    }
    if (!in || !out)
        usageError(CMD_IMPORT, "needs an OBJ file and -o OUT.kgx");
    if ((scaleWord != nullptr) + fit + (like != nullptr) > 1)
        usageError(CMD_IMPORT, "give at most one of --scale, --fit and --like");
    uint32_t scale = SCALE_ONE;
    if (scaleWord && !scaleParse(scaleWord, &scale))
        usageError(CMD_IMPORT, "--scale takes a positive number, not \"%s\"", scaleWord);

    ObjText text;
    if (!objReadFile(&text, in, single))
        return KELO_BAD_OBJ;
    if (text.faces.empty()) {
        msgPrint(stderr, "%s: no faces to import\n", in);
        return KELO_BAD_OBJ;
    }
    std::vector<uint32_t> scales(1, scale);
    uint32_t flags = 0;
    Mesh base;
    if (like) {
        loadModelOrFail(&keloModel[0], like);
        meshFromModel(&base, &keloModel[0], false);
        flags = keloModel[0].flags;
        // Each object takes the scale of the base's object of the same
        // number, so that equal OBJ coordinates give equal integers.
        for (uint32_t k = 0; k < keloModel[0].nObj; k++)
            scales.push_back(scaleOf(keloModel[0].obj[k].scale));
        if (keloModel[0].nObj)
            scales.erase(scales.begin());
    } else if (!scaleWord) {
        if (!scaleFit(&text, &scales[0]))
            return KELO_BAD_OBJ;
        char word[32];
        scaleText(scales[0], word, sizeof word);
        msgPrint(stdout, "scale %s\n", word);
    }
    Mesh mesh;
    if (!meshBuild(&mesh, &text, scales.data(), (uint32_t)scales.size()))
        return KELO_BAD_OBJ;
    if (like && !meshLike(&mesh, &base))
        return KELO_NOT_LIKE;
    if (!meshToModel(&keloModel[1], &mesh, out, flags))
        return KELO_BAD_OBJ;
    modelSave(&keloModel[1], out);
    return KELO_OK;
}

/*
 * kelo export IN.kgx -o OUT.obj.  Returns KELO_OK, or KELO_BAD_MODEL when a
 * primitive is not in kelo's layout; an unreadable model ends the process
 * with KELO_BAD_MODEL, a failed write of the text with fileCode + 7.
 */
int32_t cmdExport(int32_t argc, char **argv)
{
    const char *in = nullptr, *out = nullptr;
    for (int32_t i = 0; i < argc; i++) {
        if (strcmp(argv[i], "-o") == 0)
            out = optionValue(CMD_EXPORT, argc, argv, &i);
        else if (argv[i][0] == '-' && argv[i][1])
            usageError(CMD_EXPORT, "unknown option %s", argv[i]);
        else if (in)
            usageError(CMD_EXPORT, "one model at a time");
        else
            in = argv[i];
    }
    if (!in || !out)
        usageError(CMD_EXPORT, "needs a model and -o OUT.obj");
    loadModelOrFail(&keloModel[0], in);
    Mesh mesh;
    if (!meshFromModel(&mesh, &keloModel[0], true))
        return KELO_BAD_MODEL;
    FileHandle *fh = fileOpen(out, "w");
    int32_t ok = objWrite(&mesh, fh->fp);
    if (!ok)
        errReport(WRIT_ERR, fileCode + 7, fh->name, (long)ftell(fh->fp));
    fileClose(fh);
    return KELO_OK;
}
