// The footprint-lane kernel, included once per instruction set by the source
// that builds it, inside a namespace of its own (FOOTPRINT_LANES_NAMESPACE).
// Everything here is plain loops on the arguments, each step of the one-hit
// code a loop over the lanes, its branches as selects between values worked
// out on every lane beforehand (so that the compiler need not speculate an
// operation to make the loop straight): no inline function of a shared header is emitted from it,
// so the linker can never hand code of one instruction set to callers built
// for the other.

namespace FOOTPRINT_LANES_NAMESPACE {

void Measure(const FootprintLaneScene &s, const FootprintLaneHits &h, FootprintLaneRadii &out)
{
    constexpr int n = kFootprintLanes;
    constexpr double kTwoPi = 2.0 * 3.141592653589793;
    float px[n], py[n], pz[n], nx[n], ny[n], nz[n], tx[n], ty[n], incidence[n], along[n];
    // The hit (Ray::pointAt), its normalised point (NormalisedPoint) and the
    // unit normal there (SurfaceNormal), in single precision.
    for (int k = 0; k < n; ++k) {
        const float t = static_cast<float>(h.t[k]);
        const float x = h.ox[k] + t * h.dx[k], y = h.oy[k] + t * h.dy[k], z = h.oz[k] + t * h.dz[k];
        px[k] = x * s.invRadii[0];
        py[k] = y * s.invRadii[1];
        pz[k] = z * s.invRadii[2];
        const float gx = -x * s.invRadiiSquared[0], gy = -y * s.invRadiiSquared[1];
        const float gz = z * s.invRadiiSquared[2];
        const float scale = 1.0f / __builtin_sqrtf((gx * gx + gy * gy) + gz * gz);
        nx[k] = gx * scale;
        ny[k] = gy * scale;
        nz[k] = gz * scale;
    }
    // The unit tangent along u (UTangent): the x axis where u has no direction.
    for (int k = 0; k < n; ++k) {
        const float ux = -s.radiiX * py[k], uy = s.radiiY * px[k], uz = 0.0f;
        const float length2 = (ux * ux + uy * uy) + uz * uz;
        const float length = __builtin_sqrtf(length2);
        const float scale = 1.0f / length;
        const float x = ux * scale, y = uy * scale;
        const bool along = length > 0.0f;
        tx[k] = along ? x : 1.0f;
        ty[k] = along ? y : 0.0f;
    }
    // The ray's incidence on the normal and its part along the tangent, whose
    // z is 0 (0 times its scale where it is not the x axis).
    for (int k = 0; k < n; ++k) {
        const float dx = h.dx[k], dy = h.dy[k], dz = h.dz[k], tz = 0.0f;
        incidence[k] = __builtin_fabsf((dx * nx[k] + dy * ny[k]) + dz * nz[k]);
        along[k] = (dx * tx[k] + dy * ty[k]) + dz * tz;
    }
    // The rest in double precision, from the single-precision values widened.
    double xs[n], ys[n], ds[n], incidences[n], alongs[n], growths[n];
    for (int k = 0; k < n; ++k) {
        xs[k] = px[k];
        ys[k] = py[k];
        ds[k] = pz[k];
        incidences[k] = incidence[k];
        alongs[k] = along[k];
    }
    // How much wider a one-pixel ray gets per unit of distance.
    for (int k = 0; k < n; ++k) growths[k] = s.perspective ? -h.t[k] / s.zoom : 1.0;
    for (int k = 0; k < n; ++k) {
        const double e = growths[k];
        const double abs = incidences[k];
        // std::clamp(abs, 0.0001, 0.9999), a NaN passing through.
        const double m = abs < 0.0001 ? 0.0001 : (0.9999 < abs ? 0.9999 : abs);
        const double sf = alongs[k];
        const double s2 = sf * sf;
        const double m2 = m * m;
        const double w2 = 1.0 - s2 - m2;
        const double M = m * __builtin_sqrt(1.0 - m2);

        // The surface metric (Hyperboloid::getJacobian).
        const double x = xs[k], y = ys[k], d = ds[k];
        const double dd = d * d;
        const double hgt = dd < 1.0 ? 1.0 : dd;
        const double ringRadius = __builtin_sqrt(hgt - 1.0);
        const double du = kTwoPi * __builtin_sqrt(s.a * s.a * y * y + s.b * s.b * x * x) /
                          (s.inverseOpen + s.openBlend * ringRadius);
        const double lateral = s.a * s.a * x * x + s.b * s.b * y * y;
        const double flatness = (hgt - 1.0) * (hgt - 1.0);
        const double general = s.axialScale * __builtin_sqrt(s.c * s.c + hgt * lateral / flatness);
        const double atVertex = s.axialScale * __builtin_inf();
        const double dv = hgt == 1.0 ? atVertex : general;

        const double sx = m2 * w2 + s2, sy = m2 * s2 + w2;
        double rx = __builtin_fabs(s.widthK * e * __builtin_sqrt(0.0 < sx ? sx : 0.0) / M / du);
        double ry = __builtin_fabs(s.heightK * e * __builtin_sqrt(0.0 < sy ? sy : 0.0) / M / dv);
        // CapRadius: a NaN counts as beyond the cap.
        rx = rx <= kFootprintCap ? rx : kFootprintCap;
        ry = ry <= kFootprintCap ? ry : kFootprintCap;
        const double bx = rx * s.blur, by = ry * s.blur;
        out.rx[k] = bx <= kSampleRadiusCap ? bx : kSampleRadiusCap;
        out.ry[k] = by <= kSampleRadiusCap ? by : kSampleRadiusCap;
    }
}

} // namespace FOOTPRINT_LANES_NAMESPACE
