#include "tracer/PixelCallbacks.h"

#include "host/aeMemory.h"
#include "tracer/Coverage.h"
#include "tracer/FootprintLanes.h"
#include "tracer/HitLanes.h"
#include "tracer/LightLanes.h"
#include "tracer/ReachWindow.h"
#include "tracer/Ray.h"
#include "tracer/Shading.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>
#include <type_traits>

using namespace pixel_pass;

namespace {

using Record = RenderInfoTemplate<Hyperboloid>;

// "Render Side" values that suppress a face.
constexpr int kRenderInside = 2;  // hides t-, the face turned toward the axis
constexpr int kRenderOutside = 3; // hides t+, the face turned away from it

// Depth of a pixel layer without surface.
constexpr float kNoSurface = -1.0f;

constexpr PF_PixelFloat kTransparent{0.0f, 0.0f, 0.0f, 0.0f};

// Where the depth pass writes a pixel.
struct DepthTargets {
    void *nearColour, *farColour, *nearDepth, *farDepth;

    bool complete() const { return nearColour && farColour && nearDepth && farDepth; }
};

} // namespace

// The coverage of the pixels after the one a thread last traced: the host
// hands each thread consecutive pixels, so a run of them is covered at once
// (see CoverRun) and served from here. It belongs to the pass whose serial it
// holds; a new pass starts afresh.
//
// It is rewritten every few pixels, so each keeps cache lines of its own: two
// threads' caches side by side, or a cache next to data every thread reads
// per sample, would otherwise pass their shared line from core to core. The
// lines go in aligned pairs, as the processors' prefetchers fetch them: with
// 64-byte alignment alone, the two caches of a 2-thread pass met in one pair,
// and the pass ran about 3 % slower.
struct alignas(128) CoverageCache {
    std::uint64_t pass = 0;
    A_long index = 0;        // the run's first pixel's index
    int x = 0, y = 0, n = 0; // the run: pixels (x, y) to (x + n - 1, y)
    // The run lies outside the pass's reach window: in the trace pass its
    // pixels were not covered (each holds count 0) and are stored
    // transparent; in the depth pass their hits are settled out of reach.
    bool outside = false;
    bool traced = false; // covered for the trace pass
    PixelCoverage run[kCoverageRun];
    // The hits the run's pixels shade first, worked out ahead together in
    // lanes (trace pass, textured surface; see HitAhead), with the
    // footprints of those in the texture's reach, measured in lanes where
    // enough of them are; unused otherwise. The record's part of the lanes
    // is the pass's, worked out at its first run.
    // What the run has worked out (the u angles and the lights only with the
    // hit lanes); a run with neither hit lanes nor footprints has nothing.
    bool hasValues = false, hasFootprints = false, hasLights = false, hasU = false;
    bool hasTexels = false; // the texels of the hits in reach (TexelAhead)
    bool hasColours = false; // the trace pass's colours of pixels shaded ahead
    // Runs left without the hit lanes: after a run whose hits all lie in the
    // texture's reach the next ones are likely to as well, and shading works
    // out such hits about as cheaply itself. Not where there are lights to
    // work out in lanes, which pays on every lit hit.
    int hitLanePause = 0;
    double aheadT[kCoverageRun]; // each lane's hit; NaN: none
    // Whether each lane's near and far hits are drawn (RootsOf), as
    // LookAheadRun found them; the lanes past the run's end hold no pixel.
    bool nearDrawn[kCoverageRun], farDrawn[kCoverageRun];
    FootprintLaneHits hits;
    HitLaneValues values;
    FootprintLaneRadii radii;
    LightLaneValues lights;
    // The hits' u, where in reach (HitU); NaN where only bounds of its angle
    // were worked out (angleOnly), which stand for u in the texel lookups
    // ahead (TexelAheadFromAngle) wherever they settle them. Nothing reads u
    // after those lookups but "Show Pivot", which keeps u exact.
    double u[kCoverageRun];
    bool angleOnly[kCoverageRun]; // bounds in values.angleLo and angleHi
    PF_PixelFloat texels[kCoverageRun]; // where in reach, with hasTexels
    // The pixels shaded together ahead (ShadeRunAhead) and their colours,
    // with hasColours: in the trace pass coverage applied, as it stores them;
    // in the depth pass the hit's colour as shading gives it.
    bool shadedAhead[kCoverageRun];
    PF_PixelFloat colours[kCoverageRun];
    // The trace pass's pixels of the run whose bytes were settled with the
    // run (SettleRun): those the surface does not cover (all bytes zero) and
    // those shaded ahead, stored as the output's pixel type. Their callbacks
    // only copy them to `pixels`, where the run's first pixel lies in the
    // output.
    bool settled[kCoverageRun];
    alignas(16) unsigned char stored[kCoverageRun][sizeof(PF_PixelFloat)];
    unsigned char *pixels = nullptr;
    // The depth pass's likewise (SettleDepthRun): pixels the surface misses,
    // and pixels of a run outside the reach window, whose hits all lie beyond
    // the texture's reach. `stored` holds the front layer's colour; `back`
    // the back layer's; `depths` the two depths. `targets` is where the run's
    // first pixel lies in the four side buffers, which hold the whole run
    // where hasTargets is set.
    alignas(16) unsigned char back[kCoverageRun][sizeof(PF_PixelFloat)];
    float depths[kCoverageRun][2];
    bool hasTargets = false;
    DepthTargets targets{};
    std::uint64_t lanePass = 0;
    // The pass's reach window (TraceScratch's) and its columns on one row.
    std::uint64_t windowPass = 0; // the pass `window` belongs to
    const ReachWindow *window = nullptr;
    int windowRow = 0; // the row `columns` belongs to, in that pass
    ReachWindow::Columns columns{};
    HitLaneScene hitScene;
    LightLaneScene lightScene;
    FootprintLaneScene footprintScene;
    // The reflection map's part of the run's lit hits in reach, worked out
    // ahead (ReflectRun), with hasReflections.
    bool hasReflections = false;
    RunReflections reflections;
};

// Measuring a run's footprints in lanes pays from this many hits in reach;
// fewer are measured one by one as they are shaded.
constexpr int kFootprintsThatPay = 3;
// Runs without the hit lanes after one whose hits they found all in reach.
constexpr int kHitLanePauseRuns = 8;
static_assert(std::is_trivially_destructible_v<CoverageCache>);

TraceScratch::TraceScratch(int threads)
{
    if (threads <= 0) return;
    void *block = AEAlignedAlloc(sizeof(CoverageCache) * static_cast<std::size_t>(threads),
                                 alignof(CoverageCache));
    if (!block) return; // no host memory: every thread covers its pixels on its own
    caches_ = static_cast<CoverageCache *>(block);
    for (int k = 0; k < threads; ++k) new (caches_ + k) CoverageCache();
    threads_ = threads;
}

TraceScratch::~TraceScratch()
{
    // CoverageCache is trivially destructible: the block goes back as it is.
    AEAlignedFree(caches_);
}

CoverageCache *TraceScratch::forThread(A_long threadIndex) const
{
    return threadIndex >= 0 && threadIndex < threads_ ? caches_ + threadIndex : nullptr;
}

const ReachWindow &TraceScratch::reachWindow(const Record &info)
{
    if (windowPass_.load(std::memory_order_acquire) == info.passSerial) return window_;
    const std::lock_guard<std::mutex> lock(windowLock_);
    if (windowPass_.load(std::memory_order_relaxed) != info.passSerial) {
        window_ = TextureReachWindow(info);
        windowPass_.store(info.passSerial, std::memory_order_release);
    }
    return window_;
}

namespace {

// The coverage of pixel i of the pass from the calling thread's cache, with
// its column x and row y; null when i lies outside the output (see
// PixelOfIndex). The host hands each thread consecutive pixels, so a run of
// them is covered at once (see CoverRun) and the next ones are served from
// the cache without a division to find their place. In the trace pass
// (`traced`) a run outside the reach window is not covered: its pixels come
// with count 0, which the trace pass stores as it stores a pixel the surface
// misses (the very value such a pixel's hits would give it: see
// ReachWindow.h). The depth pass, which writes every hit's depth, covers
// such a run but works nothing out ahead: its hits are all beyond reach.
template <class P, bool traced>
const PixelCoverage *CoverNewRun(const Record &info, CoverageCache &cache, A_long i, int &x,
                                 int &y);

template <class P, bool traced>
inline const PixelCoverage *CoverIndex(const Record &info, CoverageCache &cache, A_long i, int &x,
                                       int &y)
{
    // A run of this pass was covered for this output, which CoverNewRun found
    // to hold P, and a pass's record does not change: no need to ask again.
    if (cache.pass == info.passSerial && i >= cache.index && i - cache.index < cache.n &&
        cache.traced == traced) {
        const int k = static_cast<int>(i - cache.index);
        x = cache.x + k;
        y = cache.y;
        return &cache.run[k];
    }
    return CoverNewRun<P, traced>(info, cache, i, x, y);
}

// Whether the run of n pixels from (x, y) lies outside the pass's reach
// window (the scratch's, which the thread takes at its first run of the
// pass), from the window's columns on the row, taken at the row's first run.
bool OutsideReachWindow(const Record &info, CoverageCache &cache, int x, int y, int n)
{
    if (cache.windowPass != info.passSerial) {
        cache.window = &info.traceScratch->reachWindow(info);
        cache.windowPass = info.passSerial;
        cache.columns = cache.window->columnsOf(y);
        cache.windowRow = y;
    } else if (cache.windowRow != y) {
        cache.columns = cache.window->columnsOf(y);
        cache.windowRow = y;
    }
    return !cache.columns.meet(x, x + n - 1);
}

void LookAheadRun(const Record &info, CoverageCache &cache);
template <class P> void LookUpRunTexels(const Record &info, CoverageCache &cache);
template <class P> void ReflectRun(const Record &info, CoverageCache &cache, TexelLookups<P> &lookups);
template <class P>
void LookUpRunObstructions(const Record &info, CoverageCache &cache, TexelLookups<P> &lookups);
template <bool traced> void ShadeRun(const Record &info, CoverageCache &cache);
template <class P> void SettleRun(const Record &info, CoverageCache &cache);
template <class P> void SettleDepthRun(const Record &info, CoverageCache &cache);

// The run that starts at pixel i, covered into the cache: once every few
// pixels, so kept out of line, and the pixels served from the cache take no
// call.
template <class P, bool traced>
[[gnu::noinline]] const PixelCoverage *CoverNewRun(const Record &info, CoverageCache &cache,
                                                   A_long i, int &x, int &y)
{
    if (!PixelOfIndex<P>(info.outputWorld, i, x, y)) return nullptr;
    const int n = std::min(kCoverageRun, info.outputWorld->width - x);
    cache.pass = info.passSerial;
    cache.index = i;
    cache.x = x;
    cache.y = y;
    cache.n = n;
    cache.traced = traced;
    cache.outside = OutsideReachWindow(info, cache, x, y, n);
    if (cache.outside && traced) {
        for (int k = 0; k < n; ++k) cache.run[k].count = 0;
    } else {
        CoverRun(info, x, y, n, cache.run);
    }
    cache.hasTexels = cache.hasColours = cache.hasReflections = false;
    if (cache.outside) {
        cache.hasValues = cache.hasFootprints = cache.hasLights = cache.hasU = false;
    } else {
        LookAheadRun(info, cache);
        // The texels, looked up in a row (TexelLookups), are cheaper than
        // each hit's lookup in its own shading, where the run is not shaded
        // in lanes too.
        LookUpRunTexels<P>(info, cache);
        if (ShadesRunsAhead(info)) ShadeRun<traced>(info, cache);
    }
    if constexpr (traced) SettleRun<P>(info, cache);
    else SettleDepthRun<P>(info, cache);
    return &cache.run[0];
}

// Whether a root is shaded. A root that is not finite (a ray parallel to an
// asymptote has A = 0) has no crossing to shade.
// (t > 0 and t <= the largest double is t > 0 and finite, in two comparisons.)
inline bool IsDrawn(double t, bool faceShown)
{
    return faceShown && t > 0.0 && t <= std::numeric_limits<double>::max();
}

inline PF_PixelFloat WithCoverage(const PF_PixelFloat &c, double coverage)
{
    return {static_cast<float>(c.alpha * coverage), c.red, c.green, c.blue};
}

// The two roots of a covering ray in the order the pixel sees them, and
// whether each is shaded.
struct ShadedRoots {
    double tNear, tFar;
    bool nearDrawn, farDrawn;
};

ShadedRoots RootsOf(const Record &info, const PixelCoverage &p)
{
    const double tMinus = p.tMinus, tPlus = p.tPlus;
    const bool minusShown = info.renderSide != kRenderInside;
    const bool plusShown = info.renderSide != kRenderOutside;
    const bool minusNear = tPlus > tMinus;
    const double tNear = minusNear ? tMinus : tPlus;
    const double tFar = minusNear ? tPlus : tMinus;
    // IsDrawn's tests, taken bitwise: a run's lanes take them without
    // branches (LookAheadRun).
    constexpr double kLargest = std::numeric_limits<double>::max();
    const bool nearShown = minusNear ? minusShown : plusShown;
    const bool farShown = minusNear ? plusShown : minusShown;
    const bool nearDrawn = nearShown & (tNear > 0.0) & (tNear <= kLargest);
    const bool farDrawn = farShown & (tFar > 0.0) & (tFar <= kLargest);
    return {tNear, tFar, nearDrawn, farDrawn};
}

// The colour along a covering ray: the near hit, and the far hit seen through
// it where the near one is not opaque. `ahead` is what was worked out ahead
// for the hit shaded first, or null.
template <class P>
PF_PixelFloat TraceHits(const Record &info, const PixelCoverage &p, const HitAhead *ahead)
{
    const ShadedRoots roots = RootsOf(info, p);
    PF_PixelFloat N = kTransparent;
    if (roots.nearDrawn) ShadeHit<P>(p.ray, roots.tNear, info, N, ahead);
    if (!roots.farDrawn || !(N.alpha < 1.0f)) return N;
    PF_PixelFloat F = kTransparent;
    ShadeHit<P>(p.ray, roots.tFar, info, F, ahead);
    return Over(N, F);
}

// The hits the run's pixels shade first (the near hit where it is drawn,
// else the far one), worked out ahead in lanes, and the footprints of those
// in the texture's reach; only on a textured surface, the one that has hits
// beyond the texture's reach. While the hit lanes pause, every hit counts as
// in reach. Every lane holds a ray (a short run repeats its last pixel); one
// without a hit to work out takes its ray at t = 1, unused.
void LookAheadRun(const Record &info, CoverageCache &cache)
{
    static_assert(kHitLanes == kCoverageRun && kFootprintLanes == kCoverageRun);
    cache.hasValues = cache.hasFootprints = cache.hasLights = cache.hasU = false;
    if (!IsLayerChosen(info.textureLayer)) return;
    if (cache.lanePass != info.passSerial) {
        cache.hitScene = MakeHitLaneScene(info);
        cache.lightScene = MakeLightLaneScene(info);
        cache.footprintScene = FootprintScene(info);
        cache.lanePass = info.passSerial;
    }
    FootprintLaneHits &hits = cache.hits;
    for (int k = 0; k < kCoverageRun; ++k) {
        const PixelCoverage &p = cache.run[k];
        const ShadedRoots roots = RootsOf(info, p);
        cache.nearDrawn[k] = roots.nearDrawn;
        cache.farDrawn[k] = roots.farDrawn;
        const bool shaded = k < cache.n && p.count > 0 && (roots.nearDrawn || roots.farDrawn);
        hits.ox[k] = p.ray.origin.getX();
        hits.oy[k] = p.ray.origin.getY();
        hits.oz[k] = p.ray.origin.getZ();
        hits.dx[k] = p.ray.direction.getX();
        hits.dy[k] = p.ray.direction.getY();
        hits.dz[k] = p.ray.direction.getZ();
        hits.t[k] = !shaded ? 1.0 : roots.nearDrawn ? roots.tNear : roots.tFar;
        cache.aheadT[k] = shaded ? hits.t[k] : std::numeric_limits<double>::quiet_NaN();
    }
    cache.hasValues = cache.hitLanePause == 0;
    if (cache.hasValues) LocateHitLanes(cache.hitScene, hits, cache.values);
    else --cache.hitLanePause;
    int inReach = 0, beyond = 0;
    for (int k = 0; k < kCoverageRun; ++k) {
        if (std::isnan(cache.aheadT[k])) continue;
        const bool out = cache.hasValues && cache.values.outOfReach[k] != 0.0;
        inReach += !out;
        beyond += out;
    }
    // The hits' u, one after another, so that their arctangents overlap;
    // only bounds of the angles where the texels are looked up ahead (the
    // footprints are measured) and nothing reads u after them.
    if (cache.hasValues && inReach > 0) {
        const HitLaneValues &v = cache.values;
        const bool bounds = inReach >= kFootprintsThatPay && !info.showPivot;
        for (int k = 0; k < cache.n; ++k) {
            if (std::isnan(cache.aheadT[k]) || v.outOfReach[k] != 0.0) continue;
            cache.angleOnly[k] = bounds && v.angleBounded[k] != 0.0;
            cache.u[k] = cache.angleOnly[k]
                             ? std::numeric_limits<double>::quiet_NaN()
                             : HitU(info, Vectormath::Aos::Vector3(v.px[k], v.py[k], v.pz[k]), v.rawV[k]);
        }
        cache.hasU = true;
    }
    // The lights and the reflection, where a hit is in reach (only those
    // are lit).
    cache.hasLights = cache.hasValues && inReach > 0 &&
                      (cache.lightScene.lights > 0 || cache.lightScene.reflects);
    if (cache.hasLights) LightHitLanes(cache.lightScene, hits, cache.values, cache.lights);
    if (cache.hasValues && beyond == 0 && !cache.hasLights) cache.hitLanePause = kHitLanePauseRuns;
    if (inReach < kFootprintsThatPay) return;
    // The footprints, of the hits in reach.
    for (int k = 0; k < kCoverageRun; ++k)
        if (cache.hasValues && cache.values.outOfReach[k] != 0.0) hits.t[k] = 1.0; // not taken
    MeasureFootprintLanes(cache.footprintScene, hits, cache.radii);
    if (cache.hasValues) PlaceLookupLanes(cache.hitScene, cache.radii, cache.values);
    cache.hasFootprints = true;
}

// Whether lane k's first drawn hit was worked out ahead (LookAheadRun: its
// pixel is covered and a hit is drawn) and lies in the texture's reach.
inline bool InReachAhead(const CoverageCache &cache, int k)
{
    return !std::isnan(cache.aheadT[k]) && cache.values.outOfReach[k] == 0.0;
}

// The texels of the run's hits in the texture's reach, one after another
// (TexelLookups), where their footprints and u were worked out ahead: the
// run's shading in lanes (ShadeRun) takes them all at once, and a hit shaded
// on its own finds its texel through HitAhead::texels.
template <class P> void LookUpRunTexels(const Record &info, CoverageCache &cache)
{
    if (!(cache.hasValues && cache.hasFootprints && cache.hasU)) return;
    TexelLookups<P> lookups(info);
    const bool direct = lookups.samplesDirectly();
    const HitLaneValues &v = cache.values;
    for (int k = 0; k < cache.n; ++k) {
        if (!InReachAhead(cache, k)) continue;
        if (cache.angleOnly[k] && direct && v.common[k] != 0.0) {
            // The lanes placed the common lookup's one host sample.
            info.noteSamplingErr(
                lookups.sample(v.column[k], v.row[k], v.xRadius[k], v.yRadius[k], cache.texels[k]));
            continue;
        }
        const HitAhead ahead{cache.aheadT[k], &cache.values, &cache.radii, nullptr, cache.u, k};
        if (cache.angleOnly[k]) {
            if (TexelAheadFromAngle<P>(info, ahead, lookups, cache.texels[k]))
                continue;
            // The bounds leave the lookup open: the angle itself.
            cache.u[k] = HitU(info, Vectormath::Aos::Vector3(v.px[k], v.py[k], v.pz[k]), v.rawV[k]);
            cache.angleOnly[k] = false;
        }
        cache.texels[k] = TexelAhead<P>(info, ahead, lookups);
    }
    cache.hasTexels = true;
    if (direct && cache.hasLights && cache.lightScene.reflects) ReflectRun<P>(info, cache, lookups);
}

// The reflection map's part of the run's lit hits in reach (RunReflections):
// the texels that hide it, then its colours and strengths.
template <class P> void ReflectRun(const Record &info, CoverageCache &cache, TexelLookups<P> &lookups)
{
    LookUpRunObstructions<P>(info, cache, lookups);
    bool lit[kCoverageRun];
    for (int k = 0; k < kCoverageRun; ++k)
        lit[k] = k < cache.n && InReachAhead(cache, k) && cache.texels[k].alpha > 0.0f;
    ReflectRunAhead<P>(info, cache.hits, cache.values, cache.lights, lit, cache.reflections);
    cache.hasReflections = true;
}

// The texels that hide the map from the run's hits in reach (the occluded
// reflections, OccludedReflection in shading): the point where a hit's
// reflected ray meets the surface again is that ray's point at its farther
// crossing, as shading takes it, so the hit lanes work it out from the
// ray's start, direction and crossing as they work out a hit, and place its
// lookup (no footprint: radii 0). The common lookups go straight to the
// sampler; shading looks up the others.
template <class P>
void LookUpRunObstructions(const Record &info, CoverageCache &cache, TexelLookups<P> &lookups)
{
    const LightLaneValues &l = cache.lights;
    const HitLaneValues &v = cache.values;
    FootprintLaneHits rays; // from each hit along its reflected ray
    RunReflections &r = cache.reflections;
    std::fill_n(r.obstructed, kCoverageRun, false);
    bool wanted[kCoverageRun];
    bool any = false;
    for (int k = 0; k < kCoverageRun; ++k) {
        wanted[k] = k < cache.n && InReachAhead(cache, k) && l.occluded[k] != 0.0;
        any |= wanted[k];
        rays.ox[k] = v.px[k];
        rays.oy[k] = v.py[k];
        rays.oz[k] = v.pz[k];
        rays.dx[k] = l.rx[k];
        rays.dy[k] = l.ry[k];
        rays.dz[k] = l.rz[k];
        rays.t[k] = wanted[k] ? l.occlusionT[k] : 1.0; // a lane not wanted is not read
    }
    if (!any) return;
    HitLaneValues at; // the hit lanes' steps at the crossings
    LocateHitLanes(cache.hitScene, rays, at);
    const FootprintLaneRadii none{};
    PlaceLookupLanes(cache.hitScene, none, at);
    for (int k = 0; k < cache.n; ++k) {
        if (!wanted[k] || at.angleBounded[k] == 0.0 || at.common[k] == 0.0) continue;
        info.noteSamplingErr(
            lookups.sample(at.column[k], at.row[k], at.xRadius[k], at.yRadius[k], r.obstruction[k]));
        r.obstructed[k] = true;
    }
}

// The trace pass's colours of the run's pixels whose first drawn hit is all
// they show, shaded together in lanes where shading needs nothing that is not
// worked out ahead (ShadeRunAhead); the callbacks then only store them. Such
// a hit is the near one where it is opaque or has no far hit behind it, or
// the far one where the near one is not drawn (behind the eye, or a face not
// shown), laid over nothing as TraceHits lays it. The other pixels are traced
// as they come, each on its own.
template <bool traced> void ShadeRun(const Record &info, CoverageCache &cache)
{
    if (!cache.hasTexels) return;
    bool want[kCoverageRun];
    for (int k = 0; k < kCoverageRun; ++k) want[k] = InReachAhead(cache, k);
    if (std::none_of(want, want + kCoverageRun, [](bool w) { return w; })) return;
    // NaN where ShadeRunAhead would fail to write a lane it keeps: such a
    // lane is then stored as NaN, which the host's worlds show, never as a
    // colour left over from another run.
    constexpr float kUnwritten = std::numeric_limits<float>::quiet_NaN();
    PF_PixelFloat first[kCoverageRun];
    std::fill_n(first, kCoverageRun, PF_PixelFloat{kUnwritten, kUnwritten, kUnwritten, kUnwritten});
    if (!ShadeRunAhead(info, cache.aheadT, cache.texels, cache.hasLights ? &cache.lights : nullptr,
                       cache.hasReflections ? &cache.reflections : nullptr, want, first))
        return;
    if constexpr (!traced) {
        // The depth pass writes each hit as its own layer: the colour as
        // shading gives it.
        for (int k = 0; k < kCoverageRun; ++k) {
            cache.shadedAhead[k] = want[k];
            if (want[k]) cache.colours[k] = first[k];
        }
        cache.hasColours = true;
        return;
    }
    for (int k = 0; k < kCoverageRun; ++k) {
        const bool farOnly = !cache.nearDrawn[k];
        cache.shadedAhead[k] =
            want[k] && (farOnly || !cache.farDrawn[k] || !(first[k].alpha < 1.0f));
        if (!cache.shadedAhead[k]) continue;
        const PF_PixelFloat shown = farOnly ? Over(kTransparent, first[k]) : first[k];
        cache.colours[k] = WithCoverage(shown, cache.run[k].coverage);
    }
    cache.hasColours = true;
}

// The bytes of the trace pass's pixels that need no more work (see
// CoverageCache::settled): a pixel the surface does not cover stores
// kTransparent, all bytes zero at every depth (TracePixel), and one shaded
// ahead its colour, by StorePixel as its callback would.
template <class P> void SettleRun(const Record &info, CoverageCache &cache)
{
    static_assert(sizeof(P) <= sizeof(cache.stored[0]));
    cache.pixels = reinterpret_cast<unsigned char *>(
        OutputPixel<P>(info.outputWorld, cache.x, cache.y));
    std::memset(cache.stored, 0, sizeof cache.stored);
    if (!cache.hasColours) {
        for (int k = 0; k < cache.n; ++k) cache.settled[k] = cache.run[k].count <= 0;
        return;
    }
    for (int k = 0; k < cache.n; ++k) {
        const bool shaded = cache.shadedAhead[k];
        cache.settled[k] = shaded || cache.run[k].count <= 0;
        if (shaded) StorePixel<P>(cache.stored[k], cache.colours[k]);
    }
}

// A pixel the surface covers: its hits, with alpha times the coverage. Out of
// line, so that the pixels it does not cover stay a few instructions.
template <class P>
[[gnu::noinline]] PF_Err TraceCoveredPixel(const Record &info, const PixelCoverage &p,
                                           const HitAhead *ahead, int x, int y)
{
    StorePixel<P>(OutputPixel<P>(info.outputWorld, x, y),
                  WithCoverage(TraceHits<P>(info, p, ahead), p.coverage));
    return PF_Err_NONE;
}

template <class P>
[[gnu::always_inline]] inline PF_Err TracePixel(const Record &info, const PixelCoverage &p,
                                                const HitAhead *ahead, int x, int y)
{
    if (p.count > 0) return TraceCoveredPixel<P>(info, p, ahead, x, y);
    // kTransparent as stored at every depth: all bytes zero.
    std::memset(OutputPixel<P>(info.outputWorld, x, y), 0, sizeof(P));
    return PF_Err_NONE;
}

// ---- depth pass ---------------------------------------------------------------------

template <class P> DepthTargets TargetsAt(const Record &info, int x, int y)
{
    constexpr int colourBytes = static_cast<int>(sizeof(P));
    constexpr int depthBytes = static_cast<int>(sizeof(float));
    return {WorldPixel(info.nearColorWorld, colourBytes, x, y),
            WorldPixel(info.farColorWorld, colourBytes, x, y),
            WorldPixel(info.nearDepthWorld, depthBytes, x, y),
            WorldPixel(info.farDepthWorld, depthBytes, x, y)};
}

// Whether the four side buffers, which hold a pixel of column x (TargetsAt
// found it in every one), hold the n - 1 pixels after it in its row too.
inline bool HoldRunFrom(const Record &info, int x, int n)
{
    const int last = x + n - 1;
    for (const AEO::World *world :
         {info.nearColorWorld, info.farColorWorld, info.nearDepthWorld, info.farDepthWorld})
        if (last >= world->width()) return false;
    return true;
}

// The depth of one surface layer of a covered pixel: the root where it is
// drawn; otherwise the root's distance, or no surface when there is no finite
// root or the surface is degenerate (no vertex distance).
inline float LayerDepth(const Record &info, double t, bool faceShown)
{
    if (IsDrawn(t, faceShown)) return static_cast<float>(t);
    if (std::isfinite(t) && info.shape.invRadii.getZ() != 0.0f)
        return static_cast<float>(std::fabs(t));
    return kNoSurface;
}

// One surface layer of a covered pixel: its colour, alpha times coverage,
// where the root is drawn, otherwise transparent; and its depth (LayerDepth).
// A hit not worked out ahead whose height the pass's reach window shows
// beyond the texture's reach (most second hits) takes the colour shading
// gives such a hit without being located.
template <class P>
void WriteLayer(const Record &info, const PixelCoverage &p, double t, bool faceShown,
                const HitAhead *ahead, const ReachWindow *window, void *colourDst,
                void *depthDst)
{
    PF_PixelFloat colour = kTransparent;
    if (IsDrawn(t, faceShown)) {
        const bool own = ahead && ahead->t == t;
        if (own && ahead->shaded) colour = *ahead->shaded;
        else if (!own && window && window->beyondHeights(p.ray.pointAt(t).getZ()))
            OutOfReachColour(info, t, colour);
        else ShadeHit<P>(p.ray, t, info, colour, ahead);
    }
    StorePixel<P>(colourDst, WithCoverage(colour, p.coverage));
    StoreDepth(depthDst, LayerDepth(info, t, faceShown));
}

// Depth given to a pixel the surface misses: the ray parameter where the ray
// comes closest to the surface, when the surface there lies within the blur
// of the depth of field, so that the blur of nearby pixels can spread into
// this one; otherwise no surface.
float MissDepth(const Record &info, const PixelCoverage &p)
{
    const float tm = p.A != 0.0 ? static_cast<float>(p.Bh / p.A) : 0.0f;
    if (tm == 0.0f || !std::isfinite(tm)) return kNoSurface; // no usable closest approach
    const Vectormath::Aos::Vector3 X = p.ray.pointAt(tm).getXYZ();
    const double distance = info.shape.evaluateDistance(X);
    const double zoom = std::fabs(info.imagePlane.getZ());
    return info.dofBlurScale > distance * zoom / tm ? tm : kNoSurface;
}

// What the depth pass knows ahead of the hits of a run outside the reach
// window: all of them lie beyond the texture's reach.
HitAhead BeyondReach()
{
    HitAhead beyond{0.0, nullptr, nullptr, nullptr, nullptr, 0};
    beyond.beyondReach = true;
    return beyond;
}

// The depth pass's pixel, written to `dst`; `window` is the pass's reach
// window, or null.
template <class P>
void WriteDepthPixel(const Record &info, const PixelCoverage &p, const HitAhead *ahead,
                     const ReachWindow *window, const DepthTargets &dst)
{
    if (p.count > 0) {
        WriteLayer<P>(info, p, p.tMinus, info.renderSide != kRenderInside, ahead, window,
                      dst.nearColour, dst.nearDepth);
        WriteLayer<P>(info, p, p.tPlus, info.renderSide != kRenderOutside, ahead, window,
                      dst.farColour, dst.farDepth);
        return;
    }
    const float depth = MissDepth(info, p);
    StoreDepth(dst.nearDepth, depth);
    StoreDepth(dst.farDepth, depth);
    StorePixel<P>(dst.nearColour, kTransparent);
    StorePixel<P>(dst.farColour, kTransparent);
}

template <class P>
PF_Err TraceDepthPixel(const Record &info, const PixelCoverage &p, const HitAhead *ahead, int x,
                       int y)
{
    const DepthTargets dst = TargetsAt<P>(info, x, y);
    if (!dst.complete()) return SideBufferError(info);
    WriteDepthPixel<P>(info, p, ahead, nullptr, dst);
    return PF_Err_NONE;
}

// The depth pass's pixels of the run that take no shading (see
// CoverageCache::back), written into the cache by WriteDepthPixel itself;
// and where the run lies in the side buffers. A run the buffers do not hold
// whole settles nothing: its callbacks find what is missing on their own.
template <class P> void SettleDepthRun(const Record &info, CoverageCache &cache)
{
    static_assert(sizeof(P) <= sizeof(cache.back[0]));
    cache.targets = TargetsAt<P>(info, cache.x, cache.y);
    cache.hasTargets = cache.targets.complete() && HoldRunFrom(info, cache.x, cache.n);
    const HitAhead beyond = BeyondReach();
    const bool minusShown = info.renderSide != kRenderInside;
    const bool plusShown = info.renderSide != kRenderOutside;
    for (int k = 0; k < cache.n; ++k) {
        const PixelCoverage &p = cache.run[k];
        cache.settled[k] = cache.hasTargets && (p.count <= 0 || cache.outside);
        if (!cache.settled[k]) continue;
        if (cache.outside && p.count > 0) {
            // Both hits lie beyond the texture's reach, where shading gives
            // transparent black (a pass has a reach window only where depth
            // compositing keeps it so), whatever the coverage: every byte of
            // both colours is zero, at every depth. Only the depths remain.
            std::memset(cache.stored[k], 0, sizeof(P));
            std::memset(cache.back[k], 0, sizeof(P));
            cache.depths[k][0] = LayerDepth(info, p.tMinus, minusShown);
            cache.depths[k][1] = LayerDepth(info, p.tPlus, plusShown);
            continue;
        }
        const DepthTargets own{cache.stored[k], cache.back[k], &cache.depths[k][0],
                               &cache.depths[k][1]};
        WriteDepthPixel<P>(info, p, &beyond, nullptr, own);
    }
}

// Lane k's place in the side buffers, whose run they hold whole.
template <class P> DepthTargets RunTargets(const CoverageCache &cache, int k)
{
    const DepthTargets &first = cache.targets;
    const std::size_t colour = static_cast<std::size_t>(k) * sizeof(P);
    const std::size_t depth = static_cast<std::size_t>(k) * sizeof(float);
    return {static_cast<unsigned char *>(first.nearColour) + colour,
            static_cast<unsigned char *>(first.farColour) + colour,
            static_cast<unsigned char *>(first.nearDepth) + depth,
            static_cast<unsigned char *>(first.farDepth) + depth};
}

// A settled pixel of the depth pass, copied to its place.
template <class P> void CopySettledDepth(const CoverageCache &cache, int k)
{
    const DepthTargets dst = RunTargets<P>(cache, k);
    std::memcpy(dst.nearColour, cache.stored[k], sizeof(P));
    std::memcpy(dst.farColour, cache.back[k], sizeof(P));
    std::memcpy(dst.nearDepth, &cache.depths[k][0], sizeof(float));
    std::memcpy(dst.farDepth, &cache.depths[k][1], sizeof(float));
}

// The work of one pixel, given its coverage, what was worked out ahead for its
// first hit (or null) and its column and row.
using PixelWork = PF_Err (*)(const Record &, const PixelCoverage &, const HitAhead *, int x, int y);

// Pixel i of a thread without a cache (a record without scratch, or a thread
// index it has no block for), covered on its own: the same values.
template <class P, PixelWork work> [[gnu::noinline]] PF_Err WorkAlone(const Record &info, A_long i)
{
    int x = 0, y = 0;
    if (!PixelOfIndex<P>(info.outputWorld, i, x, y)) return PF_Err_BAD_CALLBACK_PARAM;
    PixelCoverage own[kCoverageRun];
    CoverRun(info, x, y, 1, own);
    return work(info, own[0], nullptr, x, y);
}

// A pixel settled with its run, copied to its place.
template <class P, bool traced> PF_Err CopySettled(const CoverageCache &cache, int lane)
{
    if constexpr (traced)
        std::memcpy(cache.pixels + lane * sizeof(P), cache.stored[lane], sizeof(P));
    else
        CopySettledDepth<P>(cache, lane);
    return PF_Err_NONE;
}

// WorkAt for a pixel that its thread's cache does not hold settled: out of
// line, so that the settled pixels, most of a frame, take a few instructions.
template <class P, PixelWork work, bool traced>
[[gnu::noinline]] PF_Err WorkOnRun(const Record &info, CoverageCache &cache, A_long i)
{
    int x = 0, y = 0;
    const PixelCoverage *p = CoverIndex<P, traced>(info, cache, i, x, y);
    if (!p) return PF_Err_BAD_CALLBACK_PARAM;
    const int lane = static_cast<int>(p - cache.run);
    if (cache.settled[lane]) return CopySettled<P, traced>(cache, lane); // a run just covered
    // The depth pass writes where the run lies in the side buffers, when
    // they hold it whole.
    const auto workOn = [&](const HitAhead *ahead) -> PF_Err {
        if constexpr (!traced) {
            if (cache.hasTargets) {
                WriteDepthPixel<P>(info, *p, ahead, cache.window, RunTargets<P>(cache, lane));
                return PF_Err_NONE;
            }
        }
        return work(info, *p, ahead, x, y);
    };
    if (!traced && cache.outside) {
        const HitAhead beyond = BeyondReach();
        return workOn(&beyond);
    }
    if (!cache.hasValues && !cache.hasFootprints) return workOn(nullptr);
    // (The trace pass's pixels shaded ahead are settled.)
    HitAhead ahead{cache.aheadT[lane], cache.hasValues ? &cache.values : nullptr,
                   cache.hasFootprints ? &cache.radii : nullptr,
                   cache.hasLights ? &cache.lights : nullptr, cache.hasU ? cache.u : nullptr,
                   lane};
    ahead.texels = cache.hasTexels ? cache.texels : nullptr;
    if (cache.hasReflections) ahead.reflections = &cache.reflections;
    if (!traced && cache.hasColours && cache.shadedAhead[lane])
        ahead.shaded = &cache.colours[lane];
    return workOn(&ahead);
}

// Runs `work` for pixel i of the pass; a bad parameter when there is no
// record or i lies outside the output. `traced`: the trace pass, whose
// runs outside the reach window are not covered (CoverIndex).
template <class P, PixelWork work, bool traced>
inline PF_Err WorkAt(const Record *info, A_long threadIndex, A_long i)
{
    if (!info) return PF_Err_BAD_CALLBACK_PARAM;
    CoverageCache *cache = info->traceScratch ? info->traceScratch->forThread(threadIndex) : nullptr;
    if (!cache) return WorkAlone<P, work>(*info, i);
    // Many pixels were settled with their run.
    if (cache->pass == info->passSerial && i >= cache->index && i - cache->index < cache->n &&
        cache->traced == traced) {
        const int lane = static_cast<int>(i - cache->index);
        if (cache->settled[lane]) return CopySettled<P, traced>(*cache, lane);
    }
    return WorkOnRun<P, work, traced>(*info, *cache, i);
}

// Runs one pixel's work, turning anything thrown into the callback's error:
// the host's iterator cannot take an exception.
template <class Work> PF_Err Guarded(Work &&work)
{
    try {
        return work();
    } catch (PF_Err err) {
        return err;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

} // namespace

template <class P>
PF_Err RayTrace_PixelCallback(void *refcon, A_long threadIndex, A_long i, A_long /*iterations*/)
{
    if (threadIndex < 0) return PF_Err_NONE;
    return Guarded([&] {
        return WorkAt<P, TracePixel<P>, true>(static_cast<const Record *>(refcon), threadIndex, i);
    });
}

template <class P>
PF_Err RayTrace_PixelDepthCallback(void *refcon, A_long threadIndex, A_long i,
                                   A_long /*iterations*/)
{
    if (threadIndex < 0) return PF_Err_NONE;
    return Guarded([&] {
        return WorkAt<P, TraceDepthPixel<P>, false>(static_cast<const Record *>(refcon), threadIndex, i);
    });
}

PF_Err AcquireSamplingSuite(Record &info)
{
    return Guarded([&info] {
        switch (info.pixelFormat) {
        case PF_PixelFormat_ARGB128:
            info.suites.SamplingFloatSuite1();
            break;
        case PF_PixelFormat_ARGB64:
            info.suites.Sampling16Suite1();
            break;
        default:
            info.suites.Sampling8Suite1();
            break;
        }
        return PF_Err_NONE;
    });
}

template PF_Err RayTrace_PixelCallback<PF_PixelFloat>(void *, A_long, A_long, A_long);
template PF_Err RayTrace_PixelCallback<PF_Pixel16>(void *, A_long, A_long, A_long);
template PF_Err RayTrace_PixelCallback<PF_Pixel>(void *, A_long, A_long, A_long);
template PF_Err RayTrace_PixelDepthCallback<PF_PixelFloat>(void *, A_long, A_long, A_long);
template PF_Err RayTrace_PixelDepthCallback<PF_Pixel16>(void *, A_long, A_long, A_long);
template PF_Err RayTrace_PixelDepthCallback<PF_Pixel>(void *, A_long, A_long, A_long);
