// svg.cpp -- kelo svg: the base's vertices in an orthographic view and, with
// a vertex difference file, an arrow for every vertex a variant moves
#include "kelo.h"

#include <cmath>
#include <cstring>

constexpr double SVG_WIDTH = 800, SVG_HEIGHT = 600;
constexpr double SVG_MARGIN = 30;
constexpr double LEGEND_HEIGHT = 96;                    // band at the top kept free for the legend
constexpr size_t POSITION_BYTES = 3 * sizeof(int16_t);  // x, y, z: the fourth value is no move

// A view: which vertex values run across and up the picture, and whether a
// value grows upwards (+1) or downwards (-1).
struct View {
    const char *name, *axes;
    int32_t across, up;
    double upSign;
};
static const View VIEWS[] = {
    {VIEW_CHOICES[0], "x right, y up", 0, 1, 1},
    {VIEW_CHOICES[1], "x right, z down", 0, 2, -1},
    {VIEW_CHOICES[2], "z right, y up", 2, 1, 1},
};
static_assert(std::size(VIEWS) == std::size(VIEW_CHOICES));

// A point in model units: x, y, z.
struct Point {
    double v[3];
};

static Point vertexPoint(const std::vector<unsigned char> &image, uint32_t at)
{
    return {{(double)loadLE16(&image[at]), (double)loadLE16(&image[at + 2]),
             (double)loadLE16(&image[at + 4])}};
}

// One move of the variant: from the base's position to the variant's.
struct Move {
    Point from, to;
    double distance;
};

// The mapping from model units to picture units: equal units on both axes,
// every point given inside the drawing area below the legend band, centred.
struct Picture {
    const View &view;
    double minAcross = 0, minUp = 0, scale = 1, offsetX = 0, offsetY = 0;

    Picture(const View &v, const std::vector<Point> &points) : view(v)
    {
        double lo[2] = {0, 0}, hi[2] = {0, 0};
        for (size_t i = 0; i < points.size(); i++) {
            double a = points[i].v[view.across], u = points[i].v[view.up] * view.upSign;
            lo[0] = i == 0 ? a : std::fmin(lo[0], a);
            hi[0] = i == 0 ? a : std::fmax(hi[0], a);
            lo[1] = i == 0 ? u : std::fmin(lo[1], u);
            hi[1] = i == 0 ? u : std::fmax(hi[1], u);
        }
        double width = SVG_WIDTH - 2 * SVG_MARGIN;
        double height = SVG_HEIGHT - 2 * SVG_MARGIN - LEGEND_HEIGHT;
        double spanA = hi[0] - lo[0] > 0 ? hi[0] - lo[0] : 1;
        double spanU = hi[1] - lo[1] > 0 ? hi[1] - lo[1] : 1;
        scale = std::fmin(width / spanA, height / spanU);
        minAcross = lo[0];
        minUp = lo[1];
        offsetX = SVG_MARGIN + (width - (hi[0] - lo[0]) * scale) / 2;
        offsetY = SVG_HEIGHT - SVG_MARGIN - (height - (hi[1] - lo[1]) * scale) / 2;
    }
    double x(const Point &p) const { return offsetX + (p.v[view.across] - minAcross) * scale; }
    double y(const Point &p) const
    {
        return offsetY - (p.v[view.up] * view.upSign - minUp) * scale;
    }
};

// Colour of a move of distance d out of the largest: blue for the
// smallest, through green and yellow, to red for the largest.
static std::string moveColour(double d, double largest)
{
    double t = largest > 0 ? d / largest : 0;
    return format("hsl(%.0f,85%%,45%%)", 230 * (1 - t));
}

// An arrow from the move's start to its end, or a ring where the move runs
// along the line of sight and its arrow would have no length.
static std::string arrow(const Picture &pic, const Move &mv, double largest)
{
    std::string colour = moveColour(mv.distance, largest);
    double x1 = pic.x(mv.from), y1 = pic.y(mv.from), x2 = pic.x(mv.to), y2 = pic.y(mv.to);
    double len = std::hypot(x2 - x1, y2 - y1);
    if (len < 2)
        return format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"none\" stroke=\"%s\"/>\n", x1,
                      y1, colour.c_str());
    double ux = (x2 - x1) / len, uy = (y2 - y1) / len;
    double head = std::fmin(8, len / 2);
    double bx = x2 - ux * head, by = y2 - uy * head;
    return format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n", x1, y1,
                  bx, by, colour.c_str()) +
           format("<polygon points=\"%.1f,%.1f %.1f,%.1f %.1f,%.1f\" fill=\"%s\"/>\n", x2, y2,
                  bx - uy * head / 2, by + ux * head / 2, bx + uy * head / 2, by - ux * head / 2,
                  colour.c_str());
}

// The moves of one variant group: every vertex of the base's distinct
// arrays whose x, y or z the group changes (the fourth value does not move
// a vertex), each drawn once however many objects share it.  The variant's
// values wrap as apply's do, so an arrow ends where the variant really puts
// the vertex.
static Problem collectMoves(const Model &m, const KeloFile &f, uint32_t group,
                            std::vector<Move> &moves)
{
    Changes ch;
    ch.begin(m.image.size());
    if (Problem p = groupChanges(m, f, group, ch))
        return p;
    std::vector<unsigned char> variant = m.image;
    applyChanges(m, KIND_VDF, ch, variant);
    for (const KgxArray &a : m.vertArrays)
        for (uint32_t j = 0; j < a.count; j++) {
            uint32_t at = a.at + KGX_ELEMENT * j;
            if (memcmp(&m.image[at], &variant[at], POSITION_BYTES) == 0)
                continue;
            Move mv = {vertexPoint(m.image, at), vertexPoint(variant, at), 0};
            mv.distance = std::hypot(mv.to.v[0] - mv.from.v[0], mv.to.v[1] - mv.from.v[1],
                                     mv.to.v[2] - mv.from.v[2]);
            moves.push_back(mv);
        }
    return {};
}

static std::string legend(const Picture &pic, const Model &m, size_t nVert, const KeloFile *f,
                          uint32_t group, size_t nMoves, double largest)
{
    std::string s = "<g font-family=\"sans-serif\" font-size=\"13\" fill=\"#222\">\n";
    s += format("<text x=\"%.0f\" y=\"%.0f\" font-size=\"16\" font-weight=\"bold\">", SVG_MARGIN,
                SVG_MARGIN);
    s += xmlText(getFileName0(m.name.c_str()));
    s += format(
        "</text>\n<text x=\"%.0f\" y=\"%.0f\">%s view (%s), %zu vertices in %zu objects</text>\n",
        SVG_MARGIN, SVG_MARGIN + 20, pic.view.name, pic.view.axes, nVert, m.obj.size());
    if (!f)
        return s + format("<text x=\"%.0f\" y=\"%.0f\">no variant drawn</text>\n</g>\n", SVG_MARGIN,
                          SVG_MARGIN + 38);
    s += format("<text x=\"%.0f\" y=\"%.0f\">variant %lu of ", SVG_MARGIN, SVG_MARGIN + 38,
                (unsigned long)group);
    s += xmlText(getFileName0(f->name.c_str()));
    s += format(": %zu vertices moved, largest move %.1f</text>\n", nMoves, largest);
    s += "<defs><linearGradient id=\"scale\">";
    for (int32_t k = 0; k <= 4; k++)
        s += format("<stop offset=\"%d%%\" stop-color=\"%s\"/>", 25 * k, moveColour(k, 4).c_str());
    s += "</linearGradient></defs>\n";
    s += format("<rect x=\"%.0f\" y=\"%.0f\" width=\"160\" height=\"10\" fill=\"url(#scale)\"/>\n",
                SVG_MARGIN, SVG_MARGIN + 48);
    s += format("<text x=\"%.0f\" y=\"%.0f\">0</text>\n", SVG_MARGIN, SVG_MARGIN + 72);
    s += format("<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"end\">%.1f</text>\n", SVG_MARGIN + 160,
                SVG_MARGIN + 72, largest);
    return s + "</g>\n";
}

// kelo svg BASE [--vdf F [--variant K]] [--view V] -o OUT.  Every vertex of
// the base's distinct arrays is a dot; with a vertex file, the moves of
// group K are arrows.
Problem cmdSvg(const Args &args)
{
    bool vdf = args.has(OPT_VDF);
    uint32_t group = args.number(OPT_VARIANT);
    Model m;
    if (Problem p = modelLoad(args.operands[0], m))
        return p;
    KeloFile f;
    std::vector<Move> moves;
    if (vdf) {
        if (Problem p = keloLoad(args.word(OPT_VDF), KIND_VDF, f))
            return p;
        if (Problem p = collectMoves(m, f, group, moves))
            return p;
    }
    // The fit takes every base vertex, then every move's end.
    std::vector<Point> points;
    for (const KgxArray &a : m.vertArrays)
        for (uint32_t j = 0; j < a.count; j++)
            points.push_back(vertexPoint(m.image, a.at + KGX_ELEMENT * j));
    size_t nVert = points.size();
    double largest = 0;
    for (const Move &mv : moves) {
        points.push_back(mv.to);
        largest = std::fmax(largest, mv.distance);
    }
    Picture pic(VIEWS[args.number(OPT_VIEW)], points);
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                "viewBox=\"0 0 %.0f %.0f\">\n",
                SVG_WIDTH, SVG_HEIGHT, SVG_WIDTH, SVG_HEIGHT);
    s += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n<g fill=\"#8a8a8a\">\n";
    for (size_t i = 0; i < nVert; i++)
        s += format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2\"/>\n", pic.x(points[i]),
                    pic.y(points[i]));
    s += "</g>\n<g stroke-width=\"1.5\">\n";
    for (const Move &mv : moves)
        s += arrow(pic, mv, largest);
    s += "</g>\n" + legend(pic, m, nVert, vdf ? &f : nullptr, group, moves.size(), largest) +
         "</svg>\n";
    return writeOutput(args.word(OPT_OUT), s.data(), s.size());
}
