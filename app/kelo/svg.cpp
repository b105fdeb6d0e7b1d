// svg.cpp -- kelo svg: the base's vertices in an orthographic view and, with
// a vertex difference file, an arrow for every vertex a variant moves
#include "kelo.h"

#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

constexpr double SVG_WIDTH = 800, SVG_HEIGHT = 600;
constexpr double SVG_MARGIN = 30;
constexpr double LEGEND_HEIGHT = 96;  // band at the top kept free for the legend

// The three views: which vertex values run across and up the picture, and
// whether a value grows to the right/upwards (+1) or the other way (-1).
enum View { VIEW_FRONT, VIEW_TOP, VIEW_SIDE, VIEWS };
static const char *const viewName[VIEWS] = {"front", "top", "side"};
static const char *const viewAxes[VIEWS] = {"x right, y up", "x right, z down",
                                            "z right, y up"};
static const int32_t viewAcross[VIEWS] = {0, 0, 2};
static const int32_t viewUp[VIEWS] = {1, 2, 1};
static const double viewUpSign[VIEWS] = {1, -1, 1};

// The picture being written, and its mapping from model to picture units.
static FileHandle *svgOut;
static View svgView;
static double minAcross, minUp, svgScale, offsetX, offsetY;

// Writes formatted text to the picture and keeps the handle's position.
static void svgPut(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void svgPut(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = vfprintf(svgOut->fp, format, ap);
    va_end(ap);
    if (n < 0)
        errReport(WRIT_ERR, fileCode + 7, svgOut->name, (long)svgOut->pos);
    posAdvance(svgOut, (uint32_t)n);
}

// Writes s with the characters XML gives a meaning escaped.
static void svgText(const char *s)
{
    for (; *s; s++) {
        switch (*s) {
        case '&': svgPut("&amp;"); break;
        case '<': svgPut("&lt;"); break;
        case '>': svgPut("&gt;"); break;
        case '"': svgPut("&quot;"); break;
        default: svgPut("%c", *s);
        }
    }
}

static double pictureX(double across)
{
    return offsetX + (across - minAcross) * svgScale;
}

static double pictureY(double up)
{
    return offsetY - (up * viewUpSign[svgView] - minUp) * svgScale;
}

// A point in model units: x, y, z.
struct Point {
    double v[3];
};

static Point vertexPoint(const unsigned char *p)
{
    return {{(double)getLE16(p), (double)getLE16(p + 2), (double)getLE16(p + 4)}};
}

// One move of the variant: from the base's position to the variant's.
struct Move {
    Point from, to;
    double distance;
};

// Sets the scale and offsets so that every point given fits the drawing
// area below the legend band, centred, with equal units on both axes.
static void fitView(const Point *points, uint32_t n)
{
    double lo[2] = {0, 0}, hi[2] = {0, 0};
    for (uint32_t i = 0; i < n; i++) {
        double a = points[i].v[viewAcross[svgView]];
        double u = points[i].v[viewUp[svgView]] * viewUpSign[svgView];
        if (i == 0 || a < lo[0]) lo[0] = a;
        if (i == 0 || a > hi[0]) hi[0] = a;
        if (i == 0 || u < lo[1]) lo[1] = u;
        if (i == 0 || u > hi[1]) hi[1] = u;
    }
    double width = SVG_WIDTH - 2 * SVG_MARGIN;
    double height = SVG_HEIGHT - 2 * SVG_MARGIN - LEGEND_HEIGHT;
    double spanA = hi[0] - lo[0] > 0 ? hi[0] - lo[0] : 1;
    double spanU = hi[1] - lo[1] > 0 ? hi[1] - lo[1] : 1;
    svgScale = std::fmin(width / spanA, height / spanU);
    minAcross = lo[0];
    minUp = lo[1];
    offsetX = SVG_MARGIN + (width - (hi[0] - lo[0]) * svgScale) / 2;
    offsetY = SVG_HEIGHT - SVG_MARGIN - (height - (hi[1] - lo[1]) * svgScale) / 2;
}

// Colour of a move of distance d out of the largest: blue for the
// smallest, through green and yellow, to red for the largest.
static void moveColour(double d, double largest, char *out, size_t size)
{
    double t = largest > 0 ? d / largest : 0;
    snprintf(out, size, "hsl(%.0f,85%%,45%%)", 230 * (1 - t));
}

// Draws an arrow from a to b in picture units, or a ring where a move runs
// along the line of sight and its arrow would have no length.
static void drawArrow(const Move *mv, double largest)
{
    char colour[40];
    moveColour(mv->distance, largest, colour, sizeof colour);
    double x1 = pictureX(mv->from.v[viewAcross[svgView]]);
    double y1 = pictureY(mv->from.v[viewUp[svgView]]);
    double x2 = pictureX(mv->to.v[viewAcross[svgView]]);
    double y2 = pictureY(mv->to.v[viewUp[svgView]]);
    double len = std::hypot(x2 - x1, y2 - y1);
    if (len < 2) {
        svgPut("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"none\" stroke=\"%s\"/>\n", x1, y1,
               colour);
        return;
    }
    double ux = (x2 - x1) / len, uy = (y2 - y1) / len;
    double head = std::fmin(8, len / 2);
    double bx = x2 - ux * head, by = y2 - uy * head;
    svgPut("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n", x1, y1, bx,
           by, colour);
    svgPut("<polygon points=\"%.1f,%.1f %.1f,%.1f %.1f,%.1f\" fill=\"%s\"/>\n", x2, y2,
           bx - uy * head / 2, by + ux * head / 2, bx + uy * head / 2, by - ux * head / 2, colour);
}

// Collects the moves of group g of the vertex file: every element whose x,
// y or z changes (the fourth value does not move a vertex).  Returns the
// number of moves, stored in moves (room for every element of the group).
static uint32_t collectMoves(KgxModel *m, const KeloFile *f, uint32_t g, Move *moves)
{
    uint32_t n = 0;
    for (uint32_t i = f->groupAt[g]; i < f->groupAt[g + 1]; i++) {
        const KeloRecord *r = &f->rec[i];
        for (uint32_t e = 0; e < r->count; e++) {
            const unsigned char *p = modelVertex(m, r->obj, r->first + e);
            Move *mv = &moves[n];
            mv->from = vertexPoint(p);
            bool moved = false;
            for (int32_t v = 0; v < 3; v++) {
                int16_t d = keloValue(f, r, e, (uint32_t)v);
                // The variant's value wraps like apply's, so the arrow ends
                // where the variant really puts the vertex.
                mv->to.v[v] = (double)(int16_t)(uint16_t)(getLE16(p + 2 * (size_t)v) + (uint16_t)d);
                moved |= d != 0;
            }
            if (!moved)
                continue;
            mv->distance = std::sqrt(std::pow(mv->to.v[0] - mv->from.v[0], 2) +
                                     std::pow(mv->to.v[1] - mv->from.v[1], 2) +
                                     std::pow(mv->to.v[2] - mv->from.v[2], 2));
            n++;
        }
    }
    return n;
}

static void drawLegend(const KgxModel *m, uint64_t nVert, const KeloFile *f, uint32_t group,
                       uint32_t nMoves, double largest)
{
    svgPut("<g font-family=\"sans-serif\" font-size=\"13\" fill=\"#222\">\n");
    svgPut("<text x=\"%.0f\" y=\"%.0f\" font-size=\"16\" font-weight=\"bold\">", SVG_MARGIN,
           SVG_MARGIN);
    svgText(getFileName0(m->name));
    svgPut("</text>\n<text x=\"%.0f\" y=\"%.0f\">%s view (%s), %lu vertices in %lu objects</text>\n",
           SVG_MARGIN, SVG_MARGIN + 20, viewName[svgView], viewAxes[svgView],
           (unsigned long)nVert, (unsigned long)m->nObj);
    if (f) {
        svgPut("<text x=\"%.0f\" y=\"%.0f\">variant %lu of ", SVG_MARGIN, SVG_MARGIN + 38,
               (unsigned long)group);
        svgText(getFileName0(f->name));
        svgPut(": %lu vertices moved, largest move %.1f</text>\n", (unsigned long)nMoves, largest);
        svgPut("<defs><linearGradient id=\"scale\">");
        for (int32_t s = 0; s <= 4; s++) {
            char colour[40];
            moveColour(s, 4, colour, sizeof colour);
            svgPut("<stop offset=\"%d%%\" stop-color=\"%s\"/>", 25 * s, colour);
        }
        svgPut("</linearGradient></defs>\n");
        svgPut("<rect x=\"%.0f\" y=\"%.0f\" width=\"160\" height=\"10\" fill=\"url(#scale)\"/>\n",
               SVG_MARGIN, SVG_MARGIN + 48);
        svgPut("<text x=\"%.0f\" y=\"%.0f\">0</text>\n", SVG_MARGIN, SVG_MARGIN + 72);
        svgPut("<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"end\">%.1f</text>\n", SVG_MARGIN + 160,
               SVG_MARGIN + 72, largest);
    } else {
        svgPut("<text x=\"%.0f\" y=\"%.0f\">no variant drawn</text>\n", SVG_MARGIN,
               SVG_MARGIN + 38);
    }
    svgPut("</g>\n");
}

// kelo svg BASE [--vdf F [--variant K]] [--view V] -o OUT.  Returns 0 with
// OUT written; an absent variant group ends the process with KELO_NO_GROUP.
int32_t cmdSvg(int32_t argc, char **argv)
{
    const char *baseName = nullptr, *outName = nullptr, *vdfName = nullptr;
    const char *variantWord = nullptr, *viewWord = "front";
    for (int32_t i = 0; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "--vdf") == 0)
            vdfName = optionValue(CMD_SVG, argc, argv, &i);
        else if (strcmp(arg, "--variant") == 0)
            variantWord = optionValue(CMD_SVG, argc, argv, &i);
        else if (strcmp(arg, "--view") == 0)
            viewWord = optionValue(CMD_SVG, argc, argv, &i);
        else if (strcmp(arg, "-o") == 0)
            outName = optionValue(CMD_SVG, argc, argv, &i);
        else if (arg[0] == '-' && arg[1])
            usageError(CMD_SVG, "unknown option %s", arg);
        else if (baseName)
            usageError(CMD_SVG, "one base model only (%s)", arg);
        else
            baseName = arg;
    }
    if (!baseName)
        usageError(CMD_SVG, "no base model named");
    if (!outName)
        usageError(CMD_SVG, "-o is required");
    if (variantWord && !vdfName)
        usageError(CMD_SVG, "--variant needs --vdf");
    svgView = VIEWS;
    for (int32_t v = 0; v < VIEWS; v++)
        if (strcmp(viewWord, viewName[v]) == 0)
            svgView = (View)v;
    if (svgView == VIEWS)
        usageError(CMD_SVG, "unknown view %s (front, top or side)", viewWord);
    uint32_t group = variantWord ? variantNumber(CMD_SVG, variantWord) : 0;

    KgxModel *m = &keloModel[0];
    loadModelOrFail(m, baseName);
    KeloFile *f = nullptr;
    uint32_t nElements = 0;
    if (vdfName) {
        f = &keloFile[0];
        loadKeloOrFail(f, vdfName, KIND_VDF);
        if (group >= f->nGroup)
            failWith(KELO_NO_GROUP, "%s holds %lu variant groups; there is no variant %lu",
                     f->name, (unsigned long)f->nGroup, (unsigned long)group);
        char why[200];
        for (uint32_t i = f->groupAt[group]; i < f->groupAt[group + 1]; i++) {
            int32_t at = checkRecord(m, f, &f->rec[i], why, sizeof why);
            if (at >= 0)
                failWith(KELO_BAD_FILE, "%s: offset %ld: record %lu: %s", f->name, (long)at,
                         (unsigned long)i, why);
            nElements += f->rec[i].count;
        }
    }
    uint64_t nVert = 0;
    for (uint32_t o = 0; o < m->nObj; o++)
        nVert += m->obj[o].nVert;
    // Points for the fit: every base vertex, then every move's end.
    uint64_t nPoints = nVert + nElements;
    if (nPoints * sizeof(Point) + nElements * sizeof(Move) > INT32_MAX)
        failWith(KELO_BAD_MODEL, "%s: too many vertices to draw", m->name);
    Point *points = (Point *)strAlloc((int32_t)(nPoints * sizeof(Point)), "svg");
    Move *moves = (Move *)strAlloc((int32_t)(nElements * sizeof(Move)), "svg");
    uint32_t n = 0;
    for (uint32_t o = 0; o < m->nObj; o++)
        for (uint32_t j = 0; j < m->obj[o].nVert; j++)
            points[n++] = vertexPoint(modelVertex(m, o, j));
    uint32_t nMoves = f ? collectMoves(m, f, group, moves) : 0;
    double largest = 0;
    for (uint32_t i = 0; i < nMoves; i++) {
        points[n++] = moves[i].to;
        largest = std::fmax(largest, moves[i].distance);
    }
    fitView(points, n);

    svgOut = fileOpen(outName, "w");
    svgPut("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    svgPut("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
           "viewBox=\"0 0 %.0f %.0f\">\n",
           SVG_WIDTH, SVG_HEIGHT, SVG_WIDTH, SVG_HEIGHT);
    svgPut("<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n");
    svgPut("<g fill=\"#8a8a8a\">\n");
    for (uint32_t i = 0; i < nVert; i++)
        svgPut("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2\"/>\n",
               pictureX(points[i].v[viewAcross[svgView]]), pictureY(points[i].v[viewUp[svgView]]));
    svgPut("</g>\n<g stroke-width=\"1.5\">\n");
    for (uint32_t i = 0; i < nMoves; i++)
        drawArrow(&moves[i], largest);
    svgPut("</g>\n");
    drawLegend(m, nVert, f, group, nMoves, largest);
    svgPut("</svg>\n");
    if (ferror(svgOut->fp))
        errReport(WRIT_ERR, fileCode + 7, svgOut->name, (long)svgOut->pos);
    fileClose(svgOut);
    svgOut = nullptr;
    memFree(points);
    memFree(moves);
    return KELO_OK;
}
