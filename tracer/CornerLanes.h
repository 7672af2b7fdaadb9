// The corner rays of a run of pixels through a perspective camera, and their
// quadratics with the surface, lane by lane.
//
// The lanes are the coverage pass's innermost loop, so the kernel is built
// for the build's own instruction set and, on x86-64, for x86-64-v3 (eight
// floats or four doubles to an instruction) and x86-64-v4 with 512-bit
// vectors (twice as many), the widest the processor supports picked once.
// Every build does exactly the operations of the one-ray camera and
// intersection code, lane by lane, without contraction into fused
// multiply-adds, so every lane's bits are the same whichever runs.
//
// Thread safety: pure functions of their arguments; call from any thread.
#pragma once

// Lanes of one call: the four corners of eight pixels.
inline constexpr int kCornerLanes = 32;

// What the kernel needs of the camera and the surface, in the precision the
// one-ray code uses.
struct CornerLaneCamera {
    float X[3], Y[3]; // the camera's x and y axes, in object space
    float Z[3];       // its z axis times the image plane's z (minus the zoom)
    double ia, ib, ic;                   // 1/a^2, 1/b^2, 1/c^2
    double eyeX, eyeY, eyeZ, eyeImplicit; // the eye and the quadric's value there
};

// Unit ray directions through image-plane points (px, py) from the eye, and
// each ray's quadratic: A, Bh = -B and the quarter discriminant D.
struct CornerLanes {
    float dx[kCornerLanes], dy[kCornerLanes], dz[kCornerLanes];
    double A[kCornerLanes], Bh[kCornerLanes], D[kCornerLanes];
};

// Traces all lanes with the fastest build this processor runs.
void TraceCornerLanes(const CornerLaneCamera &camera, const float (&px)[kCornerLanes],
                      const float (&py)[kCornerLanes], CornerLanes &out);

// The builds on their own, for tests. The x86-64-v3 and x86-64-v4 ones
// return false, doing nothing, where they were not built or the processor
// lacks them.
void TraceCornerLanesBaseline(const CornerLaneCamera &camera, const float (&px)[kCornerLanes],
                              const float (&py)[kCornerLanes], CornerLanes &out);
bool TraceCornerLanesV3(const CornerLaneCamera &camera, const float (&px)[kCornerLanes],
                        const float (&py)[kCornerLanes], CornerLanes &out);
bool TraceCornerLanesV4(const CornerLaneCamera &camera, const float (&px)[kCornerLanes],
                        const float (&py)[kCornerLanes], CornerLanes &out);
