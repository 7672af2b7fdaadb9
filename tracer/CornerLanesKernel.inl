// The corner-lane kernel, included once per instruction set by the source
// that builds it, inside a namespace of its own (CORNER_LANES_NAMESPACE).
// Everything here is plain loops on the arguments: no inline function of a
// shared header is emitted from it, so the linker can never hand code of one
// instruction set to callers built for the other.

namespace CORNER_LANES_NAMESPACE {

void Trace(const CornerLaneCamera &c, const float (&px)[kCornerLanes],
           const float (&py)[kCornerLanes], CornerLanes &out)
{
    // The direction through (px, py), normalised in single precision:
    // X px + Y py - Z, times 1 / its length.
    for (int k = 0; k < kCornerLanes; ++k) {
        const float vx = (c.X[0] * px[k] + c.Y[0] * py[k]) - c.Z[0];
        const float vy = (c.X[1] * px[k] + c.Y[1] * py[k]) - c.Z[1];
        const float vz = (c.X[2] * px[k] + c.Y[2] * py[k]) - c.Z[2];
        const float scale = 1.0f / __builtin_sqrtf(vx * vx + vy * vy + vz * vz);
        out.dx[k] = vx * scale;
        out.dy[k] = vy * scale;
        out.dz[k] = vz * scale;
    }
    // The quadratic in double from the eye, whose quadric value is known.
    for (int k = 0; k < kCornerLanes; ++k) {
        const double dx = out.dx[k], dy = out.dy[k], dz = out.dz[k];
        out.A[k] = dz * dz * c.ic - dx * dx * c.ia - dy * dy * c.ib;
        const double B = dz * c.eyeZ * c.ic - dx * c.eyeX * c.ia - dy * c.eyeY * c.ib;
        out.Bh[k] = -B;
        out.D[k] = B * B - out.A[k] * c.eyeImplicit;
    }
}

} // namespace CORNER_LANES_NAMESPACE
