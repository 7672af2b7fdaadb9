// Layer-to-world transforms of the composition model, as the host hands them
// to the effect (AEGP_GetLayerToWorldXform).
//
// Matrices are the host's `A_Matrix4`: doubles, row-vector convention
// (p' = p * M), row i the image of axis i, row 3 the translation.
//
// A point p of a layer reaches the world like this, at composition time t:
//   1. p - anchor point
//   2. times scale / 100, per axis
//   3. rotation about x by "X Rotation", then about y by "Y Rotation", then
//      about z by "Z Rotation"
//   4. rotation by the orientation: its x angle, then its y, then its z
//   5. for a camera or light with a point of interest: the look-at frame
//      (below)
//   6. + position
//   7. the parent's layer-to-world transform (when the layer has a parent)
// Rotations are right-handed in the composition's y-down frame; about x by θ:
//   y' = y cos θ - z sin θ,  z' = y sin θ + z cos θ,
// and likewise about y (z' = z cos θ - x sin θ, x' = z sin θ + x cos θ) and
// about z (x' = x cos θ - y sin θ, y' = x sin θ + y cos θ). Seen on screen
// (y down), a positive z rotation turns clockwise.
//
// Look-at frame: z = normalise(point of interest - position) (both in the
// parent's space), x = normalise((0, 1, 0) × z), or (1, 0, 0) when that cross
// product vanishes (looking straight up or down), y = z × x; the frame's rows
// are x, y, z. The layer's own rotations and orientation act inside that
// frame. A camera at (W/2, H/2, -d) looking at (W/2, H/2, 0) thus has the
// identity frame: it looks along +z with y down, like the default camera.
//
// Parents: an index out of range, the layer itself or a loop in the parent
// chain ends the chain there (the layer is treated as having no parent); the
// model's validate() reports such parents.
//
// The source's pixel aspect ratio is not folded in: the transform maps layer
// pixels as if they were square.
//
// Thread safety: pure functions.
#pragma once

#include "headless/composition/Composition.h"
#include "headless/SdkHeaders.h"

namespace headless {

A_Matrix4 identityMatrix();
// p * a * b: `a` acts first.
A_Matrix4 multiply(const A_Matrix4 &a, const A_Matrix4 &b);
Vec3 transformPoint(const Vec3 &p, const A_Matrix4 &m);

A_Matrix4 translation(const Vec3 &offset);
A_Matrix4 scaling(const Vec3 &factors);
A_Matrix4 rotationX(double degrees);
A_Matrix4 rotationY(double degrees);
A_Matrix4 rotationZ(double degrees);
// The look-at frame above, from `eye` towards `target`.
A_Matrix4 lookAt(const Vec3 &eye, const Vec3 &target);

// Steps 1 to 6 above: the layer's own transform into its parent's space.
A_Matrix4 layerToParent(const Layer &layer, double t);
// Steps 1 to 7: the whole chain. The identity for an index out of range.
A_Matrix4 layerToWorld(const Composition &comp, int layerIndex, double t);

} // namespace headless
