#include "imaging/TextureSampling.h"

#include "tracer/TextureRepetition.h"

#include <algorithm>
#include <cmath>

using Vectormath::Aos::Vector3;

namespace {

using Record = RenderInfoTemplate<Hyperboloid>;

// ---- footprint --------------------------------------------------------------------

// min(r, cap), where a NaN counts as beyond the cap: a footprint that cannot be
// measured is treated like a huge one and filtered as widely as allowed.
inline double CapRadius(double r, double cap) { return r <= cap ? r : cap; }

// Unit tangent along u at pn, (-a y, b x, 0) normalised in single precision;
// on the axis, where u has no direction, the x axis.
inline Vector3 UTangent(const Hyperboloid &shape, const Vector3 &pn)
{
    const Vector3 t(-shape.radii.getX() * pn.getY(), shape.radii.getY() * pn.getX(), 0.0f);
    if (!(Vectormath::Aos::length(t) > 0.0f)) return Vector3(1.0f, 0.0f, 0.0f);
    return Vectormath::Aos::normalize(t);
}

// How much wider the footprint of a one-pixel ray gets per unit of distance:
// t / zoom for a perspective camera, 1 for an orthographic one.
inline double FootprintScale(const Record &info, double t)
{
    return info.perspective ? -t / static_cast<double>(info.imagePlane.getZ()) : 1.0;
}

// ---- repetition layout along v ----------------------------------------------------

// Where the repetitions of the texture lie along the axis, for one lookup.
struct Layout {
    double gap;     // "Interval", in texture heights
    double screw;   // "Screw", turns of u per repetition
    double period;  // u period of the (opened) surface at the hit
    double rows;    // texture height H in pixels
    bool flip;      // "Flip Vertical"
};

// Where u wraps around at the hit, the period that places the lookup's seam
// and wraps each repetition's twisted u: P = sqrt(d^2 - 1) (|k| - 1) + 1 at
// the hit's normalised height d. A hit a rounding error inside a vertex
// (|d| < 1) counts as the vertex.
inline double SeamUPeriodAtHit(double openFactor, double d)
{
    // Unopened: 1 without the square root (see OpenedSurfaceUPeriod).
    if (std::fabs(openFactor) == 1.0 && !(std::fabs(d) > 1e150)) return 1.0;
    return std::sqrt(std::max(0.0, d * d - 1.0)) * (std::fabs(openFactor) - 1.0) + 1.0;
}

// v local to repetition n. Repetitions n >= 0 have their gap after them,
// negative ones before them, so -1 and 0 meet at v = 0.
inline double LocalV(double v, int n, double gap)
{
    const double local = v - static_cast<double>(n) * (1.0 + gap);
    return n < 0 ? local - gap : local;
}

// u on repetition n: twisted by the screw (-1 and 0 untwisted), wrapped into
// [0, period).
inline double TwistedU(double u, int n, const Layout &layout)
{
    const double twists = n < 0 ? static_cast<double>(n) + 1.0 : static_cast<double>(n);
    return u + twists * layout.screw;
}
inline double RepetitionU(double u, int n, const Layout &layout)
{
    return WrapIntoPeriod(TwistedU(u, n, layout), layout.period);
}

// Local v as sampled: odd repetitions are mirrored under "Flip Vertical", so
// that texel row r shows row H - 1 - r.
inline double SampledV(double localV, int n, const Layout &layout)
{
    if (!layout.flip || (n & 1) == 0) return localV;
    return (1.0 - 1.0 / layout.rows) - localV;
}

inline int FirstError(int first, int next) { return first != 0 ? first : next; }

// Whether a footprint of x radius rx texture pixels at u, on a texture W
// pixels wide, reaches over the seam at u = period from below.
inline bool ReachesSeamFromBelow(double period, double u, double rx, double W)
{
    return 1.0 + rx > (period - u) * W;
}
// Whether it reaches over the seam from below or at u = 0 from above.
inline bool ReachesOverSeam(double period, double u, double rx, double W)
{
    return ReachesSeamFromBelow(period, u, rx, W) || rx > ((u + period) - 1.0) * W;
}

// ULoopSampling's fetch, inlined into every lookup: most lookups are one
// host sample on one repetition, and the calls between the layers cost
// about as much as placing the sample.
template <class P>
[[gnu::always_inline]] inline int SampleAcrossSeam(const Record &info, double period, double u,
                                                   double v, double rx, const PF_SampPB &pb,
                                                   PF_PixelFloat &out)
{
    out = PF_PixelFloat{};
    if (!pb.src) return 0;
    const double W = pb.src->width;
    AEGP_SuiteHandler &suites = SamplingSuites(info);
    const PF_Fixed y = FixedFromDouble(v * pb.src->height);
    int err = HostAreaSample<P>(info.inData, suites, FixedFromDouble(u * W), y, pb, out);

    // A footprint over the seam samples the other side as well.
    if (!ReachesOverSeam(period, u, rx, W)) [[likely]] return err;
    const double u2 = ReachesSeamFromBelow(period, u, rx, W) ? u - period : u + period;
    PF_PixelFloat other{};
    err = FirstError(err, HostAreaSample<P>(info.inData, suites, FixedFromDouble(u2 * W), y, pb,
                                            other));
    BlendPixel(out, other);
    return err;
}

template <class P>
[[gnu::always_inline]] inline int FetchRepetition(const Record &info, double u, double v, int n,
                                                  const Layout &layout, double rx,
                                                  const PF_SampPB &pb, PF_PixelFloat &out)
{
    const double un = RepetitionU(u, n, layout);
    const double vn = SampledV(LocalV(v, n, layout.gap), n, layout);
    return SampleAcrossSeam<P>(info, layout.period, un, vn, rx, pb, out);
}

} // namespace

void getSampRadius(const Record &info, const Ray &ray, const double &t, const Vector3 &pn,
                   const Vector3 &N, double &rx, double &ry)
{
    const Vector3 &d = ray.direction;
    const Vector3 T = UTangent(info.shape, pn);
    const double e = FootprintScale(info, t);

    // Incidence, kept off 0 and 1 so that the radii stay finite.
    const float c = Vectormath::Aos::dot(d, N);
    const double m = std::clamp(static_cast<double>(std::fabs(c)), 0.0001, 0.9999);
    const float s = Vectormath::Aos::dot(d, T);
    const double s2 = static_cast<double>(s) * s;
    const double m2 = m * m;
    const double w2 = 1.0 - s2 - m2;
    const double M = m * std::sqrt(1.0 - m2);

    double Ju = 0.0, Jv = 0.0;
    info.shape.getJacobian(info, pn, Ju, Jv);

    // Both radicands are >= 0 in exact arithmetic (d, T and N are unit and T is
    // tangent); rounding at grazing incidence may push them a hair below 0.
    const double W = info.textureLayer.width, H = info.textureLayer.height;
    const double k = info.openFactor;
    rx = std::fabs(W * k * e * std::sqrt(std::max(0.0, m2 * w2 + s2)) / M / Ju);
    ry = std::fabs(H * k * e * std::sqrt(std::max(0.0, m2 * s2 + w2)) / M / Jv);
    rx = CapRadius(rx, kFootprintCap);
    ry = CapRadius(ry, kFootprintCap);

    rx = CapRadius(rx * info.textureBlur, kSampleRadiusCap);
    ry = CapRadius(ry * info.textureBlur, kSampleRadiusCap);
}

double footprintBoundScale(const Record &info)
{
    // getSampRadius's ry before its caps is |H k e| S / M / |Jv|, where
    // S = sqrt(m2 s2 + w2), and m2 s2 + w2 = (1 - s2)(1 - m2) <= 1 - m2, so
    // with M = m sqrt(1 - m2) S / M <= 1 / m; and |Jv| >= |axial scale| c
    // = |textureHeight k|. So ry <= H |e| / (m |textureHeight|), with
    // |e| = |t| / zoom for a perspective camera and 1 for an orthographic one.
    // With m >= 0.0001 the rounding on either side is far below the
    // millionth added here.
    //
    // The inequalities need the radius computed without overflow, underflow
    // to zero or NaN, which these ranges ensure (together with a finite hit,
    // checked per hit, and a bound below 1e6); outside them there is none.
    const auto sane = [](double x) { return std::fabs(x) >= 1e-30 && std::fabs(x) <= 1e30; };
    const double zoom = info.perspective ? static_cast<double>(info.imagePlane.getZ()) : 1.0;
    const Vector3 &radii = info.shape.radii;
    const double blur = info.textureBlur;
    if (!sane(zoom) || !sane(info.textureHeight) || !sane(info.openFactor) || !sane(radii.getX()) ||
        !sane(radii.getY()) || !sane(radii.getZ()) || !(radii.getZ() > 0.0f) ||
        !(blur >= 0.0 && blur <= 1e30))
        return 0.0;
    return (1.0 + 1e-6) / (std::fabs(zoom) * std::fabs(info.textureHeight));
}

double sampRadiusYBound(const Record &info, double t, const Vector3 &pn, const Vector3 &d,
                        const Vector3 &N)
{
    if (!(info.footprintBound > 0.0) || !std::isfinite(pn.getX() + pn.getY() + pn.getZ()))
        return kSampleRadiusCap;
    const float c = Vectormath::Aos::dot(d, N);
    const double m = std::clamp(static_cast<double>(std::fabs(c)), 0.0001, 0.9999);
    const double e = info.perspective ? std::fabs(t) : 1.0; // growth with distance, as in the footprint
    const double ry = info.textureLayer.height * e * info.footprintBound / m;
    if (!(ry < 1e6)) return kSampleRadiusCap;
    return CapRadius(CapRadius(ry, kFootprintCap) * info.textureBlur, kSampleRadiusCap);
}

RowReach::RowReach(const Record &info, const Vector3 &pn, double v, const PF_LayerDef *texture)
{
    if (!texture || texture->width <= 0 || texture->height <= 0) return;
    hasTexture_ = true;
    const auto &ext = info.extension;
    const double gap = ext.interval, H = texture->height;
    repetition_ = RepetitionIndex(v, gap);
    const auto copies = ext.copiesOn(pn);
    onRepetition_ = copies.holds(repetition_);
    nextExists_ = copies.holds(repetition_ + 1LL);
    previousExists_ = copies.holds(repetition_ - 1LL);
    if (nextExists_) rowsToNext_ = -LocalV(v, repetition_ + 1, gap) * H;
    if (previousExists_) rowsPastPrevious_ = (LocalV(v, repetition_ - 1, gap) - 1.0) * H;
}

int RowReach::neighbour(double ry) const
{
    if (nextExists_ && 1.0 + ry > rowsToNext_) return repetition_ + 1;
    if (previousExists_ && ry > rowsPastPrevious_) return repetition_ - 1;
    return repetition_;
}

bool RowReach::reaches(double ry) const
{
    return hasTexture_ && (onRepetition_ || neighbour(ry) != repetition_);
}

template <class P>
int TopologycalSampling(const Record &info, const Vector3 &pn, double u, double v, double rx,
                        double ry, const PF_LayerDef *texture, PF_PixelFloat &out)
{
    return TopologycalSampling<P>(info, RowReach(info, pn, v, texture), pn, u, v, rx, ry, texture,
                                  out);
}

namespace {

// The neighbouring repetition's lookup blended into `out`, where the
// footprint reaches across a gap: a few rows of a frame, so out of line.
template <class P>
[[gnu::noinline]] int BlendNeighbour(const Record &info, double u, double v, int neighbour,
                                     const Layout &layout, double rx, const PF_SampPB &pb,
                                     int err, PF_PixelFloat &out)
{
    PF_PixelFloat second{};
    err = FirstError(err, FetchRepetition<P>(info, u, v, neighbour, layout, rx, pb, second));
    BlendPixel(out, second);
    return err;
}

} // namespace

template <class P>
int TopologycalSampling(const Record &info, const RowReach &reach, const Vector3 &pn, double u,
                        double v, double rx, double ry, const PF_LayerDef *texture,
                        PF_PixelFloat &out)
{
    out = PF_PixelFloat{};
    if (!texture || texture->width <= 0 || texture->height <= 0) return 0;

    const PF_SampPB pb = MakeSampPB(rx, ry, texture);
    const auto &ext = info.extension;
    const Layout layout{ext.interval, ext.screwTurns,
                        SeamUPeriodAtHit(info.openFactor, pn.getZ()),
                        static_cast<double>(texture->height), ext.flipVertical};
    const int nh = reach.repetition();

    int err = 0;
    if (reach.onRepetition()) err = FetchRepetition<P>(info, u, v, nh, layout, rx, pb, out);

    const int neighbour = reach.neighbour(ry);
    if (neighbour == nh) [[likely]] return err;
    return BlendNeighbour<P>(info, u, v, neighbour, layout, rx, pb, err, out);
}

template <class P>
TexelLookups<P>::TexelLookups(const Record &info) : info_(info)
{
    const PF_LayerDef &texture = info.textureLayer;
    if (texture.width <= 0 || texture.height <= 0) return;
    try {
        suite_ = area_sample_detail::SamplingSuite<P>(SamplingSuites(info));
    } catch (PF_Err) {
        suite_ = nullptr; // the lookups report the host's lack themselves
    }
    pb_.src = const_cast<PF_EffectWorld *>(&texture);
    width_ = texture.width;
    height_ = texture.height;
}

template <class P>
int TexelLookups<P>::operator()(const RowReach &reach, const Vector3 &pn, double u, double v,
                                double rx, double ry, PF_PixelFloat &out)
{
    const Record &info = info_;
    const int nh = reach.repetition();
    if (!suite_ || !reach.onRepetition() || reach.neighbour(ry) != nh) [[unlikely]]
        return TopologycalSampling<P>(info, reach, pn, u, v, rx, ry, &info.textureLayer, out);
    const auto &ext = info.extension;
    const Layout layout{ext.interval, ext.screwTurns, SeamUPeriodAtHit(info.openFactor, pn.getZ()),
                        height_, ext.flipVertical};
    const double un = RepetitionU(u, nh, layout);
    const double vn = SampledV(LocalV(v, nh, layout.gap), nh, layout);
    const double W = width_;
    if (ReachesOverSeam(layout.period, un, rx, W)) [[unlikely]]
        return TopologycalSampling<P>(info, reach, pn, u, v, rx, ry, &info.textureLayer, out);
    pb_.x_radius = FixedSampleRadius(rx);
    pb_.y_radius = FixedSampleRadius(ry);
    return area_sample_detail::SuiteSample<P>(suite_, info.inData->effect_ref,
                                              FixedFromDouble(un * W),
                                              FixedFromDouble(vn * height_), pb_, out);
}

namespace {

// One end's placement: HitU's steps and RepetitionU's from the angle on, and
// the turns each wrap took.
struct EndPlacement {
    int turn;                            // Hyperboloid::uOfAngle's
    double openedTurns, repetitionTurns; // WrapTurns of the opened and the twisted u
    double un;                           // RepetitionU's u
    bool inRange;                        // FixedFromDouble takes un * W in one step
    PF_Fixed column;
};

inline EndPlacement PlaceEnd(const Record &info, double angle, double openedPeriod, int n,
                             const Layout &layout, double W)
{
    EndPlacement at{};
    const double u = Hyperboloid::uOfAngle(angle, at.turn);
    const double unwrapped = Hyperboloid::openedUBeforeWrap(info, u, openedPeriod);
    at.openedTurns = WrapTurns(unwrapped, openedPeriod);
    const double opened = UnwindTurns(unwrapped, openedPeriod, at.openedTurns); // HitU's u
    const double twisted = TwistedU(opened, n, layout);
    at.repetitionTurns = WrapTurns(twisted, layout.period);
    at.un = UnwindTurns(twisted, layout.period, at.repetitionTurns);
    const double scaled = at.un * W * 65536.0; // FixedFromDouble's one step
    at.inRange = std::fabs(scaled) < 2147483647.0;
    at.column = FixedFromDouble(at.un * W);
    return at;
}

} // namespace

AnglePlacement PlaceAngleBounds(const Record &info, double angleLo, double angleHi, double rawV,
                                double normalisedZ, int repetition)
{
    // (A texture without pixels places every lookup at column 0; TexelLookups
    // makes none there.)
    AnglePlacement placement{};
    const PF_LayerDef &texture = info.textureLayer;
    const auto &ext = info.extension;
    const Layout layout{ext.interval, ext.screwTurns, SeamUPeriodAtHit(info.openFactor, normalisedZ),
                        static_cast<double>(texture.height), ext.flipVertical};
    const double openedPeriod = info.shape.openedUPeriod(info, rawV);
    const double W = texture.width;
    const EndPlacement lo = PlaceEnd(info, angleLo, openedPeriod, repetition, layout, W);
    const EndPlacement hi = PlaceEnd(info, angleHi, openedPeriod, repetition, layout, W);
    // (Turns that are NaN differ from everything: no placement then.)
    placement.placed = lo.turn == hi.turn && lo.openedTurns == hi.openedTurns &&
                       lo.repetitionTurns == hi.repetitionTurns && lo.inRange && hi.inRange &&
                       lo.column == hi.column;
    placement.column = lo.column;
    placement.unLo = lo.un;
    placement.unHi = hi.un;
    return placement;
}

bool CommonPlacedSample(const Record &info, const RowReach &reach, const Vector3 &pn,
                        const AnglePlacement &placement, double v, double rx, double ry,
                        PlacedSample &sample)
{
    const PF_LayerDef &texture = info.textureLayer;
    const int nh = reach.repetition();
    if (texture.width <= 0 || texture.height <= 0 || !placement.placed ||
        !reach.onRepetition() || reach.neighbour(ry) != nh)
        return false;
    const double width = texture.width, height = texture.height;
    const auto &ext = info.extension;
    const Layout layout{ext.interval, ext.screwTurns, SeamUPeriodAtHit(info.openFactor, pn.getZ()),
                        height, ext.flipVertical};
    if (ReachesOverSeam(layout.period, placement.unLo, rx, width) ||
        ReachesOverSeam(layout.period, placement.unHi, rx, width))
        return false;
    // FetchRepetition's and SampleAcrossSeam's steps, the column placed.
    sample.x = placement.column;
    sample.y = FixedFromDouble(SampledV(LocalV(v, nh, layout.gap), nh, layout) * height);
    sample.xRadius = FixedSampleRadius(rx);
    sample.yRadius = FixedSampleRadius(ry);
    return true;
}

template <class P>
bool TopologycalSamplingFromPlacement(const Record &info, const RowReach &reach, const Vector3 &pn,
                                      const AnglePlacement &placement, double v, double rx,
                                      double ry, const PF_LayerDef *texture, PF_PixelFloat &out,
                                      int &err)
{
    PlacedSample at{};
    if (!texture || !CommonPlacedSample(info, reach, pn, placement, v, rx, ry, at)) return false;
    out = PF_PixelFloat{};
    PF_SampPB pb{};
    pb.x_radius = at.xRadius;
    pb.y_radius = at.yRadius;
    pb.src = const_cast<PF_EffectWorld *>(texture);
    err = HostAreaSample<P>(info.inData, SamplingSuites(info), at.x, at.y, pb, out);
    return true;
}

template <class P>
bool TexelLookups<P>::fromPlacement(const RowReach &reach, const Vector3 &pn,
                                    const AnglePlacement &placement, double v, double rx,
                                    double ry, PF_PixelFloat &out, int &err)
{
    PlacedSample at{};
    if (!suite_ || !CommonPlacedSample(info_, reach, pn, placement, v, rx, ry, at)) return false;
    err = sample(at.x, at.y, at.xRadius, at.yRadius, out);
    return true;
}

template <class P>
int ULoopSampling(const Record &info, const double &period, double u, double v, double rx,
                  double /*ry*/, const PF_SampPB &pb, PF_PixelFloat &out)
{
    return SampleAcrossSeam<P>(info, period, u, v, rx, pb, out);
}

#define VELTRIX_INSTANTIATE_TEXTURE_SAMPLING(P)                                                   \
    template int TopologycalSampling<P>(const Record &, const Vector3 &, double, double, double,   \
                                        double, const PF_LayerDef *, PF_PixelFloat &);             \
    template int TopologycalSampling<P>(const Record &, const RowReach &, const Vector3 &, double, \
                                        double, double, double, const PF_LayerDef *,               \
                                        PF_PixelFloat &);                                          \
    template int ULoopSampling<P>(const Record &, const double &, double, double, double, double, \
                                  const PF_SampPB &, PF_PixelFloat &);                             \
    template bool TopologycalSamplingFromPlacement<P>(                                            \
        const Record &, const RowReach &, const Vector3 &, const AnglePlacement &, double, double,  \
        double, const PF_LayerDef *, PF_PixelFloat &, int &);

VELTRIX_INSTANTIATE_TEXTURE_SAMPLING(PF_PixelFloat)
VELTRIX_INSTANTIATE_TEXTURE_SAMPLING(PF_Pixel16)
VELTRIX_INSTANTIATE_TEXTURE_SAMPLING(PF_Pixel)

#undef VELTRIX_INSTANTIATE_TEXTURE_SAMPLING

template class TexelLookups<PF_PixelFloat>;
template class TexelLookups<PF_Pixel16>;
template class TexelLookups<PF_Pixel>;
