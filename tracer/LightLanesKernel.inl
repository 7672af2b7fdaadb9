// The light-lane kernel, included once per instruction set by the source
// that builds it, inside a namespace of its own (LIGHT_LANES_NAMESPACE). Like
// the other lane kernels: plain loops on the arguments, each step of the
// one-hit code a loop over the lanes, its branches as selects between values
// worked out on every lane (a light's type and the record's falloff are the
// same on every lane, so they choose the loops), and no inline function of a
// shared header emitted from it.

namespace LIGHT_LANES_NAMESPACE {

#include "tracer/BoundsSteps.inl"

namespace {

// Clamp01: q in [0, 1], a quotient that is not a number as 0.
inline double Unit(double q) { return !(q > 0.0) ? 0.0 : (q < 1.0 ? q : 1.0); }

// Falloff with the distance from the light, by the record's mode.
void Falloff(const LightLaneScene &s, const double (&dist)[kHitLanes], double (&out)[kHitLanes])
{
    constexpr int n = kHitLanes;
    const double Rf = s.falloffRadius, Df = s.falloffDistance;
    if (s.falloffMode == kFalloffSmooth) {
        const double span = (Df + Rf) - Rf;
        for (int k = 0; k < n; ++k) {
            const double h = Unit((dist[k] - Rf) / span);
            out[k] = 1.0 - (3.0 - 2.0 * h) * h * h;
        }
    } else if (s.falloffMode == kFalloffInverseSquareClamped) {
        for (int k = 0; k < n; ++k) {
            const double ratio = Rf / dist[k];
            const double q = ratio < 1.0 ? ratio : 1.0; // std::min(1.0, ratio)
            out[k] = q * q;
        }
    } else {
        for (int k = 0; k < n; ++k) out[k] = 1.0;
    }
}

// Light j's direction L and power at each lane's hit (GetLightPower), with
// n the normal facing the viewer (an ambient light falls straight onto it).
void Power(const LightLaneScene &s, const LightLaneLight &light, const HitLaneValues &hv,
           const float (&nx)[kHitLanes], const float (&ny)[kHitLanes],
           const float (&nz)[kHitLanes], float (&lx)[kHitLanes], float (&ly)[kHitLanes],
           float (&lz)[kHitLanes], double (&power)[kHitLanes])
{
    constexpr int n = kHitLanes;
    if (light.type == kAmbientLight) {
        for (int k = 0; k < n; ++k) {
            lx[k] = -nx[k];
            ly[k] = -ny[k];
            lz[k] = -nz[k];
            power[k] = 1.0;
        }
        return;
    }
    if (light.type != kParallelLight && light.type != kSpotLight && light.type != kPointLight) {
        // Unknown: full power, no direction.
        for (int k = 0; k < n; ++k) {
            lx[k] = ly[k] = lz[k] = 0.0f;
            power[k] = 1.0;
        }
        return;
    }
    const float x0 = light.position[0], y0 = light.position[1], z0 = light.position[2];
    float Dx[n], Dy[n], Dz[n];
    double dist[n], falloff[n];
    for (int k = 0; k < n; ++k) {
        Dx[k] = hv.px[k] - x0;
        Dy[k] = hv.py[k] - y0;
        Dz[k] = hv.pz[k] - z0;
        const double length = __builtin_sqrtf((Dx[k] * Dx[k] + Dy[k] * Dy[k]) + Dz[k] * Dz[k]);
        dist[k] = length < 1e-15 ? 1e-15 : length; // std::max(length, 1e-15)
    }
    Falloff(s, dist, falloff);
    if (light.type == kParallelLight) {
        for (int k = 0; k < n; ++k) {
            lx[k] = light.parallel[0];
            ly[k] = light.parallel[1];
            lz[k] = light.parallel[2];
            power[k] = falloff[k];
        }
        return;
    }
    for (int k = 0; k < n; ++k) {
        const float d = static_cast<float>(dist[k]);
        lx[k] = Dx[k] / d;
        ly[k] = Dy[k] / d;
        lz[k] = Dz[k] / d;
    }
    if (light.type == kPointLight) {
        for (int k = 0; k < n; ++k) power[k] = falloff[k];
        return;
    }
    const float ax = light.axis[0], ay = light.axis[1], az = light.axis[2];
    const double coneCos = light.coneCos, spread = (1.0 - light.coneCos) * light.coneFeather;
    for (int k = 0; k < n; ++k) { // spot
        const float along = (lx[k] * ax + ly[k] * ay) + lz[k] * az;
        power[k] = falloff[k] * Unit((static_cast<double>(along) - coneCos) / spread);
    }
}

// Bounds lo, hi of each lane's power x^y (PowerBounds' steps, its range
// tests taken bitwise so that the loop goes on lanes), with `bounded` 1
// where the base's and the product's ranges hold; the exponent's range
// (0 to 4096), the same on every lane, is the caller's to test.
void PowerLanes(const double (&x)[kHitLanes], double y, double (&lo)[kHitLanes],
                double (&hi)[kHitLanes], double (&bounded)[kHitLanes])
{
    constexpr int n = kHitLanes;
    for (int k = 0; k < n; ++k) {
        const bool baseInRange = (x[k] >= 0x1p-1000) & (x[k] <= 0x1p1000);
        double t = 0.0, slack = 0.0;
        const double value = PowerEstimate(baseInRange ? x[k] : 1.0, y, t, slack);
        lo[k] = value - value * slack;
        hi[k] = value + value * slack;
        bounded[k] = baseInRange & (t >= -700.0) & (t <= 700.0) ? 1.0 : 0.0;
    }
}

// A light's highlight factors, (E specular) pow(toward, shininess) in single
// precision, from bounds of the power: settled (1) where both bounds give the
// same factor, which every power between them then gives too (the product
// and the rounding are monotone).
void Highlights(const LightLaneScene &s, const double (&toward)[kHitLanes],
                const float (&E)[kHitLanes], float (&highlight)[kHitLanes],
                double (&settled)[kHitLanes])
{
    constexpr int n = kHitLanes;
    const double y = s.shininess;
    const float specular = s.specular;
    const bool exponentInRange = y >= 0.0 && y <= 4096.0;
    double lo[n], hi[n], bounded[n];
    PowerLanes(toward, y, lo, hi, bounded);
    for (int k = 0; k < n; ++k) {
        const double strength = E[k] * specular;
        const float low = static_cast<float>(strength * lo[k]);
        const float top = static_cast<float>(strength * hi[k]);
        highlight[k] = low;
        settled[k] = exponentInRange & (bounded[k] == 1.0) & (low == top) ? 1.0 : 0.0;
    }
}

} // namespace

void Reflect(const LightLaneScene &s, const FootprintLaneHits &__restrict h,
             const HitLaneValues &__restrict hv, const float (&nx)[kHitLanes],
             const float (&ny)[kHitLanes], const float (&nz)[kHitLanes],
             LightLaneValues &__restrict out);

void PlaceMapColumns(const LightLaneScene &s, LightLaneValues &out);

void Light(const LightLaneScene &s, const FootprintLaneHits &h, const HitLaneValues &hv,
           LightLaneValues &out)
{
    constexpr int n = kHitLanes;
    out.lights = s.lights;
    // The normal turned toward the viewer (FacingViewer).
    float nx[n], ny[n], nz[n];
    for (int k = 0; k < n; ++k) {
        const float toward = (hv.nx[k] * h.dx[k] + hv.ny[k] * h.dy[k]) + hv.nz[k] * h.dz[k];
        nx[k] = toward > 0.0f ? -hv.nx[k] : hv.nx[k];
        ny[k] = toward > 0.0f ? -hv.ny[k] : hv.ny[k];
        nz[k] = toward > 0.0f ? -hv.nz[k] : hv.nz[k];
    }
    if (s.reflects) Reflect(s, h, hv, nx, ny, nz, out);
    const double ia = s.invRadiiSquared[0], ib = s.invRadiiSquared[1], ic = s.invRadiiSquared[2];
    const float transmission = s.transmission;
    for (int j = 0; j < s.lights; ++j) {
        const LightLaneLight &light = s.light[j];
        float lx[n], ly[n], lz[n];
        double power[n];
        Power(s, light, hv, nx, ny, nz, lx, ly, lz, power);
        const double intensity = light.intensity;
        const float dark = light.dark, plain = light.plain, diffuse = light.diffuse;
        const float x0 = light.position[0], y0 = light.position[1], z0 = light.position[2];
        const double shadows = light.shadows ? 1.0 : 0.0, obstructs = light.obstructs ? 1.0 : 0.0;
        const double parallel = light.type == kParallelLight ? 1.0 : 0.0;
        const double ambient = light.type == kAmbientLight ? 1.0 : 0.0;
        // The shadow ray from the hit toward the light (ShadowFactors,
        // GetObstColor): its farther crossing with the surface, and whether
        // that lies between the hit and the light; only for a light that
        // casts a shadow (the crossing of one that does not counts 0 times).
        if (shadows == 1.0) {
            for (int k = 0; k < n; ++k) {
                const float rdx = -lx[k], rdy = -ly[k], rdz = -lz[k];
                const double dx = rdx, dy = rdy, dz = rdz;
                const double ox = hv.px[k], oy = hv.py[k], oz = hv.pz[k];
                const double A = dz * dz * ic - dx * dx * ia - dy * dy * ib;
                const double B = dz * oz * ic - dx * ox * ia - dy * oy * ib;
                const double C = oz * oz * ic + ia * (-ox * ox) - ib * (oy * oy) - 1.0;
                const double disc = B * B - A * C;
                const double root = __builtin_sqrt(disc > 0.0 ? disc : 0.0);
                const double t1 = (-B - root) / A, t2 = (root - B) / A;
                const double t = __builtin_fabs(t2) > __builtin_fabs(t1) ? t2 : t1;
                const float toLightX = x0 - hv.px[k], toLightY = y0 - hv.py[k], toLightZ = z0 - hv.pz[k];
                const double toLight = (toLightX * rdx + toLightY * rdy) + toLightZ * rdz;
                const double bound = parallel == 1.0 ? t + 1.0 : toLight;
                out.alone[j][k] = disc > 0.0 ? (t > 0.0 ? (t < bound ? obstructs : 0.0) : 0.0) : 0.0;
            }
        } else {
            for (int k = 0; k < n; ++k) out.alone[j][k] = 0.0;
        }
        for (int k = 0; k < n; ++k) {
            out.shadow[j][k] = shadows == 1.0 ? 1.0f * dark + plain : 1.0f;

            // The diffuse and highlight terms (AddLight).
            const double E0 = power[k] * intensity;
            float lambda = (lx[k] * nx[k] + ly[k] * ny[k]) + lz[k] * nz[k];
            const float facing = lambda;
            lambda = lambda > 0.0f ? -transmission * lambda : lambda;
            const float E = static_cast<float>(E0 * -lambda);
            out.E[j][k] = E;
            out.diffuseOn[j][k] = lambda < 0.0f ? 1.0 : 0.0;
            out.diffuseK[j][k] = diffuse * E;
            const float twice = 2.0f * facing;
            const float rx = lx[k] - nx[k] * twice, ry = ly[k] - ny[k] * twice, rz = lz[k] - nz[k] * twice;
            const float toward = (rx * h.dx[k] + ry * h.dy[k]) + rz * h.dz[k];
            out.specularOn[j][k] = toward < 0.0f ? 1.0 - ambient : 0.0;
            out.toward[j][k] = -toward;
        }
        // An ambient light has no highlight, and a run may have none of a
        // light: its factors are not worked out (none settled).
        double anySpecular = 0.0;
        for (int k = 0; k < n; ++k) anySpecular += out.specularOn[j][k];
        if (anySpecular != 0.0)
            Highlights(s, out.toward[j], out.E[j], out.highlight[j], out.highlightSettled[j]);
        else
            for (int k = 0; k < n; ++k) {
                out.highlight[j][k] = 0.0f;
                out.highlightSettled[j][k] = 0.0;
            }
    }
}

// The reflection's lanes (AddReflection, ReflectionOcclusion's crossing,
// ReflectionMapColour's direction and MapFootprint), with n the normal
// facing the viewer.
void Reflect(const LightLaneScene &s, const FootprintLaneHits &__restrict h,
             const HitLaneValues &__restrict hv, const float (&nx)[kHitLanes],
             const float (&ny)[kHitLanes], const float (&nz)[kHitLanes],
             LightLaneValues &__restrict out)
{
    constexpr int n = kHitLanes;
    const double ia = s.invRadiiSquared[0], ib = s.invRadiiSquared[1], ic = s.invRadiiSquared[2];
    const float m00 = s.toWorld[0][0], m01 = s.toWorld[0][1], m02 = s.toWorld[0][2];
    const float m10 = s.toWorld[1][0], m11 = s.toWorld[1][1], m12 = s.toWorld[1][2];
    const float m20 = s.toWorld[2][0], m21 = s.toWorld[2][1], m22 = s.toWorld[2][2];
    const double occludes = s.occludes ? 1.0 : 0.0;
    double facing[n];
    for (int k = 0; k < n; ++k) {
        const float dx = h.dx[k], dy = h.dy[k], dz = h.dz[k];
        const float dn = (dx * nx[k] + dy * ny[k]) + dz * nz[k];
        facing[k] = 1.0 - static_cast<double>(__builtin_fabsf(dn)); // ReflectionStrength's
        const float twice = 2.0f * dn;
        const float rx = dx - nx[k] * twice, ry = dy - ny[k] * twice, rz = dz - nz[k] * twice;
        out.rx[k] = rx;
        out.ry[k] = ry;
        out.rz[k] = rz;
        // The reflected ray's farther crossing (FartherCrossing): ahead of the
        // hit, before its bound t + 1, it hides the map.
        const double ddx = rx, ddy = ry, ddz = rz;
        const double ox = hv.px[k], oy = hv.py[k], oz = hv.pz[k];
        const double A = ddz * ddz * ic - ddx * ddx * ia - ddy * ddy * ib;
        const double B = ddz * oz * ic - ddx * ox * ia - ddy * oy * ib;
        const double C = oz * oz * ic + ia * (-ox * ox) - ib * (oy * oy) - 1.0;
        const double disc = B * B - A * C;
        const double root = __builtin_sqrt(disc > 0.0 ? disc : 0.0);
        const double t1 = (-B - root) / A, t2 = (root - B) / A;
        const double t = __builtin_fabs(t2) > __builtin_fabs(t1) ? t2 : t1;
        out.occlusionT[k] = t;
        out.occluded[k] = disc > 0.0 ? (t > 0.0 ? (t < t + 1.0 ? occludes : 0.0) : 0.0) : 0.0;
        // The direction in the world (transformDirection, normalize).
        const float wx = (m00 * rx + m10 * ry) + m20 * rz;
        const float wy = (m01 * rx + m11 * ry) + m21 * rz;
        const float wz = (m02 * rx + m12 * ry) + m22 * rz;
        const float ws = 1.0f / __builtin_sqrtf((wx * wx + wy * wy) + wz * wz);
        const float Wx = wx * ws, Wy = wy * ws, Wz = wz * ws;
        out.wx[k] = Wx;
        out.wy[k] = Wy;
        out.wz[k] = Wz;
        // The footprint on the map (MapFootprint): the tangent across the
        // view, C, and its mirror image K, on the longitude T and latitude U.
        const float ax = dy * nz[k] - dz * ny[k], ay = dz * nx[k] - dx * nz[k], az = dx * ny[k] - dy * nx[k];
        const float cx = (m00 * ax + m10 * ay) + m20 * az;
        const float cy = (m01 * ax + m11 * ay) + m21 * az;
        const float cz = (m02 * ax + m12 * ay) + m22 * az;
        const float cs = 1.0f / __builtin_sqrtf((cx * cx + cy * cy) + cz * cz);
        const float Cx = cx * cs, Cy = cy * cs, Cz = cz * cs;
        const float tx0 = Wz, ty0 = 0.0f, tz0 = -Wx;
        const float tsc = 1.0f / __builtin_sqrtf((tx0 * tx0 + ty0 * ty0) + tz0 * tz0);
        const float Tx = tx0 * tsc, Ty = ty0 * tsc, Tz = tz0 * tsc;
        const float Ux = Wy * Tz - Wz * Ty, Uy = Wz * Tx - Wx * Tz, Uz = Wx * Ty - Wy * Tx;
        const float Kx = Wy * Cz - Wz * Cy, Ky = Wz * Cx - Wx * Cz, Kz = Wx * Cy - Wy * Cx;
        const double c = dn;
        const double tc = (Tx * Cx + Ty * Cy) + Tz * Cz, tk = (Tx * Kx + Ty * Ky) + Tz * Kz;
        const double uc = (Ux * Cx + Uy * Cy) + Uz * Cz, uk = (Ux * Kx + Uy * Ky) + Uz * Kz;
        out.ru[k] = __builtin_sqrt(tc * tc + tk * tk / (c * c));
        out.rv[k] = __builtin_sqrt(uc * uc + uk * uk / (c * c));
    }
    // The strength (ReflectionStrength): intensity times the facing's power,
    // settled where both bounds round to the same single-precision value.
    const double y = s.reflectionExponent, intensity = s.reflectionIntensity;
    const bool exponentInRange = y >= 0.0 && y <= 4096.0;
    double lo[n], hi[n], bounded[n];
    PowerLanes(facing, y, lo, hi, bounded);
    for (int k = 0; k < n; ++k) {
        const float low = static_cast<float>(intensity * lo[k]);
        const float top = static_cast<float>(intensity * hi[k]);
        out.strength[k] = low;
        out.strengthSettled[k] = exponentInRange & (bounded[k] == 1.0) & (low == top) ? 1.0 : 0.0;
    }
    PlaceMapColumns(s, out);
}

// The map's column of each lane's direction in the world from bounds of its
// longitude's angle (MapColumnFromBounds: ArctangentBounds of the
// direction's z and x, then each end's turn and column): placed where both
// ends take the same turn and give the same column in FixedFromDouble's
// one-step range.
void PlaceMapColumns(const LightLaneScene &s, LightLaneValues &out)
{
    constexpr int n = kHitLanes;
    const double width = s.mapWidth;
    double xs[n], ys[n], ends[2][n], bounded[n];
    for (int k = 0; k < n; ++k) {
        xs[k] = out.wx[k];
        ys[k] = out.wz[k];
    }
    ArctangentBoundsLanes(xs, ys, ends[0], ends[1], bounded);
    for (int k = 0; k < n; ++k) {
        const double urLo = ends[0][k] / (2.0 * kBoundsPi) - 0.25;
        const double urHi = ends[1][k] / (2.0 * kBoundsPi) - 0.25;
        const double turnsLo = __builtin_floor(urLo), turnsHi = __builtin_floor(urHi);
        const double scaledLo = (urLo - turnsLo) * width * 65536.0;
        const double scaledHi = (urHi - turnsHi) * width * 65536.0;
        const bool oneStep = (__builtin_fabs(scaledLo) < 2147483647.0) & (__builtin_fabs(scaledHi) < 2147483647.0);
        const double lo = oneStep ? scaledLo : 0.0, hi = oneStep ? scaledHi : 0.0;
        const int columnLo = static_cast<int>(lo + __builtin_copysign(0.5, lo));
        const int columnHi = static_cast<int>(hi + __builtin_copysign(0.5, hi));
        out.mapColumn[k] = columnLo;
        out.mapPlaced[k] = (bounded[k] == 1.0) & oneStep & (turnsLo == turnsHi) & (columnLo == columnHi) ? 1.0 : 0.0;
    }
}

} // namespace LIGHT_LANES_NAMESPACE
