#include "Logo.h"

#include "FileWrite.h"

#include <stb/stb_image_write.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string_view>

namespace zyr {

namespace {

struct Glyph {
    char letter;
    std::array<std::string_view, 7> rows;  // 5 columns each, '#' lit
};

// Only the letters the logo spells; a missing letter is a blank.
constexpr std::array<Glyph, 12> kFont = {{
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "##..#", "#.#.#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'3', {"####.", "....#", "....#", ".###.", "....#", "....#", "####."}},
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
}};

struct Box {
    double x0, y0, x1, y1;
};

const Glyph* glyphFor(char letter) {
    const auto glyph = std::find_if(kFont.begin(), kFont.end(), [&](const Glyph& g) { return g.letter == letter; });
    return glyph == kFont.end() ? nullptr : &*glyph;
}

// A line of text on a grid of cells, slanted to the right about its vertical
// middle. Cells are looked up directly for the coverage samples; the glow
// measures distances to the lit cells as boxes.
struct Lettering {
    std::vector<const Glyph*> glyphs;
    double left, top, cellW, cellH, advance;
    double slant;
    double middle;
    // How far the glow still shows; beyond it distances are bounded, not measured.
    double reach;
    std::vector<Box> boxes;
    Box bounds;

    Lettering(std::string_view text, double left_, double top_, double cellW_, double cellH_, double advance_,
              double slant_, double middle_, double reach_)
        : left(left_), top(top_), cellW(cellW_), cellH(cellH_), advance(advance_), slant(slant_), middle(middle_),
          reach(reach_), bounds{1e9, 1e9, -1e9, -1e9} {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const Glyph* glyph = glyphFor(text[i]);
            glyphs.push_back(glyph);
            if (!glyph) continue;
            const double x = left + static_cast<double>(i) * advance;
            for (std::size_t r = 0; r < glyph->rows.size(); ++r)
                for (std::size_t c = 0; c < 5; ++c)
                    if (glyph->rows[r][c] == '#')
                        boxes.push_back({x + static_cast<double>(c) * cellW, top + static_cast<double>(r) * cellH,
                                         x + static_cast<double>(c + 1) * cellW,
                                         top + static_cast<double>(r + 1) * cellH});
        }
        for (const Box& b : boxes)
            bounds = {std::min(bounds.x0, b.x0), std::min(bounds.y0, b.y0), std::max(bounds.x1, b.x1),
                      std::max(bounds.y1, b.y1)};
    }

    double unslant(double x, double y) const { return x - (middle - y) * slant; }

    bool inside(double x, double y) const {
        const double u = unslant(x, y) - left;
        const double v = y - top;
        if (u < 0.0 || v < 0.0) return false;
        const auto index = static_cast<std::size_t>(u / advance);
        const auto row = static_cast<std::size_t>(v / cellH);
        const auto column = static_cast<std::size_t>((u - static_cast<double>(index) * advance) / cellW);
        if (index >= glyphs.size() || !glyphs[index] || row >= 7 || column >= 5) return false;
        return glyphs[index]->rows[row][column] == '#';
    }

    // Share of a pixel the letters cover, from a 4 x 4 grid of samples.
    double coverage(double px, double py) const {
        int hits = 0;
        for (int sy = 0; sy < 4; ++sy)
            for (int sx = 0; sx < 4; ++sx)
                if (inside(px + (sx + 0.5) / 4.0, py + (sy + 0.5) / 4.0)) ++hits;
        return hits / 16.0;
    }

    // Distance to the nearest letter (0 inside), in the unslanted frame, which
    // is close enough for a glow. Points far from the whole line skip the boxes.
    double distance(double x, double y) const {
        const double u = unslant(x, y);
        const double far = std::max(std::max(bounds.x0 - u, u - bounds.x1), std::max(bounds.y0 - y, y - bounds.y1));
        if (far > reach) return far;
        double best = 1e18;
        for (const Box& b : boxes) {
            const double dx = std::max(std::max(b.x0 - u, u - b.x1), 0.0);
            const double dy = std::max(std::max(b.y0 - y, y - b.y1), 0.0);
            best = std::min(best, dx * dx + dy * dy);
        }
        return std::sqrt(best);
    }

    // Coverage of every pixel of the logo, row by row.
    std::vector<double> coverageMask() const {
        std::vector<double> mask(static_cast<std::size_t>(kLogoWidth) * kLogoHeight, 0.0);
        for (int y = 0; y < kLogoHeight; ++y)
            for (int x = 0; x < kLogoWidth; ++x)
                mask[static_cast<std::size_t>(y) * kLogoWidth + static_cast<std::size_t>(x)] = coverage(x, y);
        return mask;
    }
};

struct Colour {
    double r, g, b;
};

Colour mix(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

// A fixed hash of a pixel position: the same stars on every run.
std::uint32_t hash(std::uint32_t x, std::uint32_t y) {
    std::uint32_t h = x * 374761393u + y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

constexpr double kTitleTop = 14.0;
constexpr double kTitleCellW = 14.0;
constexpr double kTitleCellH = 11.0;
constexpr double kSubtitleTop = 103.0;
constexpr double kSubtitleCell = 2.0;

}  // namespace

std::vector<std::uint8_t> renderLogo() {
    const std::string_view title = "ZYR";
    const double titleAdvance = 6.0 * kTitleCellW;
    const double titleWidth = 3.0 * titleAdvance - kTitleCellW;
    const double titleHeight = 7.0 * kTitleCellH;
    const Lettering big(title, (kLogoWidth - titleWidth) / 2.0, kTitleTop, kTitleCellW, kTitleCellH, titleAdvance,
                        0.18, kTitleTop + titleHeight / 2.0, 60.0);

    const std::string_view subtitle = "TESSARAN 2023";
    const double subAdvance = 6.0 * kSubtitleCell + 2.0;
    const double subWidth = static_cast<double>(subtitle.size()) * subAdvance - subAdvance + 5.0 * kSubtitleCell;
    const Lettering small(subtitle, std::floor((kLogoWidth - subWidth) / 2.0), kSubtitleTop, kSubtitleCell,
                          kSubtitleCell, subAdvance, 0.0, 0.0, 16.0);
    const std::vector<double> bigMask = big.coverageMask();
    const std::vector<double> smallMask = small.coverageMask();
    const auto at = [](const std::vector<double>& mask, int x, int y) {
        if (x < 0 || y < 0) return 0.0;
        return mask[static_cast<std::size_t>(y) * kLogoWidth + static_cast<std::size_t>(x)];
    };

    const Colour skyTop{0.05, 0.04, 0.14};
    const Colour skyBottom{0.13, 0.04, 0.21};
    const Colour glowColour{0.85, 0.18, 0.95};
    const Colour edgeColour{0.28, 0.05, 0.32};
    const Colour fillTop{1.00, 0.96, 0.66};
    const Colour fillMiddle{1.00, 0.60, 0.24};
    const Colour fillBottom{1.00, 0.18, 0.53};
    const Colour subColour{0.56, 0.91, 1.00};

    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(kLogoWidth) * kLogoHeight * 4);
    for (int y = 0; y < kLogoHeight; ++y) {
        for (int x = 0; x < kLogoWidth; ++x) {
            const double cx = x + 0.5;
            const double cy = y + 0.5;

            Colour c = mix(skyTop, skyBottom, cy / kLogoHeight);
            // Every other line a touch darker, like an old screen.
            if (y % 2 == 1) c = mix(c, Colour{0, 0, 0}, 0.18);
            const std::uint32_t h = hash(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
            if (h % 173 == 17) c = mix(c, Colour{0.8, 0.85, 1.0}, 0.25 + 0.5 * ((h >> 8) % 100) / 100.0);

            const double glow = std::exp(-big.distance(cx, cy) / 9.0);
            c = mix(c, glowColour, 0.55 * glow);
            const double subGlow = std::exp(-small.distance(cx, cy) / 3.0);
            c = mix(c, subColour, 0.25 * subGlow);

            // The letters stand out of the screen: their edge is the shape seen
            // a few pixels down and to the right.
            double edge = 0.0;
            for (int k = 1; k <= 4; ++k) edge = std::max(edge, at(bigMask, x - k, y - k));
            c = mix(c, edgeColour, edge);

            const double fill = at(bigMask, x, y);
            if (fill > 0.0) {
                const double t = clamp01((cy - kTitleTop) / titleHeight);
                Colour f = t < 0.5 ? mix(fillTop, fillMiddle, t * 2.0) : mix(fillMiddle, fillBottom, t * 2.0 - 1.0);
                // A bright band across the middle, as on chrome lettering.
                const double band = std::exp(-std::pow((t - 0.5) / 0.035, 2.0));
                f = mix(f, Colour{1, 1, 1}, 0.55 * band);
                c = mix(c, f, fill);
            }
            c = mix(c, subColour, at(smallMask, x, y));

            std::uint8_t* out = &rgba[(static_cast<std::size_t>(y) * kLogoWidth + static_cast<std::size_t>(x)) * 4];
            out[0] = static_cast<std::uint8_t>(std::lround(clamp01(c.r) * 255.0));
            out[1] = static_cast<std::uint8_t>(std::lround(clamp01(c.g) * 255.0));
            out[2] = static_cast<std::uint8_t>(std::lround(clamp01(c.b) * 255.0));
            out[3] = 255;
        }
    }
    return rgba;
}

std::string encodePng(const std::vector<std::uint8_t>& rgba, int width, int height) {
    if (width <= 0 || height <= 0 || rgba.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4)
        return {};
    std::string png;
    const auto append = [](void* context, void* data, int size) {
        static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
    };
    if (!stbi_write_png_to_func(append, &png, width, height, 4, rgba.data(), width * 4)) return {};
    return png;
}

int runLogoTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1 || args[0].empty()) {
        err << "usage: zyr-logo OUT.png\n";
        return 2;
    }
    const std::filesystem::path target = args[0];
    const std::string png = encodePng(renderLogo(), kLogoWidth, kLogoHeight);
    if (png.empty()) {
        err << "zyr-logo: the PNG encoder failed\n";
        return 1;
    }
    try {
        replaceFile(target, png);
    } catch (const FileError& error) {
        err << "zyr-logo: " << error.what() << "\n";
        return 1;
    }
    out << "zyr-logo: " << kLogoWidth << "x" << kLogoHeight << " RGBA into " << target.string() << "\n";
    return 0;
}

}  // namespace zyr
