// Shading of one surface hit (see Shading.h). The file reads top-down:
// Ray_GetColor first, as the list of its steps, then each step in the order
// it is called, each followed by the helpers it calls. Small shared helpers
// and the forward declarations of the steps come first.
//
// Thread safety: as Shading.h states; every function here keeps its working
// values on the stack.

#include "tracer/Shading.h"

#include "imaging/AreaSample.h"
#include "imaging/DepthComposite.h"
#include "imaging/TextureSampling.h"
#include "tracer/ArctangentBounds.h"
#include "tracer/Intersection.h"
#include "tracer/PowerBounds.h"
#include "tracer/SurfacePoint.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

namespace {

using Record = RenderInfoTemplate<Hyperboloid>;

// Shortest light distance; keeps the falloff and the light direction finite
// at the light's own position.
constexpr double kMinLightDistance = 1e-15;

// Red, green and blue in lanes 1 to 3 of four, where a PF_PixelFloat keeps
// them (lane 0, alpha's, is carried along unused): each term of a light
// adds its three colours' products as one product of vectors. They are the
// same products, lane by lane and in the same order, so the same bits.
using ColourLanes = float __attribute__((vector_size(16)));
struct Rgb {
    ColourLanes v;
    Rgb(float r, float g, float b) : v{0.0f, r, g, b} {}
    explicit Rgb(ColourLanes lanes) : v(lanes) {}
    float r() const { return v[1]; }
    float g() const { return v[2]; }
    float b() const { return v[3]; }
};

inline ColourLanes LanesOf(const PF_PixelFloat &p)
{
    static_assert(sizeof(PF_PixelFloat) == sizeof(ColourLanes));
    ColourLanes lanes;
    std::memcpy(&lanes, &p, sizeof lanes);
    return lanes;
}
inline ColourLanes Splat(float x) { return ColourLanes{x, x, x, x}; }

// One colour channel of four hits of a run, and a per-hit choice (all bits
// set: yes), for the run's shading in lanes (ShadeRunAhead). Four: the width
// of the baseline build's vector registers, where each operation on them is
// one instruction (wider vectors are split, and their masks spilled).
constexpr int kQuad = 4;
using QuadLanes = float __attribute__((vector_size(4 * kQuad)));
using QuadMask = int __attribute__((vector_size(4 * kQuad)));
// a where m is set, else b, bit for bit.
inline QuadLanes Select(QuadMask m, QuadLanes a, QuadLanes b)
{
    return reinterpret_cast<QuadLanes>((reinterpret_cast<QuadMask>(a) & m) |
                                       (reinterpret_cast<QuadMask>(b) & ~m));
}
// All bits set in the lanes whose flag (LightLanes.h: 0 or 1) is 1. Narrowed
// to float first, which keeps 0 and 1 exactly: the comparison then gives the
// mask at the lanes' width.
inline QuadMask QuadFlags(const double *flags)
{
    using QuadDoubles = double __attribute__((vector_size(8 * kQuad)));
    QuadDoubles d;
    std::memcpy(&d, flags, sizeof d);
    return __builtin_convertvector(d, QuadLanes) != 0.0f;
}
// Four lanes of a run's values, from lane `first` on.
inline QuadLanes QuadOf(const float *values)
{
    QuadLanes q;
    std::memcpy(&q, values, sizeof q);
    return q;
}

// Where a camera ray meets the surface.
struct Hit {
    Vector4 P;   // the point, w = 1
    Vector3 pn;  // normalised point (x/a, y/b, z/c)
    Vector3 n;   // unit normal, into the bowls
    double u, v; // texture coordinates after opening (and, for the ramp, repetition)
};

// Where the reflection map is read and over how large a box, in map pixels.
struct MapLookup {
    double x, y;   // position
    double rx, ry; // radii
};

// ---- small helpers used by several steps -------------------------------------------

inline bool InUnitSquare(double u, double v) { return u >= 0.0 && u < 1.0 && v >= 0.0 && v < 1.0; }

// q clamped to [0, 1]; a quotient that is not a number counts as 0.
inline double Clamp01(double q)
{
    if (!(q > 0.0)) return 0.0;
    return q < 1.0 ? q : 1.0;
}

// Metal tints the highlights and reflections with the surface colour.
inline Rgb MetalTint(const PF_PixelFloat &base, float metal)
{
    return Rgb(LanesOf(base) * Splat(metal) + Splat(1.0f - metal));
}

// ---- the steps, in the order Ray_GetColor calls them --------------------------------

inline Hit PlaceHit(const Record &info, const Ray &ray, double t);
inline Hit LocateHit(const Record &info, const Ray &ray, double t, double &rawV);
bool CanSkipHitOutOfTextureReach(const Record &info, const RowReach &reach);
bool CanSkipLitHitOutOfReach(const Record &info, const Ray &ray, double t, const RowReach &reach,
                             const Hit &hit);

template <class P>
bool BaseColour(const Record &info, const Ray &ray, double t, double rawV, const RowReach &reach,
                const HitAhead *ahead, Hit &hit, PF_PixelFloat &base);
void AddNormal(const Record &info, Hit &hit);
template <class P>
bool TextureColour(const Record &info, const Ray &ray, double t, double rawV,
                   const RowReach &reach, const HitAhead *ahead, Hit &hit, PF_PixelFloat &base);
void MeasureFootprint(const Record &info, const Ray &ray, double t, const Hit &hit,
                      const HitAhead *ahead, double &rx, double &ry);
bool LookupAlwaysFetches(const Record &info, const RowReach &reach);
bool CanSkipFootprintBoundOutOfReach(const Record &info, const Ray &ray, double t,
                                     const RowReach &reach, const Hit &hit);
bool CanSkipLookupOutOfReach(const RowReach &reach, double ry);
void AddU(const Record &info, double rawV, Hit &hit);
bool RampColour(const Record &info, Hit &hit, PF_PixelFloat &base);

template <class P>
PF_PixelFloat Shade(const Record &info, const Ray &ray, const Hit &hit, const PF_PixelFloat &base,
                    const HitAhead *ahead);
Vector3 FacingViewer(const Vector3 &n, const Vector3 &d);
Rgb Emission(const Record &info, const PF_PixelFloat &base);
template <class P>
void AddLight(const Record &info, const vLight &light, const Hit &hit, const Vector3 &n,
              const Vector3 &d, const PF_PixelFloat &base, const Rgb &tint, Rgb &acc);
inline void AddLaneLight(const Record &info, const vLight &light, const LightLaneValues &lanes,
                         int j, int lane, const PF_PixelFloat &base, const Rgb &tint, Rgb &acc);
// GetLightPower (Shading.h)
double Falloff(const Record &info, double dist);
template <class P>
Rgb ShadowFactors(const Record &info, const vLight &light, const Hit &hit, const Vector3 &L);
// GetObstColor (Shading.h)
inline bool FartherCrossing(const Hyperboloid &shape, const Ray &ray, double &t);
double ObstructionBound(const Ray &ray, const vLight *light, double t);
template <class P> PF_PixelFloat ObstructionTexel(const Record &info, const Vector3 &X);
Vector4 PassedThrough(const Record &info, const PF_PixelFloat &texel);
void AddDiffuse(const vLight &light, float k, const PF_PixelFloat &base, const Rgb &shadow,
                Rgb &acc);
void AddSpecular(const vLight &light, float q, const Rgb &tint, const Rgb &shadow, Rgb &acc);

template <class P>
void AddReflection(const Record &info, const Hit &hit, const Vector3 &n, const Vector3 &d,
                   const Rgb &tint, const HitAhead *ahead, Rgb &acc);
template <class P> Rgb ReflectionOcclusion(const Record &info, const Hit &hit, const Vector3 &Rv);
template <class P>
Rgb OccludedReflection(const Record &info, const Hit &hit, const Vector3 &Rv, double t);
Rgb PassedThroughRgb(const Record &info, const PF_PixelFloat &texel);
Vector3 MapDirection(const Record &info, const Vector3 &Rv);
template <class P>
PF_PixelFloat ReflectionMapColour(const Record &info, const Vector3 &W, double ru, double rv);
template <class P>
PF_PixelFloat MapColourAt(const Record &info, const Vector3 &W, double ru, double rv, bool placed,
                          PF_Fixed column);
// One host sample of the map, placed (MapSampleAt) and then taken.
struct MapSample {
    PF_Fixed x, y;
    PF_SampPB pb;
};
MapSample MapSampleAt(const Record &info, const Vector3 &W, double ru, double rv, bool placed,
                      PF_Fixed column);
template <class P> PF_PixelFloat TakeMapSample(const Record &info, const MapSample &sample);
MapLookup MapPosition(const PF_LayerDef &map, const Vector3 &W, double &vr);
MapLookup MapLatitude(const PF_LayerDef &map, const Vector3 &W, double &vr);
void MapFootprintRadii(const Record &info, const Vector3 &d, const Vector3 &n, const Vector3 &W,
                       double &ru, double &rv);
void MapFootprint(const Record &info, double vr, double ru, double rv, MapLookup &lookup);
inline double FiniteOrZero(double r);
float ReflectionStrength(const Record &info, const Vector3 &d, const Vector3 &n);

void DrawPivot(const Record &info, double u, double v, PF_PixelFloat &out);

} // namespace

// The hit's place and row, its base colour (texture or ramp), the lighting
// on it, the depth composite and the pivot marker, in that order. One fast
// path ends a hit that no texture lookup can reach as transparent black, the
// colour the full path would give it. A hit worked out ahead (LookAhead)
// starts from there.
template <class P>
int Ray_GetColor(const Ray &ray, double t, const Record &info, PF_PixelFloat &out,
                 const HitAhead *ahead)
{
    if (ahead && ahead->t != t) ahead = nullptr; // another hit's
    const bool located = ahead && ahead->located();
    if (located && ahead->outOfReach()) {
        OutOfReachColour(info, t, out);
        return 0;
    }
    double rawV = 0.0;
    Hit hit = located ? PlaceHit(info, ray, t) : LocateHit(info, ray, t, rawV);
    if (located) {
        rawV = ahead->values->rawV[ahead->lane];
        hit.v = ahead->values->v[ahead->lane];
        hit.n = ahead->normal();
    }
    const RowReach reach =
        located ? ahead->reach() : RowReach(info, hit.pn, hit.v, &info.textureLayer);
    if (!located && CanSkipHitOutOfTextureReach(info, reach)) {
        OutOfReachColour(info, t, out);
        return 0;
    }
    PF_PixelFloat base{};
    const bool lit = BaseColour<P>(info, ray, t, rawV, reach, ahead, hit, base);
    out = lit ? Shade<P>(info, ray, hit, base, located ? ahead : nullptr) : base;
    depthComposite(info.depthComposite, t, out);
    if (info.showPivot) DrawPivot(info, hit.u, hit.v, out);
    return 0;
}

// Ray_GetColor's steps up to its fast paths: the hit's place and row, its
// normal where a lookup may reach it, and whether one does.
void LookAhead(const Ray &ray, double t, const Record &info, HitLaneValues &values, int lane)
{
    Hit hit = LocateHit(info, ray, t, values.rawV[lane]);
    values.px[lane] = hit.P.getX();
    values.py[lane] = hit.P.getY();
    values.pz[lane] = hit.P.getZ();
    values.v[lane] = hit.v;
    const RowReach reach(info, hit.pn, hit.v, &info.textureLayer);
    const RowReach::Parts parts = reach.parts();
    values.hasTexture = parts.hasTexture;
    values.repetition[lane] = parts.repetition;
    values.onRepetition[lane] = parts.onRepetition ? 1.0 : 0.0;
    values.nextExists[lane] = parts.nextExists ? 1.0 : 0.0;
    values.previousExists[lane] = parts.previousExists ? 1.0 : 0.0;
    values.rowsToNext[lane] = parts.rowsToNext;
    values.rowsPastPrevious[lane] = parts.rowsPastPrevious;
    bool outOfReach = CanSkipHitOutOfTextureReach(info, reach);
    if (!outOfReach) {
        AddNormal(info, hit);
        values.nx[lane] = hit.n.getX();
        values.ny[lane] = hit.n.getY();
        values.nz[lane] = hit.n.getZ();
        outOfReach = CanSkipLitHitOutOfReach(info, ray, t, reach, hit);
    }
    values.outOfReach[lane] = outOfReach ? 1.0 : 0.0;
    double lo = 0.0, hi = 0.0;
    const bool bounded = AngleBoundsAt(info, hit.P.getXYZ(), lo, hi);
    values.angleLo[lane] = bounded ? lo : 0.0;
    values.angleHi[lane] = bounded ? hi : 0.0;
    values.angleBounded[lane] = bounded ? 1.0 : 0.0;
    const AnglePlacement placement =
        bounded ? PlaceAngleBounds(info, lo, hi, values.rawV[lane], hit.pn.getZ(), parts.repetition)
                : AnglePlacement{};
    values.placed[lane] = placement.placed ? 1.0 : 0.0;
    values.column[lane] = placement.column;
    values.unLo[lane] = placement.unLo;
    values.unHi[lane] = placement.unHi;
}

namespace {

// ---- hit location --------------------------------------------------------------------

// Where the ray meets the surface, in object space and normalised. This and
// LocateHit are inlined: every hit takes them, and the depth-of-field
// frame's depth pass two of them per pixel.
[[gnu::always_inline]] inline Hit PlaceHit(const Record &info, const Ray &ray, double t)
{
    Hit hit;
    hit.P = ray.pointAt(t);
    hit.pn = NormalisedPoint(info.shape, hit.P.getXYZ());
    hit.u = 0.0;
    hit.v = 0.0;
    return hit;
}

// PlaceHit and v there (opened); the v before opening goes to `rawV`. The
// normal and u follow in BaseColour.
[[gnu::always_inline]] inline Hit LocateHit(const Record &info, const Ray &ray, double t, double &rawV)
{
    const Hyperboloid &shape = info.shape;
    Hit hit = PlaceHit(info, ray, t);
    const Vector3 p = hit.P.getXYZ();
    rawV = shape.getVFromCoordinate(info, p);
    hit.v = shape.openedV(info, rawV);
    return hit;
}

// Fast path, skipping the whole hit (normal, u, footprint, lookup, lights):
// most of the surface may lie beyond the texture's repetitions, where not
// even the largest footprint reaches a row. The lookup there is transparent
// black whatever the footprint and u, and a transparent hit is not lit, so
// the result is exact. Not taken with "Show Pivot", which is drawn by u; the
// ramp shown without a texture is decided by u as well.
bool CanSkipHitOutOfTextureReach(const Record &info, const RowReach &reach)
{
    return !info.showPivot && IsLayerChosen(info.textureLayer) &&
           !reach.reaches(kSampleRadiusCap);
}

// The second fast path, on a textured hit whose normal is known: a cheap
// bound of its footprint reaches no repetition (see TextureColour).
bool CanSkipLitHitOutOfReach(const Record &info, const Ray &ray, double t, const RowReach &reach,
                             const Hit &hit)
{
    return IsLayerChosen(info.textureLayer) && !LookupAlwaysFetches(info, reach) &&
           CanSkipFootprintBoundOutOfReach(info, ray, t, reach, hit);
}

// ---- base colour ---------------------------------------------------------------------

// The surface colour before lighting, with the hit completed (normal, unless
// worked out ahead, and u, where u matters). False when the hit is
// transparent and is not lit.
template <class P>
bool BaseColour(const Record &info, const Ray &ray, double t, double rawV, const RowReach &reach,
                const HitAhead *ahead, Hit &hit, PF_PixelFloat &base)
{
    if (!(ahead && ahead->located())) AddNormal(info, hit);
    if (IsLayerChosen(info.textureLayer))
        return TextureColour<P>(info, ray, t, rawV, reach, ahead, hit, base);
    AddU(info, rawV, hit);
    return RampColour(info, hit, base);
}

void AddNormal(const Record &info, Hit &hit) { hit.n = SurfaceNormal(info.shape, hit.P.getXYZ()); }

// The texture's colour at a hit whose normal is known, filtered over the
// ray's footprint; u is added to the hit on the way. False when the hit is
// transparent and is not lit. Two fast paths end a hit whose footprint
// reaches no repetition as transparent black before its u and lookup: first
// on a cheap bound of the footprint (already tried on a hit worked out
// ahead), then on the footprint itself.
template <class P>
bool TextureColour(const Record &info, const Ray &ray, double t, double rawV,
                   const RowReach &reach, const HitAhead *ahead, Hit &hit, PF_PixelFloat &base)
{
    if (ahead && ahead->texels) { // looked up ahead (TexelAhead): the same steps
        hit.u = ahead->u[ahead->lane];
        base = ahead->texels[ahead->lane];
        return base.alpha > 0.0f;
    }
    const bool fetches = LookupAlwaysFetches(info, reach);
    if (!(ahead && ahead->located()) && !fetches &&
        CanSkipFootprintBoundOutOfReach(info, ray, t, reach, hit)) {
        base = PF_PixelFloat{};
        return false;
    }
    double rx = 0.0, ry = 0.0;
    MeasureFootprint(info, ray, t, hit, ahead, rx, ry);
    if (!fetches && CanSkipLookupOutOfReach(reach, ry)) {
        base = PF_PixelFloat{};
        return false;
    }
    if (ahead && ahead->u) hit.u = ahead->u[ahead->lane];
    else AddU(info, rawV, hit);
    info.noteSamplingErr(
        TopologycalSampling<P>(info, reach, hit.pn, hit.u, hit.v, rx, ry, &info.textureLayer, base));
    return base.alpha > 0.0f;
}

// The hit's footprint: the one measured ahead for it (the same radii:
// FootprintLanes.h), otherwise measured here.
void MeasureFootprint(const Record &info, const Ray &ray, double t, const Hit &hit,
                      const HitAhead *ahead, double &rx, double &ry)
{
    if (ahead && ahead->radii) {
        rx = ahead->radii->rx[ahead->lane];
        ry = ahead->radii->ry[ahead->lane];
        return;
    }
    getSampRadius(info, ray, t, hit.pn, hit.n, rx, ry);
}

// Whether the lookup must run whatever the footprint: on a repetition every
// lookup fetches something, whatever its radius, and with "Show Pivot" u is
// needed anyway. The two fast paths below are then not tried.
bool LookupAlwaysFetches(const Record &info, const RowReach &reach)
{
    return info.showPivot || reach.reachesAtAnyRadius();
}

// Fast path, skipping the footprint, u and the lookup: a bound of the
// footprint's v radius, far cheaper than the footprint, that reaches no
// repetition. The footprint is never larger than its bound and a smaller
// radius reaches no farther, so the lookup would be transparent black: exact.
bool CanSkipFootprintBoundOutOfReach(const Record &info, const Ray &ray, double t,
                                     const RowReach &reach, const Hit &hit)
{
    return !reach.reaches(sampRadiusYBound(info, t, hit.pn, ray.direction, hit.n));
}

// Fast path, skipping u (an arctangent) and the lookup: a footprint that
// reaches no repetition fetches nothing, so the lookup would be transparent
// black whatever u is: exact.
bool CanSkipLookupOutOfReach(const RowReach &reach, double ry) { return !reach.reaches(ry); }

// u, the costly part of a hit (an arctangent): left for last.
void AddU(const Record &info, double rawV, Hit &hit) { hit.u = HitU(info, hit.P.getXYZ(), rawV); }

// The u/v test ramp shown without a texture layer. It appears only on
// repetitions that exist, exactly where a texture would: a sheet that "Render
// Side2" turns off stays transparent, its base copy included.
bool RampColour(const Record &info, Hit &hit, PF_PixelFloat &base)
{
    const auto &extension = info.extension;
    const int copy = extension.modifyUVByExtendedCylinder(hit.pn, info, hit.u, hit.v);
    if (!extension.isTextureInExtension(copy, hit.pn) || !InUnitSquare(hit.u, hit.v)) {
        base = PF_PixelFloat{0.0f, 0.0f, 0.0f, 0.0f};
        return false;
    }
    base = PF_PixelFloat{1.0f, static_cast<float>(hit.u), static_cast<float>(hit.v), 0.0f};
    return true;
}

// ---- lighting --------------------------------------------------------------------------

// Emission, lights and reflection on the base colour; alpha stays the base's.
// The lights worked out ahead for the hit (`ahead`, when it was located
// ahead) add their terms from there, those whose shadow needs a texel
// excepted.
template <class P>
PF_PixelFloat Shade(const Record &info, const Ray &ray, const Hit &hit, const PF_PixelFloat &base,
                    const HitAhead *ahead)
{
    const Vector3 &d = ray.direction;
    // The normal facing the viewer, which the lights worked out ahead do not
    // need: turned only for the first light or reflection that does.
    Vector3 n;
    bool turned = false;
    const auto facing = [&]() -> const Vector3 & {
        if (!turned) n = FacingViewer(hit.n, d);
        turned = true;
        return n;
    };
    Rgb acc = Emission(info, base);
    const bool reflects = HasReflectionMap(info);
    if (!info.lights.empty() || reflects) {
        // The same for every light and the reflection: worked out once per hit.
        const Rgb tint = MetalTint(base, info.metal);
        const LightLaneValues *lanes = ahead ? ahead->lights : nullptr;
        const int inLanes = lanes ? lanes->lights : 0;
        for (int i = 0; i < static_cast<int>(info.lights.size()); ++i) {
            const vLight *light = info.lights[static_cast<std::size_t>(i)];
            if (!light) continue;
            if (i < inLanes && lanes->alone[i][ahead->lane] == 0.0)
                AddLaneLight(info, *light, *lanes, i, ahead->lane, base, tint, acc);
            else
                AddLight<P>(info, *light, hit, facing(), d, base, tint, acc);
        }
        if (reflects) AddReflection<P>(info, hit, facing(), d, tint, ahead, acc);
    }
    return PF_PixelFloat{base.alpha, acc.r(), acc.g(), acc.b()};
}

// The normal n turned toward the viewer looking along d.
Vector3 FacingViewer(const Vector3 &n, const Vector3 &d)
{
    return Vectormath::Aos::dot(n, d) > 0.0f ? -n : n;
}

Rgb Emission(const Record &info, const PF_PixelFloat &base)
{
    return Rgb(LanesOf(base) * Splat(info.emit));
}

// Adds one light's diffuse (or ambient) and specular terms to acc. n faces
// the viewer, d is the camera ray's direction, tint the metal's (MetalTint).
template <class P>
void AddLight(const Record &info, const vLight &light, const Hit &hit, const Vector3 &n,
              const Vector3 &d, const PF_PixelFloat &base, const Rgb &tint, Rgb &acc)
{
    // Ambient light has full power (as GetLightPower says) and falls straight
    // onto the visible face; a light of unknown type keeps the null direction.
    const bool ambient = light.type == kAmbientLight;
    double power = 1.0;
    Vector3 L(0.0f, 0.0f, 0.0f);
    if (ambient)
        L = -n;
    else
        GetLightPower(info, &light, hit.P, power, L);

    const double E0 = power * light.intensity;
    float lambda = Vectormath::Aos::dot(L, n);
    const float facing = lambda; // before the transmission below, for the highlight
    const Rgb shadow = ShadowFactors<P>(info, light, hit, L);

    // Light from behind the visible face shines through it, scaled by the
    // transmission; with none it adds nothing.
    if (lambda > 0.0f) lambda = -info.lightTransmission * lambda;
    const float E = static_cast<float>(E0 * -lambda);

    if (lambda < 0.0f)
        AddDiffuse(light, (ambient ? info.ambient : info.diffuse) * E, base, shadow, acc);

    if (ambient) return; // ambient light has no highlight
    const Vector3 reflected = L - n * (2.0f * facing);
    const float toward = Vectormath::Aos::dot(reflected, d);
    if (toward < 0.0f) {
        const double highlight =
            std::pow(static_cast<double>(-toward), static_cast<double>(info.shininess));
        AddSpecular(light, static_cast<float>((E * info.specular) * highlight), tint, shadow, acc);
    }
}

// AddLight's terms from light j's lane `lane` (LightLanes.h): the same
// factors, added in the same order. Inline: a few loads and products, called
// for every light of every lit hit.
[[gnu::always_inline]] inline void AddLaneLight(const Record &info, const vLight &light, const LightLaneValues &lanes, int j,
                  int lane, const PF_PixelFloat &base, const Rgb &tint, Rgb &acc)
{
    const float s = lanes.shadow[j][lane];
    const Rgb shadow(Splat(s));
    if (lanes.diffuseOn[j][lane] != 0.0) AddDiffuse(light, lanes.diffuseK[j][lane], base, shadow, acc);
    if (lanes.specularOn[j][lane] == 0.0) return;
    if (lanes.highlightSettled[j][lane] != 0.0) { // the power's bounds settled it
        AddSpecular(light, lanes.highlight[j][lane], tint, shadow, acc);
        return;
    }
    const double highlight = std::pow(lanes.toward[j][lane], static_cast<double>(info.shininess));
    const float E = lanes.E[j][lane];
    AddSpecular(light, static_cast<float>((E * info.specular) * highlight), tint, shadow, acc);
}

} // namespace

bool CastsSelfShadow(const Record &info, const vLight &light)
{
    return info.selfShadow && light.type != kAmbientLight && light.castsShadows;
}

bool HasReflectionMap(const Record &info)
{
    return IsLayerChosen(info.reflectionLayer) && info.reflectionIntensity > 0.0f;
}

double HitU(const Record &info, const Vector3 &p, double rawV)
{
    return info.shape.openedU(info, info.shape.getUFromCoordinate(p), rawV);
}

namespace {

// ShadeRunAhead's colour terms of lanes first to first + 3 where `keep` is
// set: red, green and blue in acc[1] to acc[3].
void ShadeQuad(const Record &info, const PF_PixelFloat *texels, const LightLaneValues *lights,
               int first, QuadMask keep, QuadLanes (&acc)[4])
{
    const int count = static_cast<int>(info.lights.size());
    const PF_PixelFloat *p = texels + first;
    const QuadLanes base[4] = {{},
                               {p[0].red, p[1].red, p[2].red, p[3].red},
                               {p[0].green, p[1].green, p[2].green, p[3].green},
                               {p[0].blue, p[1].blue, p[2].blue, p[3].blue}};
    QuadLanes tint[4];
    // Emission (Emission), and the metal's tint (MetalTint) for the highlights.
    const float metal = info.metal, plain = 1.0f - info.metal;
    for (int c = 1; c < 4; ++c) {
        acc[c] = base[c] * info.emit;
        tint[c] = base[c] * metal + plain;
    }
    // Each light's terms (AddLaneLight): diffuse, then the highlight, each
    // added where it applies.
    const double shininess = info.shininess;
    for (int j = 0; j < count; ++j) {
        const ColourLanes colour = LanesOf(info.lights[static_cast<std::size_t>(j)]->color);
        const QuadLanes shadow = QuadOf(lights->shadow[j] + first);
        const QuadLanes diffuse = QuadOf(lights->diffuseK[j] + first);
        const QuadMask diffuseOn = QuadFlags(lights->diffuseOn[j] + first);
        const QuadMask specularOn = keep & QuadFlags(lights->specularOn[j] + first);
        // The highlight factors the light lanes settled; libm's pow, one
        // lane at a time, for the others.
        QuadLanes q = {};
        for (int k = 0; k < kQuad; ++k)
            if (specularOn[k])
                q[k] = lights->highlightSettled[j][first + k] != 0.0
                           ? lights->highlight[j][first + k]
                           : static_cast<float>((lights->E[j][first + k] * info.specular) *
                                                std::pow(lights->toward[j][first + k], shininess));
        for (int c = 1; c < 4; ++c) {
            const QuadLanes lit = acc[c] + colour[c] * base[c] * shadow * diffuse;
            acc[c] = Select(diffuseOn, lit, acc[c]);
            const QuadLanes highlight = acc[c] + tint[c] * colour[c] * shadow * q;
            acc[c] = Select(specularOn, highlight, acc[c]);
        }
    }
}

// AddReflection on a quad's lanes, after its lights: lanes that are not lit
// (or not kept) take values they drop. Out of line, like the test below: a
// record without a reflection map keeps its registers for the lights.
[[gnu::noinline]] void AddQuadReflection(const Record &info,
                                         const PF_PixelFloat (&texels)[kHitLanes],
                                         const LightLaneValues &lights,
                                         const RunReflections &reflections, int first,
                                         QuadLanes (&acc)[4])
{
    const float metal = info.metal, plain = 1.0f - info.metal;
    float occlusion[3][kQuad], map[3][kQuad], base[3][kQuad], strength[kQuad];
    for (int k = 0; k < kQuad; ++k) {
        const int lane = first + k;
        const bool ready = reflections.mapped[lane];
        const Rgb through = lights.occluded[lane] != 0.0 && reflections.obstructed[lane]
                                ? PassedThroughRgb(info, reflections.obstruction[lane])
                                : Rgb(1.0f, 1.0f, 1.0f);
        const PF_PixelFloat m = ready ? reflections.map[lane] : PF_PixelFloat{};
        const PF_PixelFloat &b = texels[lane];
        const float channels[3][3] = {{through.r(), m.red, b.red},
                                      {through.g(), m.green, b.green},
                                      {through.b(), m.blue, b.blue}};
        for (int c = 0; c < 3; ++c) {
            occlusion[c][k] = channels[c][0];
            map[c][k] = channels[c][1];
            base[c][k] = channels[c][2];
        }
        strength[k] = ready ? reflections.strength[lane] : 0.0f;
    }
    const QuadLanes rho = QuadOf(strength);
    for (int c = 0; c < 3; ++c) {
        const QuadLanes tint = QuadOf(base[c]) * metal + plain; // MetalTint
        acc[c + 1] += QuadOf(occlusion[c]) * (tint * QuadOf(map[c])) * rho;
    }
}

// The lanes of a quad whose reflection was worked out ahead: all but a lit
// hit whose map colour was not, or whose hidden reflection's texel was not
// looked up.
[[gnu::noinline]] QuadMask ReflectedAhead(const PF_PixelFloat (&texels)[kHitLanes],
                                          const LightLaneValues &lights,
                                          const RunReflections &reflections, int first)
{
    QuadMask ahead;
    for (int k = 0; k < kQuad; ++k) {
        const int lane = first + k;
        const bool lit = texels[lane].alpha > 0.0f;
        const bool hidden = lights.occluded[lane] != 0.0;
        ahead[k] = lit && (!reflections.mapped[lane] || (hidden && !reflections.obstructed[lane])) ? 0 : -1;
    }
    return ahead;
}

} // namespace

bool ShadesRunsAhead(const Record &info)
{
    return !info.showPivot && info.lights.size() <= static_cast<std::size_t>(kLaneLights);
}

template <class P>
void ReflectRunAhead(const Record &info, const FootprintLaneHits &rays, const HitLaneValues &values,
                     const LightLaneValues &lights, const bool (&lit)[kHitLanes], RunReflections &out)
{
    // The lanes' map lookups are placed first, then sampled one after
    // another in lane order (the same samples in the same order as one lane
    // at a time), so that the placements' long chains of arithmetic overlap
    // rather than each waiting on the sample before it.
    MapSample samples[kHitLanes];
    for (int k = 0; k < kHitLanes; ++k) {
        out.mapped[k] = lit[k];
        if (!lit[k]) continue;
        // AddReflection's steps from the lanes, with Shade's normal facing
        // the viewer.
        const Vector3 d(rays.dx[k], rays.dy[k], rays.dz[k]);
        const Vector3 n = FacingViewer(Vector3(values.nx[k], values.ny[k], values.nz[k]), d);
        const Vector3 W(lights.wx[k], lights.wy[k], lights.wz[k]);
        samples[k] = MapSampleAt(info, W, lights.ru[k], lights.rv[k], lights.mapPlaced[k] != 0.0,
                                 lights.mapColumn[k]);
        out.strength[k] = lights.strengthSettled[k] != 0.0 ? lights.strength[k]
                                                         : ReflectionStrength(info, d, n);
    }
    for (int k = 0; k < kHitLanes; ++k)
        if (lit[k]) out.map[k] = TakeMapSample<P>(info, samples[k]);
}

bool ShadeRunAhead(const Record &info, const double (&t)[kHitLanes],
                   const PF_PixelFloat (&texels)[kHitLanes], const LightLaneValues *lights,
                   const RunReflections *reflections, bool (&want)[kHitLanes],
                   PF_PixelFloat (&out)[kHitLanes])
{
    const int count = static_cast<int>(info.lights.size());
    const bool reflects = HasReflectionMap(info);
    if (!ShadesRunsAhead(info) || (count > 0 && !(lights && lights->lights == count)) ||
        (reflects && !(lights && reflections)))
        return false;
    static_assert(kHitLanes % kQuad == 0);
    for (int first = 0; first < kHitLanes; first += kQuad) {
        // A hit whose shadow from any light needs its texel is shaded on its
        // own: taken out before any light, so that no lane works out terms
        // it drops, and the quad is skipped where that leaves none (a whole
        // stretch of a self-shadowed surface).
        QuadMask keep;
        for (int k = 0; k < kQuad; ++k) keep[k] = want[first + k] ? -1 : 0;
        for (int j = 0; j < count; ++j) keep &= ~QuadFlags(lights->alone[j] + first);
        if (reflects) keep &= ReflectedAhead(texels, *lights, *reflections, first);
        bool any = false;
        for (int k = 0; k < kQuad; ++k) any |= want[first + k] = keep[k] != 0;
        if (!any) continue;
        QuadLanes acc[4];
        ShadeQuad(info, texels, lights, first, keep, acc);
        if (reflects) AddQuadReflection(info, texels, *lights, *reflections, first, acc);
        // A transparent texel is not lit; then the depth composite.
        for (int k = 0; k < kQuad; ++k) {
            const int lane = first + k;
            if (!want[lane]) continue;
            out[lane] = texels[lane].alpha > 0.0f
                            ? PF_PixelFloat{texels[lane].alpha, acc[1][k], acc[2][k], acc[3][k]}
                            : texels[lane];
            depthComposite(info.depthComposite, t[lane], out[lane]);
        }
    }
    return true;
}

// TextureColour's steps for a hit located ahead with its footprint and u. The
// hit's point is the lanes' (Ray::pointAt's bits, as LookAhead gives them).
template <class P>
PF_PixelFloat TexelAhead(const Record &info, const HitAhead &ahead, TexelLookups<P> &lookups)
{
    const HitLaneValues &h = *ahead.values;
    const int k = ahead.lane;
    const Vector3 pn = NormalisedPoint(info.shape, Vector3(h.px[k], h.py[k], h.pz[k]));
    const RowReach reach = ahead.reach();
    const double ry = ahead.radii->ry[k];
    PF_PixelFloat base{};
    if (!LookupAlwaysFetches(info, reach) && CanSkipLookupOutOfReach(reach, ry)) return base;
    info.noteSamplingErr(lookups(reach, pn, ahead.u[k], h.v[k], ahead.radii->rx[k], ry, base));
    return base;
}

template <class P>
bool TexelAheadFromAngle(const Record &info, const HitAhead &ahead, TexelLookups<P> &lookups,
                         PF_PixelFloat &texel)
{
    const HitLaneValues &h = *ahead.values;
    const int k = ahead.lane;
    const Vector3 pn = NormalisedPoint(info.shape, Vector3(h.px[k], h.py[k], h.pz[k]));
    const RowReach reach = ahead.reach();
    const double ry = ahead.radii->ry[k];
    texel = PF_PixelFloat{};
    if (!LookupAlwaysFetches(info, reach) && CanSkipLookupOutOfReach(reach, ry)) return true;
    AnglePlacement placement;
    placement.placed = h.placed[k] != 0.0;
    placement.column = h.column[k];
    placement.unLo = h.unLo[k];
    placement.unHi = h.unHi[k];
    int err = 0;
    if (!lookups.fromPlacement(reach, pn, placement, h.v[k], ahead.radii->rx[k], ry, texel, err))
        return false;
    info.noteSamplingErr(err);
    return true;
}

bool AngleBoundsAt(const Record &info, const Vector3 &p, double &lo, double &hi)
{
    float X = 0.0f, Y = 0.0f;
    info.shape.angleArguments(p, X, Y);
    return ArctangentBounds(static_cast<double>(Y), static_cast<double>(X), lo, hi);
}

void GetLightPower(const Record &info, const vLight *light, const Vector4 &X, double &power,
                   Vector3 &L)
{
    power = 1.0;
    if (!light) return;
    // Ambient light comes from no place: full power, no direction, and its
    // distance is not worth measuring.
    if (light->type == kAmbientLight) {
        L = Vector3(0.0f, 0.0f, 0.0f);
        return;
    }
    const Matrix4 &M = light->lightToObject;
    const Vector3 D = X.getXYZ() - M.getTranslation();
    const double dist =
        std::max(static_cast<double>(Vectormath::Aos::length(D)), kMinLightDistance);
    const Vector3 axis = M.getCol2().getXYZ();

    switch (light->type) {
    case kParallelLight:
        L = Vectormath::Aos::normalize(axis);
        power = Falloff(info, dist);
        break;
    case kSpotLight: {
        L = D / static_cast<float>(dist);
        const double cone = (Vectormath::Aos::dot(L, axis) - light->coneCos) /
                            ((1.0 - light->coneCos) * light->coneFeather);
        power = Falloff(info, dist) * Clamp01(cone);
        break;
    }
    case kPointLight:
        L = D / static_cast<float>(dist);
        power = Falloff(info, dist);
        break;
    default:
        break; // unknown type: full power, direction left as it was
    }
}

namespace {

// Light falloff with the distance from the light, by the record's "Falloff".
double Falloff(const Record &info, double dist)
{
    const double Rf = info.falloffRadius;
    if (info.falloffMode == kFalloffSmooth) {
        const double Df = info.falloffDistance;
        const double h = Clamp01((dist - Rf) / ((Df + Rf) - Rf));
        return 1.0 - (3.0 - 2.0 * h) * h * h;
    }
    if (info.falloffMode == kFalloffInverseSquareClamped) {
        const double q = std::min(1.0, Rf / dist);
        return q * q;
    }
    return 1.0;
}

// How much of the light reaches the hit through the surface itself, per
// colour channel: 1 unless self shadowing is on and the light casts shadows.
template <class P>
Rgb ShadowFactors(const Record &info, const vLight &light, const Hit &hit, const Vector3 &L)
{
    if (!CastsSelfShadow(info, light)) return Rgb(1.0f, 1.0f, 1.0f);
    const Ray towardLight{-L, hit.P};
    const Vector4 f = GetObstColor<P>(info, towardLight, &light);
    const float dark = light.shadowDarkness;
    const float plain = 1.0f - dark;
    return Rgb(f.getY() * dark + plain, f.getZ() * dark + plain, f.getW() * dark + plain);
}

} // namespace

template <class P> Vector4 GetObstColor(const Record &info, const Ray &ray, const vLight *light)
{
    const Vector4 clear(1.0f, 1.0f, 1.0f, 1.0f);
    // The ramp shown without a texture is a test image and casts no shadow.
    if (!IsLayerChosen(info.textureLayer)) return clear;
    double t = 0.0;
    if (!FartherCrossing(info.shape, ray, t)) return clear;
    // Behind the start, beyond the light, or no crossing at all.
    if (!(t > 0.0 && t < ObstructionBound(ray, light, t))) return clear;
    return PassedThrough(info, ObstructionTexel<P>(info, ray.pointAt(t).getXYZ()));
}

namespace {

// The ray starts on the surface, so one crossing is (nearly) its start; the
// other one, the farther from the start, is the obstruction: its ray
// parameter goes to t. False when the ray crosses the surface nowhere.
// Inline: it is most of the work of every shadow and reflection ray.
inline bool FartherCrossing(const Hyperboloid &shape, const Ray &ray, double &t)
{
    double A = 0.0, B = 0.0, C = 0.0;
    RayQuadric(shape, ray, A, B, C);
    const double disc = B * B - A * C;
    if (!(disc > 0.0)) return false;
    const double root = std::sqrt(disc);
    const double t1 = (-B - root) / A;
    const double t2 = (root - B) / A;
    t = std::fabs(t2) > std::fabs(t1) ? t2 : t1;
    return true;
}

// How far along a secondary ray an obstruction at t counts: up to a light
// with a position; anywhere ahead for a parallel light or none.
double ObstructionBound(const Ray &ray, const vLight *light, double t)
{
    if (!light || light->type == kParallelLight) return t + 1.0;
    const Vector3 toLight = light->lightToObject.getTranslation() - ray.origin.getXYZ();
    return Vectormath::Aos::dot(toLight, ray.direction);
}

// The texel at the surface point X, with no footprint; transparent where
// the texture cannot reach.
template <class P> PF_PixelFloat ObstructionTexel(const Record &info, const Vector3 &X)
{
    const Hyperboloid &shape = info.shape;
    const Vector3 pn = NormalisedPoint(shape, X);
    const double rawV = shape.getVFromCoordinate(info, X);
    const double v = shape.openedV(info, rawV);
    PF_PixelFloat texel{};
    const RowReach reach(info, pn, v, &info.textureLayer);
    if (reach.reaches(0.0)) {
        // From bounds of the angle of u where they place the lookup.
        double lo = 0.0, hi = 0.0;
        int err = 0;
        if (AngleBoundsAt(info, X, lo, hi) &&
            TopologycalSamplingFromPlacement<P>(
                info, reach, pn, PlaceAngleBounds(info, lo, hi, rawV, pn.getZ(), reach.repetition()),
                v, 0.0, 0.0, &info.textureLayer, texel, err)) {
            info.noteSamplingErr(err);
            return texel;
        }
        const double u = shape.openedU(info, shape.getUFromCoordinate(X), rawV);
        info.noteSamplingErr(
            TopologycalSampling<P>(info, reach, pn, u, v, 0.0, 0.0, &info.textureLayer, texel));
    }
    return texel;
}

// What an obstruction of colour `texel` lets through: an opaque texel passes
// "Light Transmission" times its colour, a transparent one everything.
Vector4 PassedThrough(const Record &info, const PF_PixelFloat &texel)
{
    const float tau = info.lightTransmission;
    const float a = texel.alpha;
    const float open = 1.0f - a;
    return Vector4(open + tau * a * a, open + tau * a * texel.red, open + tau * a * texel.green,
                   open + tau * a * texel.blue);
}

void AddDiffuse(const vLight &light, float k, const PF_PixelFloat &base, const Rgb &shadow,
                Rgb &acc)
{
    acc.v += LanesOf(light.color) * LanesOf(base) * shadow.v * Splat(k);
}

void AddSpecular(const vLight &light, float q, const Rgb &tint, const Rgb &shadow, Rgb &acc)
{
    acc.v += tint.v * LanesOf(light.color) * shadow.v * Splat(q);
}

// ---- reflection map ------------------------------------------------------------------

// Adds the reflection map's colour along the mirrored view direction, tinted
// by the metal (MetalTint). The direction, its footprint and whether the
// surface hides it come from the hit's light lanes where it has them
// (LightLanes.h); the map's angles and samples are taken here.
template <class P>
void AddReflection(const Record &info, const Hit &hit, const Vector3 &n, const Vector3 &d,
                   const Rgb &tint, const HitAhead *ahead, Rgb &acc)
{
    Rgb occlusion(1.0f, 1.0f, 1.0f);
    PF_PixelFloat mapColour;
    const float *strength = nullptr; // worked out ahead, or null
    if (const LightLaneValues *lanes = ahead ? ahead->lights : nullptr) {
        const int k = ahead->lane;
        const RunReflections *r = ahead->reflections;
        const Vector3 Rv(lanes->rx[k], lanes->ry[k], lanes->rz[k]);
        if (lanes->occluded[k] != 0.0)
            occlusion = r && r->obstructed[k] ? PassedThroughRgb(info, r->obstruction[k])
                                              : OccludedReflection<P>(info, hit, Rv, lanes->occlusionT[k]);
        if (r && r->mapped[k]) {
            mapColour = r->map[k];
            strength = &r->strength[k];
        } else {
            const Vector3 W(lanes->wx[k], lanes->wy[k], lanes->wz[k]);
            mapColour = ReflectionMapColour<P>(info, W, lanes->ru[k], lanes->rv[k]);
        }
    } else {
        const Vector3 Rv = d - n * (2.0f * Vectormath::Aos::dot(d, n));
        occlusion = ReflectionOcclusion<P>(info, hit, Rv);
        const Vector3 W = MapDirection(info, Rv);
        double ru = 0.0, rv = 0.0;
        MapFootprintRadii(info, d, n, W, ru, rv);
        mapColour = ReflectionMapColour<P>(info, W, ru, rv);
    }
    const float rho = strength ? *strength : ReflectionStrength(info, d, n);
    acc.v += occlusion.v * (tint.v * LanesOf(mapColour)) * Splat(rho);
}

// What the surface lets through along the reflected ray Rv: everything
// unless self shadowing is on.
template <class P> Rgb ReflectionOcclusion(const Record &info, const Hit &hit, const Vector3 &Rv)
{
    if (!info.selfShadow) return Rgb(1.0f, 1.0f, 1.0f);
    const Vector4 f = GetObstColor<P>(info, Ray{Rv, hit.P}, nullptr);
    return Rgb(f.getY(), f.getZ(), f.getW());
}

// ReflectionOcclusion where the reflected ray's farther crossing, at ray
// parameter t, is known to hide the map: what the texel there lets through.
template <class P>
Rgb OccludedReflection(const Record &info, const Hit &hit, const Vector3 &Rv, double t)
{
    const Ray ray{Rv, hit.P};
    return PassedThroughRgb(info, ObstructionTexel<P>(info, ray.pointAt(t).getXYZ()));
}

Rgb PassedThroughRgb(const Record &info, const PF_PixelFloat &texel)
{
    const Vector4 f = PassedThrough(info, texel);
    return Rgb(f.getY(), f.getZ(), f.getW());
}

// The world-space direction of the reflected ray Rv, unit length.
Vector3 MapDirection(const Record &info, const Vector3 &Rv)
{
    return Vectormath::Aos::normalize(
        Vectormath::Aos::transformDirection(info.shape.objectToWorld, Rv));
}

// The map's colour in the world-space direction W, area-sampled over the
// reflected ray's footprint (radii ru and rv before the latitude and "Texture
// Blur" scale them: MapFootprintRadii).
template <class P>
PF_PixelFloat ReflectionMapColour(const Record &info, const Vector3 &W, double ru, double rv)
{
    PF_Fixed column = 0;
    const bool placed = MapColumnFromBounds(info.reflectionLayer, W, column);
    return MapColourAt<P>(info, W, ru, rv, placed, column);
}

// ReflectionMapColour with MapColumnFromBounds's answer given.
template <class P>
PF_PixelFloat MapColourAt(const Record &info, const Vector3 &W, double ru, double rv, bool placed,
                          PF_Fixed column)
{
    return TakeMapSample<P>(info, MapSampleAt(info, W, ru, rv, placed, column));
}

// MapColourAt's lookup: where the map is sampled and over which radii.
MapSample MapSampleAt(const Record &info, const Vector3 &W, double ru, double rv, bool placed,
                      PF_Fixed column)
{
    const PF_LayerDef &map = info.reflectionLayer;
    double vr = 0.0;
    MapLookup lookup = placed ? MapLatitude(map, W, vr) : MapPosition(map, W, vr);
    MapFootprint(info, vr, ru, rv, lookup);
    return {placed ? column : FixedFromDouble(lookup.x), FixedFromDouble(lookup.y),
            MakeSampPB(FiniteOrZero(lookup.rx), FiniteOrZero(lookup.ry), &map)};
}

// The host's sample of the map there, its error noted.
template <class P> PF_PixelFloat TakeMapSample(const Record &info, const MapSample &sample)
{
    PF_PixelFloat mapColour{};
    info.noteSamplingErr(HostAreaSample<P>(info.inData, SamplingSuites(info), sample.x, sample.y,
                                           sample.pb, mapColour));
    return mapColour;
}

// MapPosition without the longitude: its y (and vr), x left 0.
MapLookup MapLatitude(const PF_LayerDef &map, const Vector3 &W, double &vr)
{
    constexpr double pi = std::numbers::pi;
    const double wy = std::clamp(static_cast<double>(W.getY()), -1.0, 1.0);
    vr = 1.0 - std::acos(wy) / pi;
    return {0.0, vr * map.height, 0.0, 0.0};
}

// Equirectangular lookup of the world-space direction W (unit length): the
// map's top row lies toward world -y, its bottom row toward +y, and the
// longitude starts a quarter turn before +x.
MapLookup MapPosition(const PF_LayerDef &map, const Vector3 &W, double &vr)
{
    constexpr double pi = std::numbers::pi;
    MapLookup lookup = MapLatitude(map, W, vr);
    double ur = 0.0; // straight up or down the longitude is undefined
    if (W.getX() != 0.0f || W.getZ() != 0.0f) {
        ur = std::atan2(static_cast<double>(W.getZ()), static_cast<double>(W.getX())) / (2.0 * pi) -
             0.25;
        ur -= std::floor(ur);
    }
    lookup.x = ur * map.width;
    return lookup;
}

// The reflected ray's footprint on the map: the surface tangent across the
// view (C) and its image under the reflection (K), projected on the map's
// longitude (T) and latitude (U) directions, widened by the incidence.
void MapFootprintRadii(const Record &info, const Vector3 &d, const Vector3 &n, const Vector3 &W,
                       double &ru, double &rv)
{
    const Matrix4 &toWorld = info.shape.objectToWorld;
    const Vector3 C = Vectormath::Aos::normalize(
        Vectormath::Aos::transformDirection(toWorld, Vectormath::Aos::cross(d, n)));
    const Vector3 T = Vectormath::Aos::normalize(Vector3(W.getZ(), 0.0f, -W.getX()));
    const Vector3 U = Vectormath::Aos::cross(W, T);
    const Vector3 K = Vectormath::Aos::cross(W, C);
    const double c = Vectormath::Aos::dot(d, n);

    const double tc = Vectormath::Aos::dot(T, C), tk = Vectormath::Aos::dot(T, K);
    const double uc = Vectormath::Aos::dot(U, C), uk = Vectormath::Aos::dot(U, K);
    ru = std::sqrt(tc * tc + tk * tk / (c * c));
    rv = std::sqrt(uc * uc + uk * uk / (c * c));
}

// The footprint's radii in map pixels at the latitude vr: the longitude's
// circles shrink toward the poles.
void MapFootprint(const Record &info, double vr, double ru, double rv, MapLookup &lookup)
{
    const double s2 = 1.0 - vr * vr;
    const double s = s2 > 0.0 ? std::sqrt(s2) : 0.00001;
    lookup.rx = ru / s * info.textureBlur;
    lookup.ry = rv * info.textureBlur;
}

// A footprint radius the host can take: one that cannot be measured (a
// grazing or head-on reflection) becomes a point sample.
inline double FiniteOrZero(double r) { return std::isfinite(r) ? r : 0.0; }

// How much of the map the surface reflects: the intensity, rolled off
// toward a head-on view.
float ReflectionStrength(const Record &info, const Vector3 &d, const Vector3 &n)
{
    const double facing = 1.0 - std::fabs(Vectormath::Aos::dot(d, n));
    const double intensity = info.reflectionIntensity;
    const double exponent = 10.0f * info.reflectionRolloff;
    // From bounds of the power where both round to the same strength (the
    // product and the rounding are monotone).
    double lo = 0.0, hi = 0.0;
    if (PowerBounds(facing, exponent, lo, hi)) {
        const float low = static_cast<float>(intensity * lo);
        if (low == static_cast<float>(intensity * hi)) return low;
    }
    return static_cast<float>(intensity * std::pow(facing, exponent));
}

// ---- pivot marker ----------------------------------------------------------------------

// "Show Pivot": a blue dot on the fixed point, a green line along the axis
// and a red ring around it through the fixed point.
void DrawPivot(const Record &info, double u, double v, PF_PixelFloat &out)
{
    if (!InUnitSquare(u, v)) return;
    const double du = u - info.fixedPointU;
    const double dv = v - info.fixedPointV;
    if (dv * dv + 4.0 * du * du < 0.0001)
        out = PF_PixelFloat{1.0f, 0.0f, 0.0f, 1.0f};
    else if (std::fabs(du) < 0.001)
        out = PF_PixelFloat{1.0f, 0.0f, 1.0f, 0.0f};
    else if (std::fabs(dv) < 0.002)
        out = PF_PixelFloat{1.0f, 1.0f, 0.0f, 0.0f};
}

} // namespace

// From bounds of the longitude's angle (ArctangentBounds): both ends must
// take the same turn and give the same column in FixedFromDouble's one-step
// range, so that every angle between them gives it (each step is monotone
// there).
bool MapColumnFromBounds(const PF_LayerDef &map, const Vector3 &W, PF_Fixed &column)
{
    constexpr double pi = std::numbers::pi;
    double lo = 0.0, hi = 0.0;
    if (!ArctangentBounds(static_cast<double>(W.getZ()), static_cast<double>(W.getX()), lo, hi))
        return false; // (straight up or down among them)
    double turns[2], x[2];
    const double ends[2] = {lo, hi};
    for (int e = 0; e < 2; ++e) {
        double ur = ends[e] / (2.0 * pi) - 0.25;
        turns[e] = std::floor(ur);
        ur -= turns[e];
        x[e] = ur * map.width;
        if (!(std::fabs(x[e] * 65536.0) < 2147483647.0)) return false; // FixedFromDouble's one step
    }
    column = FixedFromDouble(x[0]);
    return turns[0] == turns[1] && column == FixedFromDouble(x[1]);
}

PF_Fixed MapColumn(const PF_LayerDef &map, const Vector3 &W)
{
    double vr = 0.0;
    return FixedFromDouble(MapPosition(map, W, vr).x);
}

template int Ray_GetColor<PF_PixelFloat>(const Ray &, double, const Record &, PF_PixelFloat &,
                                  const HitAhead *);
template int Ray_GetColor<PF_Pixel16>(const Ray &, double, const Record &, PF_PixelFloat &,
                                  const HitAhead *);
template int Ray_GetColor<PF_Pixel>(const Ray &, double, const Record &, PF_PixelFloat &,
                                  const HitAhead *);
template PF_PixelFloat TexelAhead<PF_PixelFloat>(const Record &, const HitAhead &,
                                            TexelLookups<PF_PixelFloat> &);
template PF_PixelFloat TexelAhead<PF_Pixel16>(const Record &, const HitAhead &,
                                            TexelLookups<PF_Pixel16> &);
template PF_PixelFloat TexelAhead<PF_Pixel>(const Record &, const HitAhead &,
                                            TexelLookups<PF_Pixel> &);
template void ReflectRunAhead<PF_PixelFloat>(const Record &, const FootprintLaneHits &,
                                             const HitLaneValues &, const LightLaneValues &,
                                             const bool (&)[kHitLanes], RunReflections &);
template void ReflectRunAhead<PF_Pixel16>(const Record &, const FootprintLaneHits &,
                                          const HitLaneValues &, const LightLaneValues &,
                                          const bool (&)[kHitLanes], RunReflections &);
template void ReflectRunAhead<PF_Pixel>(const Record &, const FootprintLaneHits &,
                                        const HitLaneValues &, const LightLaneValues &,
                                        const bool (&)[kHitLanes], RunReflections &);
template bool TexelAheadFromAngle<PF_PixelFloat>(const Record &, const HitAhead &,
                                             TexelLookups<PF_PixelFloat> &, PF_PixelFloat &);
template bool TexelAheadFromAngle<PF_Pixel16>(const Record &, const HitAhead &,
                                             TexelLookups<PF_Pixel16> &, PF_PixelFloat &);
template bool TexelAheadFromAngle<PF_Pixel>(const Record &, const HitAhead &,
                                             TexelLookups<PF_Pixel> &, PF_PixelFloat &);
template Vector4 GetObstColor<PF_PixelFloat>(const Record &, const Ray &, const vLight *);
template Vector4 GetObstColor<PF_Pixel16>(const Record &, const Ray &, const vLight *);
template Vector4 GetObstColor<PF_Pixel>(const Record &, const Ray &, const vLight *);
