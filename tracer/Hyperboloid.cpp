// Surface geometry of the hyperboloid of two sheets: texture parametrisation
// and its inverse, the remap of an opened surface, the texture repetition
// along the axis, the surface metric and the silhouette distance estimate.
//
// Texture coordinates: u runs once around the axis (the angle decreases as u
// grows), v runs along the axis in units of one texture height, 0 at a vertex,
// positive on the tail sheet (z > 0) and negative on the head sheet (z <= 0).
//
// Every function here is const, allocates nothing and keeps its working
// values on the stack, so the render threads may call them concurrently.
#include "scene/Hyperboloid.h"
#include "scene/RenderInfo.h"
#include "tracer/TextureRepetition.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

using Vectormath::Aos::Vector3;

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
static_assert(Hyperboloid::kAnglePerU == -kTwoPi);

// Normalised height d (z/c) of texture row v, given scaled = H v / c. v = 0
// belongs to the head sheet, so both sheets meet v = 0 at their vertex.
inline double NormalisedHeight(double scaled, double v)
{
    return v > 0.0 ? scaled + 1.0 : scaled - 1.0;
}

// 1 / rows, the height of one texture row in v: the pass's quotient when it
// was made for as many rows.
inline double RowHeight(const RenderInfoTemplate<Hyperboloid> &info, int rows)
{
    const SurfaceQuotients &q = info.quotients;
    return q.made && q.rows == rows ? q.inverseRows : 1.0 / rows;
}

// Period of u on a surface opened by k, at normalised height d: opening
// scales the surface about the fixed point, so a ring of the opened surface
// is (k - 1) rho + 1 texture widths long. 1 when k = 1. Points a rounding
// error inside a vertex (|d| < 1) count as the vertex.
inline double OpenedSurfaceUPeriod(double k, double d)
{
    // Unopened, 0 times the ring radius plus 1 is 1 without its square root,
    // unless d * d overflows (the root is then infinite and the product not a
    // number, which the full formula keeps).
    if (k == 1.0 && !(std::fabs(d) > 1e150)) return 1.0;
    return (k - 1.0) * std::sqrt(std::max(0.0, d * d - 1.0)) + 1.0;
}


} // namespace

Vector3 Hyperboloid::getHitcoordFromUV(double H, const Vector3 &semiAxes, double u,
                                       double v) const
{
    const double a = semiAxes.getX(), b = semiAxes.getY(), c = semiAxes.getZ();
    const double d = NormalisedHeight(H * v / c, v);
    const double theta = (1.0 - u) * kTwoPi;
    const double r = std::sqrt(d * d - 1.0);
    return Vector3(static_cast<float>(a * r * std::cos(theta)),
                   static_cast<float>(b * r * std::sin(theta)), static_cast<float>(c * d));
}

void Hyperboloid::getUVFromCoordinate(const RenderInfoTemplate<Hyperboloid> &info,
                                      const Vector3 &p, double &u, double &v) const
{
    v = getVFromCoordinate(info, p);
    u = getUFromCoordinate(p);
}

double Hyperboloid::getVFromCoordinate(const RenderInfoTemplate<Hyperboloid> &info,
                                       const Vector3 &p) const
{
    const double axialScale = info.textureHeight * info.openFactor;
    const float c = radii.getZ();
    if (p.getZ() > 0.0f) return (p.getZ() - c) / axialScale;
    double v = (p.getZ() + c) / axialScale;
    // The head sheet's rows are counted from the far side of the vertex row,
    // so the two sheets do not share the texture's first row.
    const int rows = info.textureLayer.height;
    if (rows != 0) v -= RowHeight(info, rows);
    return v;
}

void Hyperboloid::angleArguments(const Vector3 &p, float &X, float &Y) const
{
    X = p.getX() * invRadii.getX();
    Y = p.getY() * invRadii.getY();
}

double Hyperboloid::uOfAngle(double angle, int &turn)
{
    double u = angle / kAnglePerU;
    turn = 0;
    if (u < 0.0) {
        u += 1.0;
        turn = 1;
        if (u >= 1.0) { // a tiny negative angle rounds up to a full turn
            u = 0.0;
            turn = 2;
        }
    }
    return u;
}

double Hyperboloid::getUFromCoordinate(const Vector3 &p) const
{
    float X = 0.0f, Y = 0.0f;
    angleArguments(p, X, Y);
    if (X == 0.0f && Y == 0.0f) return 0.0; // on the axis the angle is undefined
    int turn = 0;
    return uOfAngle(std::atan2(static_cast<double>(Y), static_cast<double>(X)), turn);
}

void Hyperboloid::modifyUVByOpenParam(const RenderInfoTemplate<Hyperboloid> &info, double &u,
                                      double &v) const
{
    u = openedU(info, u, v);
    v = openedV(info, v);
}

double Hyperboloid::openedUPeriod(const RenderInfoTemplate<Hyperboloid> &info, double v) const
{
    const double k = info.openFactor;
    const double d = NormalisedHeight(info.textureHeight * k * v / radii.getZ(), v);
    return OpenedSurfaceUPeriod(k, d);
}

double Hyperboloid::openedUBeforeWrap(const RenderInfoTemplate<Hyperboloid> &info, double u,
                                      double period)
{
    const double u0 = info.fixedPointU;
    u = (u - u0) * period + u0;
    u += info.textureSlide;
    return u;
}

double Hyperboloid::openedU(const RenderInfoTemplate<Hyperboloid> &info, double u, double v) const
{
    const double period = openedUPeriod(info, v);
    return WrapIntoPeriod(openedUBeforeWrap(info, u, period), period);
}

double Hyperboloid::openedV(const RenderInfoTemplate<Hyperboloid> &info, double v) const
{
    const double v0 = info.fixedPointV;
    return (v - v0) * info.openFactor + v0;
}

void Hyperboloid::getJacobian(const RenderInfoTemplate<Hyperboloid> &info, const Vector3 &pn,
                              double &du, double &dv) const
{
    const double x = pn.getX(), y = pn.getY(), d = pn.getZ();
    const double a = radii.getX(), b = radii.getY(), c = radii.getZ();
    const double k = info.openFactor;
    const double h = std::max(d * d, 1.0);
    const double ringRadius = std::sqrt(h - 1.0);

    const SurfaceQuotients::Metric q =
        info.quotients.metricFor(k, info.textureHeight, radii.getZ(), info.textureLayer.height);
    const double axialScale = q.axialPerC;
    du = kTwoPi * std::sqrt(a * a * y * y + b * b * x * x) / (q.inverseOpen + q.openBlend * ringRadius);

    const double lateral = a * a * x * x + b * b * y * y;
    if (h == 1.0) {
        // At a vertex v changes only to second order along the surface, so
        // the length per unit of v is unbounded. (The general formula gives
        // 0/0 exactly on the axis.)
        dv = axialScale * std::numeric_limits<double>::infinity();
        return;
    }
    const double flatness = (h - 1.0) * (h - 1.0);
    dv = axialScale * std::sqrt(c * c + h * lateral / flatness);
}

double Hyperboloid::evaluateDistance(const Vector3 &p) const
{
    const float X2 = p.getX() * p.getX();
    const float Y2 = p.getY() * p.getY();
    const double ia2 = invRadiiSquared.getX(), ib2 = invRadiiSquared.getY();
    const double ic2 = invRadiiSquared.getZ();
    const double f = X2 * ia2 + Y2 * ib2;
    const double sigma = std::sqrt(f);
    const double zeta = p.getZ() * invRadii.getZ();

    // Normalised distance from the asymptotic double cone |zeta| = sigma.
    const double m = std::min(std::fabs(zeta + sigma), std::fabs(zeta - sigma));

    // Factor from normalised to object-space length. It depends only on the
    // direction around the axis; on the axis itself, where that direction is
    // undefined, the mean over all directions is taken.
    const double s = static_cast<double>(X2) + static_cast<double>(Y2);
    const double q = s != 0.0 ? std::sqrt(s / (s * ic2 + f))
                              : std::sqrt(1.0 / (ic2 + 0.5 * (ia2 + ib2)));
    return m * q - q;
}

ExtraRenderInfo<Hyperboloid>::ExtensionInfo::Copies
ExtraRenderInfo<Hyperboloid>::ExtensionInfo::copiesOn(const Vector3 &pn) const
{
    // Tail sheet: the base copy is 0, its extensions 1 ... count.
    if (pn.getZ() > 0.0f) return renderTail ? Copies{0, tailExtensions} : Copies{0, -1};
    // Head sheet: the base copy is -1, its extensions -2 ... -(count + 1).
    return renderHead ? Copies{-(static_cast<long long>(headExtensions) + 1), -1} : Copies{0, -1};
}

bool ExtraRenderInfo<Hyperboloid>::ExtensionInfo::isTextureInExtension(int n,
                                                                       const Vector3 &pn) const
{
    return copiesOn(pn).holds(n);
}

int ExtraRenderInfo<Hyperboloid>::ExtensionInfo::modifyUVByExtendedCylinder(
    const Vector3 &pn, const RenderInfoTemplate<Hyperboloid> &info, double &u, double &v) const
{
    const int n = RepetitionIndex(v, interval);
    if (n == 0 || !isTextureInExtension(n, pn)) return n;

    // The head sheet counts its base copy as -1; it gets no twist.
    const double twists = n < 0 ? static_cast<double>(n) + 1.0 : static_cast<double>(n);
    u += twists * screwTurns;
    const double d = pn.getZ();
    u = WrapIntoPeriod(u, OpenedSurfaceUPeriod(info.openFactor, d));

    v -= n * (1.0 + interval);
    if (n < 0) v -= interval; // head-side gaps lie on the vertex side of each copy
    if (flipVertical && (n & 1) != 0) v = 1.0 - v;
    return n;
}
