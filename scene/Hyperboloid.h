// The traced shape: a hyperboloid of two sheets, z²/c² − x²/a² − y²/b² = 1 in
// its own frame, whose axis is the local z axis. The sheet with z > 0 is the
// tail sheet, the one with z <= 0 the head sheet.
//
// The render record holds one as its member `shape`. Scene construction fills
// the fields; afterwards the record is read-only and every operation below is
// a const function that allocates nothing and may run on any number of render
// threads at once. The operations are defined with the surface geometry in
// tracer/.
#pragma once

#include "scene/Vectormath.h"

template <class Shape> class RenderInfoTemplate;

struct Hyperboloid {
    // Object (local) frame to world: unit axis columns, translation in col3.
    Vectormath::Aos::Matrix4 objectToWorld;
    // Inverse of objectToWorld.
    Vectormath::Aos::Matrix4 worldToObject;
    // Semi-axes a, b, c (c: vertex distance), already multiplied by the open factor.
    Vectormath::Aos::Vector3 radii;
    // a², b², c².
    Vectormath::Aos::Vector3 radiiSquared;
    // 1/a, 1/b, and 1/c when c > 0, else 0.
    Vectormath::Aos::Vector3 invRadii;
    // Squares of invRadii.
    Vectormath::Aos::Vector3 invRadiiSquared;

    // Texture coordinates (u, v) of a point p of the surface, in object space.
    void getUVFromCoordinate(const RenderInfoTemplate<Hyperboloid> &info,
                             const Vectormath::Aos::Vector3 &p, double &u, double &v) const;
    // Remaps (u, v) for a surface opened about the fixed point.
    void modifyUVByOpenParam(const RenderInfoTemplate<Hyperboloid> &info, double &u,
                             double &v) const;
    // The two coordinates one at a time, for callers that may not need u (its
    // angle is the costly part): v of p, u of p, and their opened values. The
    // opened u depends on the v it had before opening.
    double getVFromCoordinate(const RenderInfoTemplate<Hyperboloid> &info,
                              const Vectormath::Aos::Vector3 &p) const;
    double getUFromCoordinate(const Vectormath::Aos::Vector3 &p) const;
    double openedV(const RenderInfoTemplate<Hyperboloid> &info, double v) const;
    double openedU(const RenderInfoTemplate<Hyperboloid> &info, double u, double v) const;
    // getUFromCoordinate in its steps, for callers that bound the angle
    // instead of taking it (tracer/ArctangentBounds.h): u is uOfAngle of
    // atan2(Y, X) with X and Y the angle's arguments at p, except on the axis
    // (X and Y both 0), where u is 0. uOfAngle's `turn` tells which way it
    // went: 0 the angle's own u, 1 a turn added to a negative one, 2 a tiny
    // negative one rounded up to a full turn and taken as 0.
    void angleArguments(const Vectormath::Aos::Vector3 &p, float &X, float &Y) const;
    static double uOfAngle(double angle, int &turn);
    // The angle of one turn of u, the other way round: u is angle / kAnglePerU.
    static constexpr double kAnglePerU = -6.283185307179586;
    // openedU in its steps: the period of u at row v, and u opened before
    // its wrap into that period (WrapIntoPeriod).
    double openedUPeriod(const RenderInfoTemplate<Hyperboloid> &info, double v) const;
    static double openedUBeforeWrap(const RenderInfoTemplate<Hyperboloid> &info, double u,
                                    double period);
    // Surface length per unit of u and v at the normalised point pn.
    void getJacobian(const RenderInfoTemplate<Hyperboloid> &info,
                     const Vectormath::Aos::Vector3 &pn, double &du, double &dv) const;
    // The surface point of (u, v) for texture height H and semi-axes (a, b, c).
    Vectormath::Aos::Vector3 getHitcoordFromUV(double H, const Vectormath::Aos::Vector3 &semiAxes,
                                               double u, double v) const;
    // Signed distance estimate of p from the surface, for rays that miss it.
    double evaluateDistance(const Vectormath::Aos::Vector3 &p) const;
};
