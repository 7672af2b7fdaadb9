// Analytic intersection of a ray with the hyperboloid Q(p) = 1.
//
// Along origin + t direction the surface equation becomes the quadratic
//     A t^2 + 2 B t + C = 0,
//     A = Q(direction) (the quadratic form alone), B = the mixed term,
//     C = Q(origin) - 1,
// with the two roots t+- = (Bh +- sqrt(D)) / A, where Bh = -B and D = B^2 - A C
// is the quarter discriminant. At t+ the ray passes from Q < 1 (between the
// sheets) into Q > 1 (inside a bowl); at t- it leaves Q > 1. A = 0 means the
// ray runs parallel to an asymptote and has at most one crossing.
//
// All arithmetic is in double on the single-precision ray components.
//
// Thread safety: reads the render record only; call from any render thread.
#pragma once

#include "scene/RenderInfo.h"
#include "tracer/Ray.h"

// Coefficients A, B and C of the quadratic for a ray from an arbitrary
// origin (shadow and reflection rays start on the surface, not at the eye).
inline void RayQuadric(const Hyperboloid &shape, const Ray &ray, double &A, double &B, double &C)
{
    const Vectormath::Aos::Vector3 &inv2 = shape.invRadiiSquared;
    const double ia = inv2.getX(), ib = inv2.getY(), ic = inv2.getZ();
    const double dx = ray.direction.getX(), dy = ray.direction.getY(), dz = ray.direction.getZ();
    const double ox = ray.origin.getX(), oy = ray.origin.getY(), oz = ray.origin.getZ();
    A = dz * dz * ic - dx * dx * ia - dy * dy * ib;
    B = dz * oz * ic - dx * ox * ia - dy * oy * ib;
    C = oz * oz * ic + ia * (-ox * ox) - ib * (oy * oy) - 1.0;
}

// Camera-ray test: writes A and Bh = -B and returns the quarter discriminant
// D (D >= 0: the ray's line meets the surface). For a perspective camera
// every ray starts at the eye, whose position and quadric value the render
// record holds in double, so the ray's own origin is not read.
inline double SingleRayTest(const RenderInfoTemplate<Hyperboloid> &info, const Ray &ray, double &A,
                            double &Bh)
{
    double B = 0.0, C = 0.0;
    if (info.perspective) {
        const Vectormath::Aos::Vector3 &inv2 = info.shape.invRadiiSquared;
        const double ia = inv2.getX(), ib = inv2.getY(), ic = inv2.getZ();
        const double dx = ray.direction.getX(), dy = ray.direction.getY();
        const double dz = ray.direction.getZ();
        A = dz * dz * ic - dx * dx * ia - dy * dy * ib;
        B = dz * info.eyeZ * ic - dx * info.eyeX * ia - dy * info.eyeY * ib;
        C = info.eyeImplicit;
    } else {
        RayQuadric(info.shape, ray, A, B, C);
    }
    Bh = -B;
    return B * B - A * C;
}
