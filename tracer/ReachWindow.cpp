#include "tracer/ReachWindow.h"

#include "imaging/DepthComposite.h"
#include "imaging/TextureSampling.h"
#include "tracer/Shading.h"

#include <algorithm>
#include <cmath>
#include <numbers>

using Vectormath::Aos::Vector3;

namespace {

using Record = RenderInfoTemplate<Hyperboloid>;

// Relative widening of the reached box, against the rounding of hits: a
// hit point is single precision (relative error near 1e-7) and its ray
// parameter a root of a quadratic, off by at most about 1e-8 of itself where
// the ray grazes the surface; a hundred times that.
constexpr double kBoxSlack = 1e-5;
// Widening of the window, in output pixels.
constexpr double kPixelSlack = 2.0;
// Rows added to every footprint radius (see RowsBeyond).
constexpr double kRowSlack = 3.0;
// Repetitions beyond this many from the base copy are not bounded (their
// indices would near the int range that RowReach clamps to).
constexpr long long kMostCopies = 1000000;
// Times the footprint bound is tightened on the rows it leaves (see
// ReachedHeights; later rounds gain little).
constexpr int kTighteningRounds = 3;
// The band's boxes: slabs of its heights, each cut into sectors around the
// axis (a multiple of 4).
constexpr int kSlabs = 4;
constexpr int kSectors = 32;
static_assert(kSectors % 4 == 0 && 2 * kSlabs * kSectors <= ReachWindow::kMostBoxes);

bool Finite(double x) { return std::isfinite(x); }

// A closed interval; empty when lo > hi.
struct Span {
    double lo, hi;
    bool empty() const { return lo > hi; }
};

// A box in object space: the points of one sheet that may be in reach.
struct Box {
    double lo[3], hi[3];
};

// The camera's view of object space: camera coordinates of a point from the
// inverse of the camera's axes; rays start at the eye (perspective) or run
// along the camera's z (orthographic).
struct View {
    double inverse[3][3];
    double eye[3];
    double axisZ[3]; // the orthographic rays' direction, unit
    double zoom;     // -imagePlane.z: how far along +z the image plane lies
    bool perspective;
};

// The rows v of one sheet's copies, first to last (see RowReach), with the
// gaps after (or, below the base copy, before) them; empty without copies.
Span CopiedRows(const Record &info, float sheetZ)
{
    const auto copies = info.extension.copiesOn(Vector3(0.0f, 0.0f, sheetZ));
    if (copies.first > copies.last) return {1.0, 0.0};
    const double pitch = 1.0 + info.extension.interval;
    return {static_cast<double>(copies.first) * pitch, static_cast<double>(copies.last + 1) * pitch};
}

// The rows a lookup of radius at most `radius` reaches from beyond the
// copies: as many texture rows, the one row a lookup reaches beyond its
// radius (RowReach::neighbour) and two more, in v.
double RowsBeyond(const Record &info, double radius)
{
    return (kRowSlack + radius) / info.textureLayer.height;
}

// The heights z of one sheet's points whose row lies in `rows`: the row is
// affine in z (Hyperboloid::getVFromCoordinate, then openedV), so its ends
// map to the span's ends. The sheet itself lies at z >= c (tail) or z <= -c
// (head); the span is cut there, `slack` short of it.
Span HeightsOf(const Record &info, Span rows, bool tail, double slack)
{
    const double k = info.openFactor, v0 = info.fixedPointV;
    const double axialScale = info.textureHeight * k;
    const double c = info.shape.radii.getZ();
    const double rowHeight = 1.0 / info.textureLayer.height;
    const auto height = [&](double v) {
        const double rawV = (v - v0) / k + v0;
        return tail ? rawV * axialScale + c : (rawV + rowHeight) * axialScale - c;
    };
    const double a = height(rows.lo), b = height(rows.hi);
    Span z{std::min(a, b), std::max(a, b)};
    if (tail) z.lo = std::max(z.lo, c - slack);
    else z.hi = std::min(z.hi, slack - c);
    return z;
}

// How far rounding may put a hit off the surface or the band, in object
// units: kBoxSlack of the band's size and of the eye's distance.
double Slack(const Record &info, Span rows, bool tail, const View &view)
{
    const Span z = HeightsOf(info, rows, tail, HUGE_VAL);
    const Vector3 &radii = info.shape.radii;
    const double zMax = std::max(std::fabs(z.lo), std::fabs(z.hi));
    const double eye = std::fabs(view.eye[0]) + std::fabs(view.eye[1]) + std::fabs(view.eye[2]);
    return kBoxSlack * (zMax * (1.0 + std::fabs(radii.getX() / radii.getZ()) +
                                std::fabs(radii.getY() / radii.getZ())) +
                        radii.getZ() + eye);
}

// The box around the points of the sheet with heights in `z`: there the
// rings' semi-axes are at most |a|, |b| times sqrt(z^2 / c^2 - 1) at the
// largest |z|; widened by `slack`.
Box BoxAround(const Record &info, Span z, double slack)
{
    const Vector3 &radii = info.shape.radii;
    const double c = radii.getZ();
    const double zMax = std::max(std::fabs(z.lo), std::fabs(z.hi));
    const double ring = std::sqrt(std::max(0.0, (zMax / c) * (zMax / c) - 1.0));
    const double x = std::fabs(radii.getX()) * ring, y = std::fabs(radii.getY()) * ring;
    return {{-x - slack, -y - slack, z.lo - slack}, {x + slack, y + slack, z.hi + slack}};
}

double Corner(const Box &box, int corner, int axis)
{
    return (corner >> axis) & 1 ? box.hi[axis] : box.lo[axis];
}

// A bound of the footprint's v radius (the rows a lookup spans) of any hit in
// the box, at most kSampleRadiusCap: the footprint is never larger than its
// cheap bound (sampRadiusYBound), texture rows times the hit's distance times
// the pass's bound factor over the incidence m = |d . n|. Along the ray to a
// surface point P, d . n = (P - E) . g / (|P - E| |g|) with g = (-x/a^2,
// -y/b^2, z/c^2), the normal before its length, and P . g = 1 on the surface:
// so (P - E) . g = 1 - E . g, linear in P, whose extremes over the box lie at
// its corners. An orthographic ray's d . g is linear in P as well.
double FootprintReach(const Record &info, const View &view, const Box &box)
{
    const double blur = info.textureBlur;
    if (!(info.footprintBound > 0.0) || !(blur >= 0.0) || !Finite(blur)) return kSampleRadiusCap;
    const Vector3 &radii = info.shape.radii;
    const double a2 = static_cast<double>(radii.getX()) * radii.getX();
    const double b2 = static_cast<double>(radii.getY()) * radii.getY();
    const double c2 = static_cast<double>(radii.getZ()) * radii.getZ();
    // |g| at most, and P . g = 1 within rounding: kBoxSlack of its terms.
    double gMax2 = 0.0, terms = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        const double far = std::max(std::fabs(box.lo[axis]), std::fabs(box.hi[axis]));
        const double scale = axis == 0 ? a2 : axis == 1 ? b2 : c2;
        gMax2 += (far / scale) * (far / scale);
        terms += far * far / scale;
    }
    const double onSurface = kBoxSlack * (1.0 + terms);
    Span along{HUGE_VAL, -HUGE_VAL}; // (P - E) . g, or d . g
    double distance = 0.0;           // |P - E| at most
    for (int corner = 0; corner < 8; ++corner) {
        const double p[3] = {Corner(box, corner, 0), Corner(box, corner, 1), Corner(box, corner, 2)};
        const double g[3] = {-p[0] / a2, -p[1] / b2, p[2] / c2};
        double value;
        if (view.perspective) {
            value = 1.0 - (view.eye[0] * g[0] + view.eye[1] * g[1] + view.eye[2] * g[2]);
            distance = std::max(distance, std::hypot(p[0] - view.eye[0], p[1] - view.eye[1],
                                                     p[2] - view.eye[2]));
        } else {
            value = view.axisZ[0] * g[0] + view.axisZ[1] * g[1] + view.axisZ[2] * g[2];
        }
        along = {std::min(along.lo, value), std::max(along.hi, value)};
    }
    if (view.perspective) along = {along.lo - onSurface, along.hi + onSurface};
    if (!(along.lo > 0.0 || along.hi < 0.0)) return kSampleRadiusCap; // grazing hits possible
    const double least = std::min(std::fabs(along.lo), std::fabs(along.hi));
    const double scale = view.perspective ? distance : 1.0;
    // The incidence as the hit's single-precision dot product gives it, and
    // as shading clamps it.
    const double m = std::max(1e-4, least / (scale * std::sqrt(gMax2)) - 1e-5);
    const double e = view.perspective ? distance * (1.0 + kBoxSlack) : 1.0;
    const double ry = info.textureLayer.height * e * info.footprintBound / m * blur;
    if (!Finite(ry)) return kSampleRadiusCap;
    return std::min(ry * (1.0 + kBoxSlack), kSampleRadiusCap);
}

bool MakeView(const Record &info, View &view)
{
    const auto &M = info.cameraToObject;
    double m[3][3];
    for (int col = 0; col < 3; ++col)
        for (int row = 0; row < 3; ++row) m[row][col] = M.getElem(col, row);
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!Finite(det) || det == 0.0) return false;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            // Cofactor of element (c, r), over the determinant.
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            view.inverse[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
            if (!Finite(view.inverse[r][c])) return false;
        }
    for (int r = 0; r < 3; ++r) view.eye[r] = M.getElem(3, r);
    const double axisLength = std::hypot(m[0][2], m[1][2], m[2][2]);
    for (int r = 0; r < 3; ++r) view.axisZ[r] = m[r][2] / axisLength;
    view.zoom = -static_cast<double>(info.imagePlane.getZ());
    view.perspective = info.perspective;
    return Finite(view.eye[0] + view.eye[1] + view.eye[2]) && Finite(view.zoom) &&
           Finite(view.axisZ[0] + view.axisZ[1] + view.axisZ[2]) &&
           (!view.perspective || view.zoom != 0.0);
}

// Where the box is seen, in image-plane coordinates (composition pixels from
// the principal point, before the pixel aspect): false when the camera sees
// it only in part (a perspective camera inside or beside it), true with an
// empty span when it lies wholly behind a perspective camera, where no ray
// meets it.
bool SeenAt(const View &view, const Box &box, Span &px, Span &py)
{
    px = py = {HUGE_VAL, -HUGE_VAL};
    int behind = 0;
    for (int corner = 0; corner < 8; ++corner) {
        double d[3];
        for (int r = 0; r < 3; ++r) d[r] = Corner(box, corner, r) - view.eye[r];
        double cam[3];
        for (int r = 0; r < 3; ++r)
            cam[r] = view.inverse[r][0] * d[0] + view.inverse[r][1] * d[1] + view.inverse[r][2] * d[2];
        double x = cam[0], y = cam[1];
        if (view.perspective) {
            // Along a ray, camera z grows as zoom times the distance along
            // it: points ahead have depth > 0.
            const double depth = cam[2] / view.zoom;
            const double size = std::fabs(cam[0]) + std::fabs(cam[1]) + std::fabs(cam[2]);
            if (!(std::fabs(depth) > 1e-6 * size / std::fabs(view.zoom))) return false;
            if (depth < 0.0) {
                ++behind;
                continue;
            }
            x /= depth;
            y /= depth;
        }
        if (!Finite(x) || !Finite(y)) return false;
        px = {std::min(px.lo, x), std::max(px.hi, x)};
        py = {std::min(py.lo, y), std::max(py.hi, y)};
    }
    return behind == 0 || behind == 8;
}

// Whether the record's values let the window be worked out at all.
bool Bounded(const Record &info)
{
    const Vector3 &radii = info.shape.radii;
    const auto &ext = info.extension;
    return IsLayerChosen(info.textureLayer) && info.textureLayer.width > 0 &&
           info.textureLayer.height > 0 && !info.showPivot && keepsTransparentBlack(info.depthComposite) &&
           radii.getZ() > 0.0f && info.shape.invRadii.getZ() > 0.0f && Finite(radii.getX()) &&
           Finite(radii.getY()) && Finite(radii.getZ()) && radii.getX() != 0.0f &&
           radii.getY() != 0.0f && Finite(ext.interval) && ext.interval >= 0.0 &&
           ext.headExtensions < kMostCopies && ext.tailExtensions < kMostCopies &&
           Finite(info.openFactor) && info.openFactor != 0.0 && Finite(info.textureHeight) &&
           info.textureHeight != 0.0 && Finite(info.fixedPointV) && Finite(info.pixelAspect) &&
           info.pixelAspect != 0.0 && Finite(info.downsampleX) && info.downsampleX != 0.0 &&
           Finite(info.downsampleY) && info.downsampleY != 0.0 &&
           Finite(info.imagePlane.getX()) && Finite(info.imagePlane.getY());
}

// The heights of one sheet's hits in reach, and how far rounding may put a
// hit off them (`slack`). Beyond its copies a hit is in reach only within
// its footprint's radius of them, so the rows past either end are bounded by
// the footprints of the hits there: first the largest footprint, then the
// bound of the footprints over the rows that one leaves (a narrow band of the
// surface, where the bound is close). Each round holds every hit in reach,
// since its bound holds for every hit of the rows the round before left.
// False when no heights could be worked out; `none` when the sheet has no
// hit in reach.
bool ReachedHeights(const Record &info, const View &view, bool tail, Span &z, double &slack,
                    bool &none)
{
    const Span copied = CopiedRows(info, tail ? 1.0f : -1.0f);
    none = copied.empty();
    if (none) return true;
    double below = kSampleRadiusCap, above = kSampleRadiusCap; // radii past either end
    const auto rowsWith = [&](double lo, double hi) {
        return Span{copied.lo - RowsBeyond(info, lo), copied.hi + RowsBeyond(info, hi)};
    };
    slack = Slack(info, rowsWith(below, above), tail, view);
    if (!Finite(slack)) return false;
    // The footprint bound over rows `rows` of the sheet, at most `radius`;
    // false where unbounded.
    const auto reachOver = [&](Span rows, double &radius) {
        const Span heights = HeightsOf(info, rows, tail, slack);
        if (!Finite(heights.lo) || !Finite(heights.hi)) return false;
        if (heights.empty()) radius = 0.0; // no point of the sheet there
        else radius = std::min(radius, FootprintReach(info, view, BoxAround(info, heights, slack)));
        return true;
    };
    for (int round = 0; round < kTighteningRounds; ++round) {
        if (!reachOver({copied.hi, copied.hi + RowsBeyond(info, above)}, above)) return false;
        if (!reachOver({copied.lo - RowsBeyond(info, below), copied.lo}, below)) return false;
    }
    z = HeightsOf(info, rowsWith(below, above), tail, slack);
    if (!Finite(z.lo) || !Finite(z.hi)) return false;
    none = z.empty();
    return true;
}

// The box around the points of the sheet with heights in `z` and angles
// around the axis in sector `sector` of kSectors (quarter turns split
// evenly, so that each coordinate is monotonic in the angle across it): at
// height z a point lies at (a rho cos theta, b rho sin theta) with rho =
// sqrt(z^2 / c^2 - 1), so its extremes lie at the sector's edges and the
// span's least and largest rho; widened by `slack`.
Box SectorBox(const Record &info, Span z, double slack, int sector)
{
    const Vector3 &radii = info.shape.radii;
    const double c = radii.getZ();
    const auto rho = [c](double height) {
        return std::sqrt(std::max(0.0, (height / c) * (height / c) - 1.0));
    };
    const double nearest = z.lo <= 0.0 && z.hi >= 0.0 ? 0.0 : std::min(std::fabs(z.lo), std::fabs(z.hi));
    const double rhos[2] = {rho(nearest), rho(std::max(std::fabs(z.lo), std::fabs(z.hi)))};
    constexpr double kTurn = 2.0 * std::numbers::pi;
    const double angles[2] = {kTurn * sector / kSectors, kTurn * (sector + 1) / kSectors};
    Span x{HUGE_VAL, -HUGE_VAL}, y{HUGE_VAL, -HUGE_VAL};
    for (const double r : rhos)
        for (const double angle : angles) {
            const double px = std::fabs(radii.getX()) * r * std::cos(angle);
            const double py = std::fabs(radii.getY()) * r * std::sin(angle);
            x = {std::min(x.lo, px), std::max(x.hi, px)};
            y = {std::min(y.lo, py), std::max(y.hi, py)};
        }
    return {{x.lo - slack, y.lo - slack, z.lo - slack}, {x.hi + slack, y.hi + slack, z.hi + slack}};
}

// Adds the window of `box` to `out`: false when the camera sees it only in
// part (see SeenAt) or the window is not finite.
bool AddBox(const Record &info, const View &view, const Box &box, ReachWindow &out)
{
    Span px, py;
    if (!SeenAt(view, box, px, py)) return false;
    if (px.empty()) return true; // wholly behind the camera
    // Image plane to output pixels: the inverse of ImagePlaneX and
    // ImagePlaneY (CameraRay.h); the scales may turn the span around.
    const double x0 = (px.lo / info.pixelAspect + info.imagePlane.getX()) * info.downsampleX;
    const double x1 = (px.hi / info.pixelAspect + info.imagePlane.getX()) * info.downsampleX;
    const double y0 = (py.lo + info.imagePlane.getY()) * info.downsampleY;
    const double y1 = (py.hi + info.imagePlane.getY()) * info.downsampleY;
    if (!Finite(x0) || !Finite(x1) || !Finite(y0) || !Finite(y1)) return false;
    // In single precision, widened by far more than its rounding.
    const int k = out.boxes++;
    out.left[k] = static_cast<float>(std::min(x0, x1) - kPixelSlack);
    out.right[k] = static_cast<float>(std::max(x0, x1) + kPixelSlack);
    out.top[k] = static_cast<float>(std::min(y0, y1) - kPixelSlack);
    out.bottom[k] = static_cast<float>(std::max(y0, y1) + kPixelSlack);
    return std::isfinite(out.left[k]) && std::isfinite(out.right[k]) && std::isfinite(out.top[k]) &&
           std::isfinite(out.bottom[k]);
}

} // namespace

ReachWindow TextureReachWindow(const Record &info)
{
    const ReachWindow everywhere{}; // where no window can be worked out
    View view;
    if (!Bounded(info) || !MakeView(info, view)) return everywhere;
    ReachWindow out;
    out.everywhere = false;
    for (const bool tail : {true, false}) {
        Span z{};
        double slack = 0.0;
        bool none = false;
        if (!ReachedHeights(info, view, tail, z, slack, none)) return everywhere;
        if (none) continue;
        // Widened in single precision, outward.
        const int sheet = tail ? 0 : 1;
        out.heightLo[sheet] = std::nextafter(static_cast<float>(z.lo - slack), -HUGE_VALF);
        out.heightHi[sheet] = std::nextafter(static_cast<float>(z.hi + slack), HUGE_VALF);
        if (!std::isfinite(out.heightLo[sheet]) || !std::isfinite(out.heightHi[sheet])) return everywhere;
        // The heights in slabs, each cut into sectors around the axis: boxes
        // that follow the band's rings closely.
        const double step = (z.hi - z.lo) / kSlabs;
        for (int slab = 0; slab < kSlabs; ++slab) {
            const Span part{z.lo + step * slab, slab + 1 == kSlabs ? z.hi : z.lo + step * (slab + 1)};
            for (int sector = 0; sector < kSectors; ++sector)
                if (!AddBox(info, view, SectorBox(info, part, slack, sector), out)) return everywhere;
        }
    }
    return out;
}

ReachWindow::Columns ReachWindow::columnsOf(int y) const
{
    if (everywhere) return {-HUGE_VAL, HUGE_VAL};
    Columns columns{HUGE_VAL, -HUGE_VAL};
    const double rowTop = y, rowBottom = y + 1.0;
    for (int k = 0; k < boxes; ++k)
        if (rowBottom >= top[k] && rowTop <= bottom[k]) {
            columns.lo = std::min(columns.lo, static_cast<double>(left[k]));
            columns.hi = std::max(columns.hi, static_cast<double>(right[k]));
        }
    return columns;
}
