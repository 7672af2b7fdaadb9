// Scene construction: the render record from the effect's parameters and the
// composition around the effect.
//
// The surface is placed in two stages. First it is built at open factor 1:
// its semi-axes, its frame (from the rotation parameters or from a control
// layer) and the fixed point P, the surface point of ("Fixed Point U", "Fixed
// Point V"). Then it is opened: the semi-axes grow by the open factor k and the
// frame's origin moves so that the local point k·P still lands where P did, so
// the surface opens about the fixed point. Past the middle of "Open Parameter"
// the surface is also mirrored in its tangent plane at that point.
//
// The parameters are read through two readers in turn: one for the surface,
// one for the camera, lights and material. Errors of the host-object wrappers
// are not reported: they answer with their defaults, which are used as they
// are. A parameter checkout the host refuses is returned (the first one), so
// that the render reports it instead of drawing with zeros.
//
// Thread safety: runs on the thread that handles the render command, inside
// an open command context, before any pixel is traced.

#include "host/ATParameter.h"
#include "host/HostNumbers.h"
#include "host/ParamIds.h"
#include "host/SDK.h"
#include "scene/AEO_Composition.h"
#include "scene/AEO_Interface.h"
#include "scene/AEO_Item.h"
#include "scene/AEO_Layer.h"
#include "scene/Camera.h"
#include "scene/Lights.h"
#include "scene/RenderInfo.h"

#include <cmath>

using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

namespace {

using Info = RenderInfoTemplate<Hyperboloid>;

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kRadiansPerDegree = 0.017453292519943295; // pi / 180
// "Open Parameter" 1 would put the open factor at tan(pi / 2); just below it
// the factor is already past its limit.
constexpr double kNearlyQuarterTurn = 1.5707723583450859;
constexpr double kOpenFactorLimit = 10000.0;

// ---- host math and parameter values ----------------------------------------------

// The host's tangent and square root, so that the surface matches the host's
// own arithmetic; the standard library's only when the host offers none.
double HostTan(const PF_InData *in_data, double x) {
    if (in_data && in_data->utils && in_data->utils->ansi.tan) return in_data->utils->ansi.tan(x);
    return std::tan(x);
}

double HostSqrt(const PF_InData *in_data, double x) {
    if (in_data && in_data->utils && in_data->utils->ansi.sqrt)
        return in_data->utils->ansi.sqrt(x);
    return std::sqrt(x);
}

double FixedValue(ATParameter &params, PF_ParamIndex index) {
    return params.param(index).u.fd.value * kFixedToDouble;
}

double AngleDegrees(ATParameter &params, PF_ParamIndex index) {
    return params.param(index).u.ad.value * kFixedToDouble;
}

PF_ParamValue PopupChoice(ATParameter &params, PF_ParamIndex index) {
    return params.param(index).u.pd.value;
}

PF_ParamValue CheckboxValue(ATParameter &params, PF_ParamIndex index) {
    return params.param(index).u.bd.value;
}

// A fixed-point percentage as a fraction.
float Percent(ATParameter &params, PF_ParamIndex index) {
    return static_cast<float>(FixedValue(params, index) / 100.0);
}

float Length4(const Vector4 &v) { return std::sqrt(Vectormath::Aos::dot(v, v)); }

// ---- surface: opening, texture size, placement ------------------------------------

// The open factor k >= 1 of "Open Parameter" p in [0, 2]. Past 1 the surface is
// opened the other way (isOpen).
double OpenFactor(const PF_InData *in_data, double p, bool &isOpen) {
    double k;
    if (p < 1.0) {
        k = HostTan(in_data, p * kPi * 0.5) + 1.0;
    } else if (p > 1.0) {
        const double t = HostTan(in_data, p * kPi * 0.5) - 1.0;
        k = t > 0.0 ? t : -t;
        isOpen = true;
    } else {
        k = HostTan(in_data, kNearlyQuarterTurn) + 1.0;
    }
    if (k > kOpenFactorLimit) k = kOpenFactorLimit;
    if (k < -kOpenFactorLimit) k = -kOpenFactorLimit;
    return k;
}

void SetupOpening(const PF_InData *in_data, ATParameter &params, Info &info) {
    info.textureSlide = AngleDegrees(params, PARAM_SLIDE_TEXTURE) / 360.0;
    info.isOpen = false;
    info.openFactor = OpenFactor(in_data, FixedValue(params, PARAM_OPEN_PARAMETER), info.isOpen);
    info.fixedPointU = FixedValue(params, PARAM_FIXED_POINT_U);
    info.fixedPointV = FixedValue(params, PARAM_FIXED_POINT_V);
}

// The texture's size in full-resolution pixels; the layer's own size without
// a texture.
void SetupTextureSize(const PF_InData *in_data, ATParameter &params, Info &info) {
    const PF_LayerDef texture = params.param(PARAM_TEXTURE).u.ld;
    if (texture.reserved0) {
        info.textureWidth = texture.width / RatioOf(in_data->downsample_x);
        info.textureHeight = texture.height / RatioOf(in_data->downsample_y);
    } else {
        info.textureWidth = in_data->width;
        info.textureHeight = in_data->height;
    }
}

// The surface's frame before opening: axis columns and origin.
struct Placement {
    Matrix4 axes = Matrix4::identity();
    Vector4 origin{0.0f, 0.0f, 0.0f, 1.0f};
};

Matrix4 RotationX(float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    return {Vector4(1.0f, 0.0f, 0.0f, 0.0f), Vector4(0.0f, c, s, 0.0f), Vector4(0.0f, -s, c, 0.0f),
            Vector4(0.0f, 0.0f, 0.0f, 1.0f)};
}

Matrix4 RotationY(float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    return {Vector4(c, 0.0f, -s, 0.0f), Vector4(0.0f, 1.0f, 0.0f, 0.0f), Vector4(s, 0.0f, c, 0.0f),
            Vector4(0.0f, 0.0f, 0.0f, 1.0f)};
}

Matrix4 RotationZ(float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    return {Vector4(c, s, 0.0f, 0.0f), Vector4(-s, c, 0.0f, 0.0f), Vector4(0.0f, 0.0f, 1.0f, 0.0f),
            Vector4(0.0f, 0.0f, 0.0f, 1.0f)};
}

float AngleRadians(ATParameter &params, PF_ParamIndex index) {
    return static_cast<float>(AngleDegrees(params, index) * kRadiansPerDegree);
}

// Placement by the transform parameters. A local point is turned about z
// first, then y, then x. The width W of the texture wraps once around the
// surface at "Dist. from Center" d, scaled by "Radius Scale"; "Ellipse X/Y"
// trades the x semi-axis against the y semi-axis.
Placement PlaceFromParameters(const PF_InData *in_data, ATParameter &params, double d,
                              Info &info) {
    Placement place;
    const float ax = AngleRadians(params, PARAM_ROTATION_X);
    const float ay = AngleRadians(params, PARAM_ROTATION_Y);
    const float az = AngleRadians(params, PARAM_ROTATION_Z);
    place.axes = (RotationX(ax) * RotationY(ay)) * RotationZ(az);

    const float x = static_cast<float>(params.valueFromPointX(PARAM_POSITION_XY));
    const float y = static_cast<float>(params.valueFromPointY(PARAM_POSITION_XY));
    const float z = static_cast<float>(FixedValue(params, PARAM_POSITION_Z));
    place.origin = Vector4(x, y, z, 1.0f);

    const double radiusScale = FixedValue(params, PARAM_RADIUS_SCALE) / 100.0;
    const double heightScale = FixedValue(params, PARAM_HEIGHT_SCALE) / 100.0;
    const double ellipse = FixedValue(params, PARAM_ELLIPSE_XY);
    const double squash = HostTan(in_data, (ellipse + 1.0) * kPi * 0.25); // 1 for a circle

    const double W = info.textureWidth;
    info.textureHeight = heightScale * info.textureHeight;
    // The height scale stands both in m and in the new texture height; it is
    // kept in both, so a zero height scale gives no semi-axes (0 / 0).
    const double m = d * heightScale * radiusScale * W;
    const double a = m * squash / kTwoPi / info.textureHeight;
    const double b = m / squash / kTwoPi / info.textureHeight;
    info.shape.radii = Vector3(static_cast<float>(a), static_cast<float>(b), static_cast<float>(d));
    return place;
}

// The pixel aspect ratio of a layer's source, 0/1 when it has none.
A_Ratio SourcePixelAspect(AEO::Layer &layer) {
    AEO::Item source(layer.GetSourceItem());
    return source.GetPixelAspectRatio();
}

// Placement by a control layer: the layer's world transform gives the axes
// and origin, and its scale along x and y sizes the surface like "Radius
// Scale" and "Ellipse X/Y" would, its scale along z like "Height Scale".
Placement PlaceFromControlLayer(const PF_InData *in_data, AEGP_LayerH handle, double d,
                                Info &info) {
    AEO::Interface effect;
    const A_Time time = effect.ConvertEffectToCompTime(in_data->current_time, in_data->time_scale);
    AEO::Layer control(handle);
    A_Matrix4 toWorld = control.GetToWorldXform(time);

    // A source with wide or narrow pixels stretches the layer's x axis; the
    // surface is measured in square pixels.
    const A_Ratio sourceAspect = SourcePixelAspect(control);
    if (sourceAspect.num != 0 && sourceAspect.den != 0) {
        const double ratio = static_cast<double>(sourceAspect.num) / sourceAspect.den;
        for (int j = 0; j < 3; ++j) toWorld.mat[0][j] /= ratio;
    }

    AEO::Composition comp(control.GetParentComp());
    AEO::Item compItem(comp.GetItem());
    ModifyAspectedCoordinate(compItem.GetPixelAspectRatio(), compItem.GetWidth(), &toWorld);
    const Matrix4 m4 = ToMatrix4(toWorld);

    // Unit axes; an axis scaled to nothing stays as it is.
    Placement place;
    float scale[3];
    for (int i = 0; i < 3; ++i) {
        Vector4 axis = m4.getCol(i);
        scale[i] = Length4(axis);
        if (scale[i] > 0.0f) axis = axis / scale[i];
        place.axes.setCol(i, axis);
    }
    place.origin = m4.getCol3();

    const float sx = scale[0], sy = scale[1], sz = scale[2];
    const double q = HostSqrt(in_data, sx * sy);
    const double r = sy == 0.0f ? 1.0 : HostSqrt(in_data, sx / sy);
    const double W = info.textureWidth, H = info.textureHeight;
    const double m = d * q * W;
    const double a = m * r / kTwoPi / H;
    const double b = m / r / kTwoPi / H;
    info.shape.radii =
        Vector3(static_cast<float>(a), static_cast<float>(b), static_cast<float>(d));
    info.textureHeight = sz * H;
    return place;
}

// ---- surface frame and opening ---------------------------------------------------

float ReciprocalOrZero(float x) { return x == 0.0f ? 0.0f : 1.0f / x; }

// Mirrors the frame in the plane through its origin perpendicular to `normal`
// (world space), and moves the origin and Q (the fixed point relative to the
// origin) to match, so that the mirrored surface touches the old one at the
// fixed point.
void MirrorAboutTangentPlane(const Vector3 &normal, Placement &place, Vector3 &q) {
    using Vectormath::Aos::dot;
    for (int i = 0; i < 3; ++i) {
        const Vector3 axis = place.axes.getCol(i).getXYZ();
        place.axes.setCol(i, Vector4(axis - 2.0f * dot(axis, normal) * normal, 0.0f));
    }
    const float s = 2.0f * dot(normal, q);
    place.origin = Vector4(place.origin.getXYZ() + s * normal, 1.0f);
    q = q - s * normal;
}

// Final semi-axes and the reciprocals the tracer uses. A zero vertex distance
// has no reciprocal; a and b are the tracer's to guard.
void SetSemiAxes(Hyperboloid &shape, const Vector3 &radii) {
    using Vectormath::Aos::mulPerElem;
    shape.radii = radii;
    shape.radiiSquared = mulPerElem(radii, radii);
    const float c = radii.getZ();
    shape.invRadii = Vector3(1.0f / radii.getX(), 1.0f / radii.getY(), c > 0.0f ? 1.0f / c : 0.0f);
    shape.invRadiiSquared = mulPerElem(shape.invRadii, shape.invRadii);
}

// Places the surface and opens it about the fixed point.
void SetupSurfaceFrame(Placement place, Info &info) {
    using namespace Vectormath::Aos;
    Hyperboloid &shape = info.shape;
    const Vector3 radii = shape.radii;
    const Vector3 inv(ReciprocalOrZero(radii.getX()), ReciprocalOrZero(radii.getY()),
                      ReciprocalOrZero(radii.getZ()));
    const Vector3 inv2 = mulPerElem(inv, inv);

    // The fixed point on the unopened surface and its normal, local frame.
    const Vector3 p = shape.getHitcoordFromUV(info.textureHeight, radii, info.fixedPointU,
                                              info.fixedPointV);
    const Vector3 n = normalize(
        Vector3(-p.getX() * inv2.getX(), -p.getY() * inv2.getY(), p.getZ() * inv2.getZ()));
    Vector3 q = transformDirection(place.axes, p);

    if (info.isOpen) {
        const Vector3 normal = transformDirection(place.axes, n) / length(n);
        MirrorAboutTangentPlane(normal, place, q);
    }

    // Origin such that k·P lands on the world point of P at k = 1.
    const float k = static_cast<float>(info.openFactor);
    const Vector3 t = place.origin.getXYZ() + (1.0f - k) * q;
    shape.objectToWorld = Matrix4(place.axes.getCol0(), place.axes.getCol1(), place.axes.getCol2(),
                                  Vector4(t, place.origin.getW()));
    shape.worldToObject = inverse(shape.objectToWorld);
    SetSemiAxes(shape, radii * k);
}

// The control layer's host handle, null when "Control Layer" is none.
AEGP_LayerH ControlLayer(ATParameter &params) {
    return static_cast<AEGP_LayerH>(params.param(PARAM_CONTROL_LAYER).u.ld.reserved0);
}

// Returns the first parameter checkout the host refused.
PF_Err SetupSurface(const PF_InData *in_data, Info &info) {
    ATParameter params(in_data);
    SetupOpening(in_data, params, info);
    SetupTextureSize(in_data, params, info);

    const double d = params.param(PARAM_DIST_FROM_CENTER).u.fs_d.value;
    const AEGP_LayerH control = ControlLayer(params);
    const Placement place = control ? PlaceFromControlLayer(in_data, control, d, info)
                                    : PlaceFromParameters(in_data, params, d, info);
    SetupSurfaceFrame(place, info);
    return params.firstErr();
}

// ---- material, rendering, extension, depth composite -------------------------------

void SetupShading(const PF_InData *in_data, ATParameter &params, Info &info) {
    info.falloffMode = PopupChoice(params, PARAM_FALLOFF);
    info.falloffRadius = FixedValue(params, PARAM_FALLOFF_RADIUS);
    info.falloffDistance = FixedValue(params, PARAM_FALLOFF_DISTANCE);
    info.selfShadow = CheckboxValue(params, PARAM_SELF_SHADOW) == 1;

    info.lightTransmission = Percent(params, PARAM_LIGHT_TRANSMISSION);
    info.ambient = Percent(params, PARAM_AMBIENT);
    info.emit = Percent(params, PARAM_EMIT);
    info.diffuse = Percent(params, PARAM_DIFFUSE);
    info.specular = Percent(params, PARAM_SPECULAR);
    // Roughness 0 is a mirror-sharp highlight, roughness near 1 a broad one.
    const double roughness = FixedValue(params, PARAM_ROUGHNESS);
    info.shininess = static_cast<float>(HostTan(in_data, (1.0 - roughness) * kPi * 0.5));

    info.metal = Percent(params, PARAM_METAL);
    info.reflectionIntensity = Percent(params, PARAM_REFLECTION_INTENSITY);
    info.reflectionRolloff = Percent(params, PARAM_REFLECTION_ROLLOFF);
}

// Which faces are drawn. Opening past the middle turns the surface inside out,
// so inside and outside trade places.
int RenderSide(PF_ParamValue choice, bool isOpen) {
    if (!isOpen) return choice;
    if (choice == RENDER_FACE_OUTSIDE) return RENDER_FACE_INSIDE;
    if (choice == RENDER_FACE_INSIDE) return RENDER_FACE_OUTSIDE;
    return choice;
}

void SetupExtension(ATParameter &params, Info &info) {
    auto &ext = info.extension;
    const PF_ParamValue side = PopupChoice(params, PARAM_EXTENSION_SIDE);
    const PF_ParamValue count = params.param(PARAM_EXTENSIONS).u.sd.value;
    ext.headExtensions = side == SIDE_HEAD || side == SIDE_BOTH ? count : 0;
    ext.tailExtensions = side == SIDE_TAIL || side == SIDE_BOTH ? count : 0;
    ext.flipVertical = CheckboxValue(params, PARAM_FLIP_VERTICAL) != 0;
    ext.screwTurns = AngleDegrees(params, PARAM_SCREW) * kRadiansPerDegree / kTwoPi;

    // The gap between copies in units of one texture height, never negative.
    const double interval = FixedValue(params, PARAM_INTERVAL) / info.textureHeight;
    ext.interval = info.textureHeight < 0.0 ? -interval : interval;

    const PF_ParamValue side2 = PopupChoice(params, PARAM_RENDER_SIDE2);
    ext.renderTail = side2 == SIDE_TAIL || side2 == SIDE_BOTH;
    ext.renderHead = side2 == SIDE_HEAD || side2 == SIDE_BOTH;
}

void SetupDepthComposite(ATParameter &params, Info &info) {
    auto &dc = info.depthComposite;
    dc.mode = PopupChoice(params, PARAM_DEPTH_COMPOSITE_MODE);
    dc.start = FixedValue(params, PARAM_START_DEPTH);
    dc.range = FixedValue(params, PARAM_END_DEPTH) - dc.start;
    const PF_Pixel fog = params.valueColor(PARAM_FOG_COLOR);
    dc.fogColor.alpha = 1.0f;
    dc.fogColor.red = static_cast<float>(fog.red / 255.0);
    dc.fogColor.green = static_cast<float>(fog.green / 255.0);
    dc.fogColor.blue = static_cast<float>(fog.blue / 255.0);
}

// Camera, lights, material and rendering options, once the surface is placed.
// Returns the first parameter checkout the host refused.
PF_Err SetupSceneAndMaterial(const PF_InData *in_data, Info &info) {
    ATParameter params(in_data);
    const SceneComposition scene = FindComposition(in_data);
    const CameraChoice camera = SetupCamera(scene, params, info);
    SetupObjectSpaceCamera(info);

    CollectLights(scene, info);

    SetupShading(in_data, params, info);
    info.renderSide = RenderSide(PopupChoice(params, PARAM_RENDER_SIDE), info.isOpen);
    SetupDepthOfField(camera, PopupChoice(params, PARAM_DEPTH_OF_FIELD), info);
    SetupEye(info);
    info.showPivot = CheckboxValue(params, PARAM_SHOW_PIVOT) != 0;
    info.textureBlur = 1.0 - FixedValue(params, PARAM_SHARPNESS);
    SetupExtension(params, info);
    SetupDepthComposite(params, info);
    return params.firstErr();
}

} // namespace

PF_Err ConstructRenderInfo(const PF_InData *in_data, RenderInfoTemplate<Hyperboloid> &info) {
    if (!in_data) return PF_Err_NONE; // nothing to build from: the record keeps its initial values
    // A parameter the host would not check out reads as zeros: the record is
    // then not the frame the user set up, and the render must not claim it is.
    const PF_Err surfaceErr = SetupSurface(in_data, info);
    const PF_Err sceneErr = SetupSceneAndMaterial(in_data, info);
    return surfaceErr != PF_Err_NONE ? surfaceErr : sceneErr;
}
