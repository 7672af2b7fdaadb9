// Positions of the effect's parameters in the host's parameter array, and the
// choices of its popups.
//
// The order below is the order in which ParamsSetup registers the parameters;
// the host numbers them by that order, so every reader of a parameter uses
// these names. Group starts and ends take positions of their own. Index 0 is
// the input layer, which the host supplies itself.
//
// The disk ids that saved projects use are a separate numbering, kept in
// ParamsSetup.cpp.
//
// Thread safety: constants only.
#pragma once

enum ParamIndex {
    PARAM_INPUT = 0,

    PARAM_TEXTURE = 1,

    PARAM_TRANSFORM_START = 2,      // group "Transform"
    PARAM_SLIDE_TEXTURE = 3,
    PARAM_CONTROL_LAYER = 4,
    PARAM_ELLIPSE_XY = 5,
    PARAM_DIST_FROM_CENTER = 6,
    PARAM_RADIUS_SCALE = 7,
    PARAM_HEIGHT_SCALE = 8,
    PARAM_POSITION_XY = 9,
    PARAM_POSITION_Z = 10,
    PARAM_ROTATION_X = 11,
    PARAM_ROTATION_Y = 12,
    PARAM_ROTATION_Z = 13,
    PARAM_TRANSFORM_END = 14,

    PARAM_OPEN_START = 15,          // group "Open Hyperboloid"
    PARAM_SHOW_PIVOT = 16,
    PARAM_FIXED_POINT_U = 17,
    PARAM_FIXED_POINT_V = 18,
    PARAM_OPEN_PARAMETER = 19,
    PARAM_OPEN_END = 20,

    PARAM_EXTEND_START = 21,        // group "Extend Hyperboloid"
    PARAM_EXTENSION_SIDE = 22,
    PARAM_EXTENSIONS = 23,
    PARAM_FLIP_VERTICAL = 24,
    PARAM_SCREW = 25,
    PARAM_INTERVAL = 26,
    PARAM_EXTEND_END = 27,

    PARAM_SHADING_START = 28,       // group "Shading"
    PARAM_FALLOFF = 29,
    PARAM_FALLOFF_RADIUS = 30,
    PARAM_FALLOFF_DISTANCE = 31,
    PARAM_SELF_SHADOW = 32,
    PARAM_LIGHT_TRANSMISSION = 33,
    PARAM_EMIT = 34,
    PARAM_AMBIENT = 35,
    PARAM_DIFFUSE = 36,
    PARAM_SPECULAR = 37,
    PARAM_ROUGHNESS = 38,
    PARAM_METAL = 39,
    PARAM_REFLECTION_MAP = 40,
    PARAM_REFLECTION_INTENSITY = 41,
    PARAM_REFLECTION_ROLLOFF = 42,
    PARAM_SHADING_END = 43,

    PARAM_RENDERING_START = 44,     // group "Rendering"
    PARAM_RENDER_SIDE = 45,
    PARAM_RENDER_SIDE2 = 46,
    PARAM_USE_COMP_CAMERA = 47,
    PARAM_DEPTH_OF_FIELD = 48,
    PARAM_BOOST_DOF_BLUR = 49,
    PARAM_SHARPNESS = 50,
    PARAM_DEPTH_COMPOSITE_START = 51, // group "Depth Composite", inside "Rendering"
    PARAM_DEPTH_COMPOSITE_MODE = 52,
    PARAM_START_DEPTH = 53,
    PARAM_END_DEPTH = 54,
    PARAM_FOG_COLOR = 55,
    PARAM_DEPTH_COMPOSITE_END = 56,
    PARAM_RENDERING_END = 57,

    PARAM_CONTROL_WATCH = 58,       // hidden; carries the control layer expression

    PARAM_COUNT = 59                // entries in the host's array, input layer included
};

// Popup choices. The host numbers choices from 1, in the order of the labels.

// "Extension Side" (PARAM_EXTENSION_SIDE) and "Render Side2" (PARAM_RENDER_SIDE2):
// which bowl of the surface is meant.
enum SurfaceSideChoice {
    SIDE_HEAD = 1,
    SIDE_TAIL = 2,
    SIDE_BOTH = 3
};

// "Falloff" (PARAM_FALLOFF)
enum FalloffChoice {
    FALLOFF_NONE = 1,
    FALLOFF_SMOOTH = 2,
    FALLOFF_INVERSE_SQUARE_CLAMPED = 3
};

// "Render Side" (PARAM_RENDER_SIDE): which faces are drawn.
enum RenderFaceChoice {
    RENDER_FACE_FULL = 1,
    RENDER_FACE_INSIDE = 2,
    RENDER_FACE_OUTSIDE = 3
};

// "Depth Of Field" (PARAM_DEPTH_OF_FIELD)
enum DepthOfFieldChoice {
    DOF_OFF = 1,
    DOF_CAMERA_SETTINGS = 2,
    DOF_ON = 3
};

// "Mode" of "Depth Composite" (PARAM_DEPTH_COMPOSITE_MODE)
enum DepthCompositeChoice {
    DEPTH_COMPOSITE_OFF = 1,
    DEPTH_COMPOSITE_FOG = 2,
    DEPTH_COMPOSITE_FADE_OUT = 3
};

// Every popup of the effect offers three choices.
inline constexpr int kPopupChoiceCount = 3;
