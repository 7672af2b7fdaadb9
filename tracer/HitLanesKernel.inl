// The hit-lane kernel, included once per instruction set by the source that
// builds it, inside a namespace of its own (HIT_LANES_NAMESPACE). Like the
// footprint lanes: plain loops on the arguments, each step of the one-hit
// code a loop over the lanes, its branches as selects between values worked
// out on every lane, and no inline function of a shared header emitted from
// it, so the linker can never hand code of one instruction set to callers
// built for the other.

namespace HIT_LANES_NAMESPACE {

#include "tracer/BoundsSteps.inl"

void Locate(const HitLaneScene &s, const FootprintLaneHits &h, HitLaneValues &out)
{
    // The record's values in locals: read through `s` inside the loops, they
    // might alias the outputs, and the loops would not go on lanes.
    const float invRadiiX = s.invRadii[0], invRadiiY = s.invRadii[1], invRadiiZ = s.invRadii[2];
    const float inv2X = s.invRadiiSquared[0], inv2Y = s.invRadiiSquared[1], inv2Z = s.invRadiiSquared[2];
    const float c = s.c;
    const double axialScale = s.axialScale, rowHeight = s.rowHeight, v0 = s.v0;
    const double openFactor = s.openFactor, gap = s.gap, rows = s.rows;
    const double tailFirst = s.tailFirst, tailLast = s.tailLast;
    const double headFirst = s.headFirst, headLast = s.headLast;
    const double footprintBound = s.footprintBound, blur = s.blur;
    const bool hasRows = s.hasRows, perspective = s.perspective;
    constexpr int n = kHitLanes;
    constexpr double kLowest = -2147483647.0, kHighest = 2147483646.0; // INT_MIN + 1, INT_MAX - 1
    float px[n], py[n], pz[n], pnz[n];
    // The hit (Ray::pointAt) and its normalised point (NormalisedPoint), in
    // single precision.
    for (int k = 0; k < n; ++k) {
        const float t = static_cast<float>(h.t[k]);
        px[k] = out.px[k] = h.ox[k] + t * h.dx[k];
        py[k] = out.py[k] = h.oy[k] + t * h.dy[k];
        pz[k] = out.pz[k] = h.oz[k] + t * h.dz[k];
        pnz[k] = pz[k] * invRadiiZ;
    }
    // v before opening (getVFromCoordinate: the head sheet's rows counted
    // from the far side of the vertex row) and after it (openedV).
    // One division a lane: the sheet picks its numerator first.
    for (int k = 0; k < n; ++k) {
        const bool tail = pz[k] > 0.0f;
        const float fromVertex = tail ? pz[k] - c : pz[k] + c;
        const double quotient = static_cast<double>(fromVertex) / axialScale;
        const double head = hasRows ? quotient - rowHeight : quotient;
        const double raw = tail ? quotient : head;
        out.rawV[k] = raw;
        out.v[k] = (raw - v0) * openFactor + v0;
    }
    // The row among the repetitions (RowReach, RepetitionIndex, LocalV), with
    // the repetition index kept as a double: every value it takes is an
    // integer of the int range, exact in a double, and so are the copies'.
    // Flags are 1 or 0, in doubles like the values they select between, and
    // tests combine by selects: no lane branches.
    const double pitch = gap + 1.0;
    const double hasTexture = s.hasTexture ? 1.0 : 0.0;
    out.hasTexture = s.hasTexture;
    double tailSheet[n], reachesAtCap[n], floors[n];
    for (int k = 0; k < n; ++k) tailSheet[k] = pnz[k] > 0.0f ? 1.0 : 0.0;
    // Without gaps the pitch is 1, and v / 1 is v: the division is left out,
    // as RepetitionIndex leaves it out.
    if (pitch == 1.0)
        for (int k = 0; k < n; ++k) floors[k] = __builtin_floor(out.v[k]);
    else
        for (int k = 0; k < n; ++k) floors[k] = __builtin_floor(out.v[k] / pitch);
    for (int k = 0; k < n; ++k) {
        const double v = out.v[k];
        double r = floors[k];
        r = r != r ? 0.0 : r;
        r = r <= kLowest ? kLowest : r;
        r = r >= kHighest ? kHighest : r;
        const double first = tailSheet[k] == 1.0 ? tailFirst : headFirst;
        const double last = tailSheet[k] == 1.0 ? tailLast : headLast;
        const double up = r + 1.0, down = r - 1.0;
        // Copies n exists where first <= n <= last (and the texture has pixels).
        const double on = first <= r ? (r <= last ? hasTexture : 0.0) : 0.0;
        const double next = first <= up ? (up <= last ? hasTexture : 0.0) : 0.0;
        const double previous = first <= down ? (down <= last ? hasTexture : 0.0) : 0.0;
        const double upLocal = v - up * (1.0 + gap);
        const double downLocal = v - down * (1.0 + gap);
        const double toNext = -(up < 0.0 ? upLocal - gap : upLocal) * rows;
        const double pastPrevious = ((down < 0.0 ? downLocal - gap : downLocal) - 1.0) * rows;
        const double rowsToNext = next == 1.0 ? toNext : 0.0;
        const double rowsPastPrevious = previous == 1.0 ? pastPrevious : 0.0;
        out.repetition[k] = hasTexture == 1.0 ? r : 0.0;
        out.onRepetition[k] = on;
        out.nextExists[k] = next;
        out.previousExists[k] = previous;
        out.rowsToNext[k] = rowsToNext;
        out.rowsPastPrevious[k] = rowsPastPrevious;
        // RowReach::reaches(kSampleRadiusCap).
        const double towardNext = 1.0 + kSampleRadiusCap > rowsToNext ? next : 0.0;
        const double towardPrevious = kSampleRadiusCap > rowsPastPrevious ? previous : 0.0;
        reachesAtCap[k] = (on + towardNext) + towardPrevious;
    }
    // The unit normal (SurfaceNormal), in single precision.
    for (int k = 0; k < n; ++k) {
        const float gx = -px[k] * inv2X, gy = -py[k] * inv2Y;
        const float gz = pz[k] * inv2Z;
        const float scale = 1.0f / __builtin_sqrtf((gx * gx + gy * gy) + gz * gz);
        out.nx[k] = gx * scale;
        out.ny[k] = gy * scale;
        out.nz[k] = gz * scale;
    }
    // The ray's incidence on the normal, and whether the normalised point is
    // finite, in single precision.
    double incidence[n], finite[n];
    for (int k = 0; k < n; ++k) {
        const float pnx = px[k] * invRadiiX, pny = py[k] * invRadiiY;
        const float sum = (pnx + pny) + pnz[k];
        incidence[k] = __builtin_fabsf((h.dx[k] * out.nx[k] + h.dy[k] * out.ny[k]) + h.dz[k] * out.nz[k]);
        finite[k] = __builtin_fabsf(sum) <= __FLT_MAX__ ? 1.0 : 0.0;
    }
    // The bound of the footprint's v radius (sampRadiusYBound) and whether it
    // reaches a repetition; then whether either fast path settles the hit:
    // the first where no lookup of the largest radius reaches a repetition,
    // the second, where a lookup does not always fetch (on a repetition or
    // with "Show Pivot"), where none of the bound's radius does.
    const double boundFactor = footprintBound > 0.0 ? 1.0 : 0.0;
    const double skips = s.skipsOutOfReach ? 1.0 : 0.0;
    const double fetchesAlways = s.fetchesAlways ? 1.0 : 0.0;
    // How much wider a one-pixel ray gets with distance, as the footprint has it.
    double growth[n];
    const double perspectiveFlag = perspective ? 1.0 : 0.0;
    for (int k = 0; k < n; ++k) growth[k] = perspectiveFlag == 1.0 ? __builtin_fabs(h.t[k]) : 1.0;
    for (int k = 0; k < n; ++k) {
        const double abs = incidence[k];
        const double m = abs < 0.0001 ? 0.0001 : (0.9999 < abs ? 0.9999 : abs);
        const double ry = rows * growth[k] * footprintBound / m;
        const double capped = ry <= kFootprintCap ? ry : kFootprintCap;
        const double blurred = capped * blur;
        const double bounded = blurred <= kSampleRadiusCap ? blurred : kSampleRadiusCap;
        const double measurable = ry < 1e6 ? finite[k] * boundFactor : 0.0;
        const double bound = measurable == 1.0 ? bounded : kSampleRadiusCap;
        const double towardNext = 1.0 + bound > out.rowsToNext[k] ? out.nextExists[k] : 0.0;
        const double towardPrevious = bound > out.rowsPastPrevious[k] ? out.previousExists[k] : 0.0;
        const double reaches = (out.onRepetition[k] + towardNext) + towardPrevious;
        const double fetches = fetchesAlways + out.onRepetition[k];
        const double beyond = reachesAtCap[k] == 0.0 ? skips : 0.0;
        const double boundBeyond = fetches == 0.0 ? (reaches == 0.0 ? skips : 0.0) : 0.0;
        out.outOfReach[k] = beyond + boundBeyond != 0.0 ? 1.0 : 0.0;
    }
    // Bounds of the angle of u (AngleBoundsAt: ArctangentBounds of the
    // normalised y and x, in single precision, widened).
    double xs[n], ys[n];
    for (int k = 0; k < n; ++k) {
        xs[k] = px[k] * invRadiiX;
        ys[k] = py[k] * invRadiiY;
    }
    ArctangentBoundsLanes(xs, ys, out.angleLo, out.angleHi, out.angleBounded);
    // Where the common lookup falls for both ends of the bounds
    // (PlaceAngleBounds): the periods of the opened u at the row
    // (openedUPeriod) and of the twisted u at the hit (SeamUPeriodAtHit), the
    // twist of the repetition, then each end's u (uOfAngle), opened, wrapped,
    // twisted, wrapped and converted as FixedFromDouble converts in one step.
    // A wrap by a period of 1 divides by it and multiplies by it, which gives
    // the bits of the steps that leave both out.
    const double u0 = s.u0, slide = s.slide, screw = s.screw, width = s.width;
    double openedPeriods[n], seamPeriods[n], shifts[n];
    for (int k = 0; k < n; ++k) {
        const double repetition = out.repetition[k];
        const double twists = repetition < 0.0 ? repetition + 1.0 : repetition;
        shifts[k] = twists * screw;
    }
    // An unopened surface's periods are 1 without their square roots where
    // every lane's normalised height is far from huge (|rawV| within the
    // scene's limit keeps d below 1e150; a float z is, unless infinite).
    const double rawVLimit = s.rawVLimit;
    double plainV = 0.0;
    float plainZ = 0.0f;
    for (int k = 0; k < n; ++k) plainV += __builtin_fabs(out.rawV[k]) <= rawVLimit ? 1.0 : 0.0;
    for (int k = 0; k < n; ++k) plainZ += __builtin_fabsf(pnz[k]) <= __FLT_MAX__ ? 1.0f : 0.0f;
    // Where every period is 1 (an unopened surface), the wraps' divisions and
    // products by it are left out, as the one-hit steps leave them out.
    bool unitPeriods = openFactor == 1.0 && plainV == n && plainZ == n;
    if (unitPeriods) {
        for (int k = 0; k < n; ++k) openedPeriods[k] = seamPeriods[k] = out.seamPeriod[k] = 1.0;
    } else {
        for (int k = 0; k < n; ++k) {
            const double v = out.rawV[k];
            const double scaledV = axialScale * v / static_cast<double>(c);
            const double d = v > 0.0 ? scaledV + 1.0 : scaledV - 1.0;
            const double d2 = d * d - 1.0;
            const double opened = (openFactor - 1.0) * __builtin_sqrt(0.0 < d2 ? d2 : 0.0) + 1.0;
            openedPeriods[k] = openFactor == 1.0 && !(__builtin_fabs(d) > 1e150) ? 1.0 : opened;
            const double z = pnz[k];
            const double z2 = z * z - 1.0;
            const double seam = __builtin_sqrt(0.0 < z2 ? z2 : 0.0) * (__builtin_fabs(openFactor) - 1.0) + 1.0;
            seamPeriods[k] = out.seamPeriod[k] =
                __builtin_fabs(openFactor) == 1.0 && !(__builtin_fabs(z) > 1e150) ? 1.0 : seam;
        }
        double unitLanes = 0.0;
        for (int k = 0; k < n; ++k)
            unitLanes += openedPeriods[k] == 1.0 && seamPeriods[k] == 1.0 ? 1.0 : 0.0;
        unitPeriods = unitLanes == n;
    }
    double turns[2][n], openedTurns[2][n], repetitionTurns[2][n], inRange[2][n], uns[2][n];
    int columns[2][n];
    const auto placeEnd = [&](const double *angles, double *turn, double *opened, double *repeated,
                              double *un, double *within, int *column) {
        double unwrapped[n];
        for (int k = 0; k < n; ++k) {
            const double raw = angles[k] / Hyperboloid::kAnglePerU;
            const double lifted = raw + 1.0;
            const double u = raw < 0.0 ? (lifted >= 1.0 ? 0.0 : lifted) : raw;
            turn[k] = raw < 0.0 ? (lifted >= 1.0 ? 2.0 : 1.0) : 0.0;
            unwrapped[k] = ((u - u0) * openedPeriods[k] + u0) + slide;
        }
        if (unitPeriods) {
            for (int k = 0; k < n; ++k) {
                opened[k] = __builtin_floor(unwrapped[k]);
                const double twisted = (unwrapped[k] - opened[k]) + shifts[k];
                repeated[k] = __builtin_floor(twisted);
                un[k] = twisted - repeated[k];
            }
        } else {
            for (int k = 0; k < n; ++k) {
                opened[k] = __builtin_floor(unwrapped[k] / openedPeriods[k]);
                const double twisted = (unwrapped[k] - openedPeriods[k] * opened[k]) + shifts[k];
                repeated[k] = __builtin_floor(twisted / seamPeriods[k]);
                un[k] = twisted - seamPeriods[k] * repeated[k];
            }
        }
        for (int k = 0; k < n; ++k) {
            const double scaled = un[k] * width * 65536.0;
            const bool one = __builtin_fabs(scaled) < 2147483647.0;
            within[k] = one ? 1.0 : 0.0;
            const double convertible = one ? scaled : 0.0;
            column[k] = static_cast<int>(convertible + __builtin_copysign(0.5, convertible));
        }
    };
    placeEnd(out.angleLo, turns[0], openedTurns[0], repetitionTurns[0], uns[0], inRange[0], columns[0]);
    placeEnd(out.angleHi, turns[1], openedTurns[1], repetitionTurns[1], uns[1], inRange[1], columns[1]);
    for (int k = 0; k < n; ++k) {
        out.unLo[k] = uns[0][k];
        out.unHi[k] = uns[1][k];
    }
    for (int k = 0; k < n; ++k) {
        const bool same = turns[0][k] == turns[1][k] && openedTurns[0][k] == openedTurns[1][k] &&
                          repetitionTurns[0][k] == repetitionTurns[1][k] &&
                          inRange[0][k] + inRange[1][k] == 2.0 && columns[0][k] == columns[1][k];
        out.placed[k] = same ? 1.0 : 0.0;
        out.column[k] = columns[0][k];
    }
}

void PlaceLookups(const HitLaneScene &s, const FootprintLaneRadii &r, HitLaneValues &out)
{
    const double gap = s.gap, rows = s.rows, width = s.width, flipTop = s.flipTop;
    const double flip = s.flip ? 1.0 : 0.0;
    constexpr int n = kHitLanes;
    double own[n], clear[n];
    for (int k = 0; k < n; ++k) {
        const double rx = r.rx[k], ry = r.ry[k];
        // RowReach::neighbour(ry) is the hit's own repetition.
        const double toNext = 1.0 + ry > out.rowsToNext[k] ? out.nextExists[k] : 0.0;
        const double toPrevious = ry > out.rowsPastPrevious[k] ? out.previousExists[k] : 0.0;
        own[k] = toNext + toPrevious == 0.0 ? out.onRepetition[k] : 0.0;
        // Neither end of the placement reaches over the seam
        // (ReachesOverSeam at unLo and at unHi).
        const double period = out.seamPeriod[k], lo = out.unLo[k], hi = out.unHi[k];
        const double overLo = (1.0 + rx > (period - lo) * width ? 1.0 : 0.0) +
                              (rx > ((lo + period) - 1.0) * width ? 1.0 : 0.0);
        const double overHi = (1.0 + rx > (period - hi) * width ? 1.0 : 0.0) +
                              (rx > ((hi + period) - 1.0) * width ? 1.0 : 0.0);
        clear[k] = overLo + overHi == 0.0 ? out.placed[k] : 0.0;
    }
    // The row (LocalV, SampledV, FixedFromDouble) and the radii
    // (FixedSampleRadius), each converted in one step where it can be.
    for (int k = 0; k < n; ++k) {
        const double nh = out.repetition[k];
        const double local = out.v[k] - nh * (1.0 + gap);
        const double localV = nh < 0.0 ? local - gap : local;
        const double odd = nh - 2.0 * __builtin_floor(nh * 0.5); // n & 1
        const double sampled = (flip == 1.0) & (odd != 0.0) ? flipTop - localV : localV;
        const double scaled = sampled * rows * 65536.0;
        const bool rowInOneStep = __builtin_fabs(scaled) < 2147483647.0;
        const double row = rowInOneStep ? scaled : 0.0;
        out.row[k] = static_cast<int>(row + __builtin_copysign(0.5, row));
        const double rx = r.rx[k], ry = r.ry[k];
        const bool xInRange = (rx >= 0.0) & (rx <= 128.0), yInRange = (ry >= 0.0) & (ry <= 128.0);
        const int xRadius = static_cast<int>((xInRange ? rx : 0.0) * 65536.0 + 0.5);
        const int yRadius = static_cast<int>((yInRange ? ry : 0.0) * 65536.0 + 0.5);
        out.xRadius[k] = xRadius < 1 ? 1 : xRadius;
        out.yRadius[k] = yRadius < 1 ? 1 : yRadius;
        const bool converted = rowInOneStep & xInRange & yInRange;
        out.common[k] = converted ? own[k] * clear[k] : 0.0;
    }
}

} // namespace HIT_LANES_NAMESPACE
