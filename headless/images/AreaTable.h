// AreaTable: the summed-area table of one world, which gives the integral of
// its pixels over any axis-aligned box in constant time, whatever the box's
// size.
//
// The image is taken as piecewise constant: here pixel (i, j) is the square
// [i, i + 1) x [j, j + 1) (the sampler shifts its coordinates by half a pixel
// to put pixel centres on integers). Outside the world everything is 0. What
// is integrated per pixel is its alpha and its colour times alpha, so a box
// yields the alpha-weighted sums the area filter divides.
//
// The table holds S(i, j), the sums over all pixels left of column i and
// above row j, for i in [0, width] and j in [0, height]. The integral from the
// origin to a point inside a cell is bilinear in that cell, so a box with
// fractional edges is exact from 16 table entries: the whole pixels inside it,
// the partly covered edge columns and rows weighted by their coverage, and the
// four partly covered corner pixels.
//
// Precision. For 8-bit and 16-bit worlds the table is unsigned 64-bit
// integers: exact for every world the host makes (at most 30000 x 30000
// pixels of at most 65535 x 65535 per channel product); every partial sum a
// box needs is formed exactly in integers before it is weighted in double (an
// 8-bit table held whole keeps 32-bit words and forms the same integers from
// them, NarrowAreaTable.h). For
// float worlds the table is double, summed with compensation, so each entry is
// within a few units in the last place of the sums of magnitudes; alphaNoise()
// bounds what that leaves in a box's alpha sum, and the sampler takes a box
// whose alpha sum is within it as transparent. Non-finite float channels count
// as 0, so that one bad pixel cannot spoil every box below and right of it.
//
// Memory: four 8-byte sums per pixel (a 3840 x 2160 world: about 265 MB);
// 8-bit worlds held whole keep four 4-byte words per pixel instead, and the
// exact sums of every 256th row and column (NarrowAreaTable.h).
// A table of more than kRollingFromBytes is not held whole (unless its world
// asks for that, as most layers do): its rows live in a window that follows
// the samples (RollingRows.h), made as samples reach them from the pixels as
// they are then, with entries equal to the whole table's bit for bit. A blur
// sweeping a large image then holds a few hundred rows instead of the
// image's worth.
//
// A box of an 8-bit or 16-bit world whose edges fall in neighbouring columns
// and rows (the commonest box of a magnified texture, or of a blur's layer
// where it is in focus) is summed from its four pixels instead, whether the
// table is held whole or rolls, which gives the same bits: the pixels must
// not change while the table is current (between two of the boundaries where
// the effect may write), as a rolling table already requires. The area
// filter takes a box whose edges fall up to three columns and rows apart
// (a reflection map's footprints of a pixel or two) from its pixels too.
//
// Thread safety: any number of threads may integrate at once.
#pragma once

#include "headless/images/HostWorld.h"
#include "headless/images/RollingRows.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

namespace headless {

class NarrowAreaTable;
struct BoxSums;

// Where a box edge falls: cell a and the covered fraction s in [0, 1] of
// that cell left of (or above) the edge.
struct TableEdge {
    A_long cell;
    double fraction;
};

// A box by its edge cells: columns a0 and a1, rows b0 and b1, and the
// fractions of those cells it covers left of and above its edges.
struct TableBox {
    TableEdge left, right, top, bottom;
};

// The area filter of a box whose edges fall in neighbouring columns and rows
// of an integer world, from its two rows of pixels (AreaBox.h).
using QuadFilterKernel = PF_PixelFloat (*)(const std::byte *top, const std::byte *bottom, const TableBox &box,
                                           double area, double full);
// The same for a box whose edges fall one to three columns and rows apart,
// from its rows of pixels, the first at `top`, `rowBytes` apart.
using FewFilterKernel = PF_PixelFloat (*)(const std::byte *top, std::size_t rowBytes, const TableBox &box,
                                          double area, double full);

// Sums over a box, in the world's own channel units (0..255, 0..32768 or
// float): alpha is the sum of alpha times covered area, the colours the sums
// of colour times alpha times covered area.
struct BoxSums {
    double alpha = 0, red = 0, green = 0, blue = 0;
};

// Straight colour and alpha from the alpha-weighted sums over a box of `area`
// square pixels, in units of full intensity (`full`), as the area filter
// gives them (AreaSampler.h). A box whose alpha sum is within `noise`, the
// rounding noise of its table, counts as transparent.
inline PF_PixelFloat resolveBox(const BoxSums &sums, double area, double noise, double full) {
    if (!(std::fabs(sums.alpha) > noise)) return PF_PixelFloat{0, 0, 0, 0};
    const double toColour = 1.0 / (sums.alpha * full);
    return PF_PixelFloat{static_cast<float>(sums.alpha / area / full), static_cast<float>(sums.red * toColour),
                         static_cast<float>(sums.green * toColour), static_cast<float>(sums.blue * toColour)};
}

class AreaTable {
public:
    // Whole: every row made now. Rolling: rows made as samples reach them.
    // BySize: rolling for tables of more than kRollingFromBytes.
    enum class Storage { Whole, Rolling, BySize };
    static constexpr std::size_t kRollingFromBytes = std::size_t{32} << 20;

    // The table of `world`'s pixels, labelled with `generation`. A rolling
    // table reads the pixels as it goes: they must not change while it
    // lives (a new generation gets a new table). Throws std::bad_alloc when
    // the memory is not there.
    AreaTable(const HostWorld &world, std::uint64_t generation, Storage storage = Storage::BySize);
    ~AreaTable();

    // Whether `world`'s table is held as a rolling window when stored BySize.
    static bool rollsBySize(const HostWorld &world);

    std::uint64_t generation() const { return generation_; }
    A_long width() const { return width_; }
    A_long height() const { return height_; }

    // The sums over [x0, x1] x [y0, y1] (pixel (i, j) being [i, i + 1) x
    // [j, j + 1)); the part outside the world contributes nothing, an empty
    // or inverted box gives zeros. NaN bounds give zeros.
    BoxSums integrate(double x0, double y0, double x1, double y1) const;

    // The area filter over the box [x - rx, x + rx] x [y - ry, y + ry] in the
    // sampler's coordinates (pixel centres on integers), rx and ry at least
    // half a pixel (and not NaN): resolveBox of integrate's sums over the
    // box shifted by half a pixel. The same bits, with one call where a
    // box's edges fall in neighbouring columns and rows of an integer world.
    PF_PixelFloat filter(double x, double y, double rx, double ry) const; // inline, below

    // A bound on the rounding error of any box's alpha sum: 0 for integer
    // tables.
    double alphaNoise() const { return alphaNoise_; }
    // The full intensity of the world's depth (255, 32768 or 1).
    double fullIntensity() const { return fullIntensity_; }

    // Whether the rows live in a window, and how many rows' memory the table
    // holds now.
    bool rolling() const { return rollingExact_ || rollingReal_; }
    std::size_t rowsHeld() const;

private:
    // The box [x0, x1] x [y0, y1] cut to the world, as cells and fractions;
    // false when nothing of it is left (or a corner is NaN). Every sample cuts
    // one and tests it for four pixels: both are inlined into the filter.
    [[gnu::always_inline]] inline bool cutBox(double x0, double y0, double x1, double y1, TableBox &box) const;
    // Whether the box's edges fall in neighbouring columns and rows of an
    // integer world, whose four pixels then give its sums.
    [[gnu::always_inline]] inline bool fourPixels(const TableBox &box) const;
    // Whether they fall one to three columns and rows apart in an integer
    // world, where the at most 16 pixels give the filter (the filter asks
    // after fourPixels, which takes one and one).
    [[gnu::always_inline]] inline bool fewPixels(const TableBox &box) const;
    // The sums of a box within the world, from the table.
    BoxSums boxSums(const TableBox &box) const;

    const HostWorld &world_; // whose pixels give small boxes

    std::uint64_t generation_;
    A_long width_;
    A_long height_;
    // (width + 1) x (height + 1) entries of four sums (alpha, then red, green
    // and blue times alpha), row by row; one of these is used.
    std::unique_ptr<NarrowAreaTable> narrow_; // 8-bit worlds held whole
    std::unique_ptr<std::uint64_t[]> exact_;  // 16-bit worlds held whole
    std::unique_ptr<double[]> real_;          // float worlds held whole
    std::unique_ptr<RollingRows<std::uint64_t>> rollingExact_;
    std::unique_ptr<RollingRows<double>> rollingReal_;
    double alphaNoise_ = 0;
    double fullIntensity_;
    // The four-pixel box's filter for the world's depth, where it applies
    // (integer worlds), or null.
    QuadFilterKernel quadFilter_ = nullptr;
    FewFilterKernel fewFilter_ = nullptr; // likewise, for fewPixels
};

// ---- inline, for the samplers (every host area sample takes these) -----------------

namespace area_table_detail {
// Where a box edge at `x` (in [0, cells]) falls: cell a in [0, cells - 1] and
// the covered fraction s in [0, 1] of that cell left of x. x is never
// negative, so truncation is its floor: one conversion, where std::floor
// takes a sequence of them on processors without a rounding instruction (the
// baseline the host is built for), four times a sample.
inline TableEdge locate(double x, A_long cells) {
    const A_long cell = std::min(static_cast<A_long>(x), cells - 1);
    return {cell, x - cell};
}
} // namespace area_table_detail

inline bool AreaTable::cutBox(double x0, double y0, double x1, double y1, TableBox &box) const {
    using area_table_detail::locate;
    x0 = std::max(x0, 0.0);
    y0 = std::max(y0, 0.0);
    x1 = std::min(x1, static_cast<double>(width_));
    y1 = std::min(y1, static_cast<double>(height_));
    if (!(x0 < x1) || !(y0 < y1)) return false; // empty, outside the world, or NaN
    box = TableBox{locate(x0, width_), locate(x1, width_), locate(y0, height_), locate(y1, height_)};
    return true;
}

inline bool AreaTable::fourPixels(const TableBox &box) const {
    // Integer tables, whole or rolling: their pixels do not change while they are current.
    return quadFilter_ && box.right.cell == box.left.cell + 1 && box.bottom.cell == box.top.cell + 1;
}

inline bool AreaTable::fewPixels(const TableBox &box) const {
    // Unsigned: a span of 0 wraps past 2 and is left to the table.
    const unsigned columns = static_cast<unsigned>(box.right.cell - box.left.cell) - 1;
    const unsigned rows = static_cast<unsigned>(box.bottom.cell - box.top.cell) - 1;
    return fewFilter_ && columns <= 2 && rows <= 2;
}

inline PF_PixelFloat AreaTable::filter(double x, double y, double rx, double ry) const {
    // integrate's steps over the box shifted by half a pixel (the table puts
    // pixel i at [i, i + 1)), with the four-pixel box's sums resolved where
    // they are made.
    const double area = 4.0 * rx * ry;
    TableBox box;
    if (!cutBox(x - rx + 0.5, y - ry + 0.5, x + rx + 0.5, y + ry + 0.5, box))
        return resolveBox(BoxSums{}, area, alphaNoise_, fullIntensity_);
    if (fourPixels(box))
        return quadFilter_(world_.row(box.top.cell), world_.row(box.bottom.cell), box, area, fullIntensity_);
    if (fewPixels(box))
        return fewFilter_(world_.row(box.top.cell), static_cast<std::size_t>(world_.rowbytes()), box, area,
                          fullIntensity_);
    return resolveBox(boxSums(box), area, alphaNoise_, fullIntensity_);
}

} // namespace headless
