// Stand-in for the host SDK's AEGP header: handles, stream values and the AEGP
// suites the effect reaches its composition through. Each suite declares only
// the functions the effect calls; the names and versions under which the host
// registers them are given beside each table.
#pragma once

#include "AE_Effect.h"

typedef A_long AEGP_PluginID;
typedef void *AEGP_GlobalRefcon;
typedef struct _AEGP_Layer *AEGP_LayerH;
typedef struct _AEGP_Comp *AEGP_CompH;
typedef struct _AEGP_Item *AEGP_ItemH;
typedef struct _AEGP_EffectRef *AEGP_EffectRefH;
typedef struct _AEGP_StreamRef *AEGP_StreamRefH;
typedef struct _AEGP_MemHandle *AEGP_MemHandle;
typedef struct _AEGP_World *AEGP_WorldH;
typedef A_u_longlong AEGP_MemSize;

enum { AEGP_LTimeMode_LayerTime = 0, AEGP_LTimeMode_CompTime = 1 };
typedef A_long AEGP_LTimeMode;

enum {
    AEGP_ObjectType_NONE = -1,
    AEGP_ObjectType_AV = 0,
    AEGP_ObjectType_LIGHT = 1,
    AEGP_ObjectType_CAMERA = 2,
    AEGP_ObjectType_TEXT = 3,
    AEGP_ObjectType_VECTOR = 4
};
typedef A_long AEGP_ObjectType;

enum {
    AEGP_LayerFlag_NONE = 0,
    AEGP_LayerFlag_VIDEO_ACTIVE = 0x1,
    AEGP_LayerFlag_AUDIO_ACTIVE = 0x2,
    AEGP_LayerFlag_EFFECTS_ACTIVE = 0x4,
    AEGP_LayerFlag_LAYER_IS_3D = 0x200
};
typedef A_long AEGP_LayerFlags;

enum {
    AEGP_LightType_NONE = -1,
    AEGP_LightType_PARALLEL = 0,
    AEGP_LightType_SPOT = 1,
    AEGP_LightType_POINT = 2,
    AEGP_LightType_AMBIENT = 3
};
typedef A_long AEGP_LightType;

enum { AEGP_CameraType_NONE = -1, AEGP_CameraType_PERSPECTIVE = 0, AEGP_CameraType_ORTHOGRAPHIC = 1 };
typedef A_long AEGP_CameraType;

enum {
    AEGP_LayerStream_NONE = -1,
    AEGP_LayerStream_ANCHORPOINT = 0,
    AEGP_LayerStream_POSITION = 1,
    AEGP_LayerStream_SCALE = 2,
    AEGP_LayerStream_ROTATION = 3,
    AEGP_LayerStream_ROTATE_Z = AEGP_LayerStream_ROTATION,
    AEGP_LayerStream_OPACITY = 4,
    AEGP_LayerStream_AUDIO = 5,
    AEGP_LayerStream_MARKER = 6,
    AEGP_LayerStream_TIME_REMAP = 7,
    AEGP_LayerStream_ROTATE_X = 8,
    AEGP_LayerStream_ROTATE_Y = 9,
    AEGP_LayerStream_ORIENTATION = 10,
    AEGP_LayerStream_ZOOM = 11,
    AEGP_LayerStream_DEPTH_OF_FIELD = 12,
    AEGP_LayerStream_FOCUS_DISTANCE = 13,
    AEGP_LayerStream_APERTURE = 14,
    AEGP_LayerStream_BLUR_LEVEL = 15,
    AEGP_LayerStream_INTENSITY = 16,
    AEGP_LayerStream_COLOR = 17,
    AEGP_LayerStream_CONE_ANGLE = 18,
    AEGP_LayerStream_CONE_FEATHER = 19,
    AEGP_LayerStream_SHADOW_DARKNESS = 20,
    AEGP_LayerStream_SHADOW_DIFFUSION = 21,
    AEGP_LayerStream_ACCEPTS_SHADOWS = 22,
    AEGP_LayerStream_ACCEPTS_LIGHTS = 23,
    AEGP_LayerStream_AMBIENT_COEFF = 24,
    AEGP_LayerStream_DIFFUSE_COEFF = 25,
    AEGP_LayerStream_SPECULAR_INTENSITY = 26,
    AEGP_LayerStream_SPECULAR_SHININESS = 27,
    AEGP_LayerStream_CASTS_SHADOWS = 28
};
typedef A_long AEGP_LayerStream;

enum {
    AEGP_StreamType_NO_DATA = 0,
    AEGP_StreamType_ThreeD_SPATIAL,
    AEGP_StreamType_ThreeD,
    AEGP_StreamType_TwoD_SPATIAL,
    AEGP_StreamType_TwoD,
    AEGP_StreamType_OneD,
    AEGP_StreamType_COLOR
};
typedef A_long AEGP_StreamType;

typedef A_FpLong AEGP_OneDVal;
typedef struct { A_FpLong x, y; } AEGP_TwoDVal;
typedef struct { A_FpLong x, y, z; } AEGP_ThreeDVal;
typedef struct { A_FpLong alphaF, redF, greenF, blueF; } AEGP_ColorVal;
typedef A_FpLong AEGP_FourDVal[4];

typedef union {
    AEGP_FourDVal four_d;
    AEGP_ThreeDVal three_d;
    AEGP_TwoDVal two_d;
    AEGP_OneDVal one_d;
    AEGP_ColorVal color;
} AEGP_StreamVal2;

enum {
    AEGP_DynStreamFlag_ACTIVE_EYEBALL = 1L << 0,
    AEGP_DynStreamFlag_HIDDEN = 1L << 1,
    AEGP_DynStreamFlag_DISABLED = 1L << 4,
    AEGP_DynStreamFlag_ELIDED = 1L << 5
};
typedef A_long AEGP_DynStreamFlags;

enum { AEGP_WorldType_NONE = 0, AEGP_WorldType_8 = 1, AEGP_WorldType_16 = 2, AEGP_WorldType_32 = 3 };
typedef A_long AEGP_WorldType;

enum { AEGP_MemFlag_NONE = 0, AEGP_MemFlag_CLEAR = 1 };
typedef A_long AEGP_MemFlag;

#define AEGP_MAX_LAYER_NAME_SIZE 32

// "AEGP Utility Suite" 11
typedef struct AEGP_UtilitySuite6 {
    SPAPI A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char *plugin_nameZ,
                                         AEGP_PluginID *plugin_id);
} AEGP_UtilitySuite6;

// "AEGP World Suite" 3
typedef struct AEGP_WorldSuite3 {
    SPAPI A_Err (*AEGP_New)(AEGP_PluginID plugin_id, AEGP_WorldType type, A_long widthL,
                            A_long heightL, AEGP_WorldH *worldPH);
    SPAPI A_Err (*AEGP_Dispose)(AEGP_WorldH worldH);
    SPAPI A_Err (*AEGP_GetType)(AEGP_WorldH worldH, AEGP_WorldType *typeP);
    SPAPI A_Err (*AEGP_GetSize)(AEGP_WorldH worldH, A_long *widthPL, A_long *heightPL);
    SPAPI A_Err (*AEGP_FillOutPFEffectWorld)(AEGP_WorldH worldH, PF_EffectWorld *pf_worldP);
} AEGP_WorldSuite3;

// "AEGP Comp Suite" 11
typedef struct AEGP_CompSuite5 {
    SPAPI A_Err (*AEGP_GetItemFromComp)(AEGP_CompH compH, AEGP_ItemH *itemPH);
} AEGP_CompSuite5;

// "AEGP Layer Suite" 12. Names come back as UTF-16 memory handles.
typedef struct AEGP_LayerSuite6 {
    SPAPI A_Err (*AEGP_GetCompNumLayers)(AEGP_CompH compH, A_long *num_layersPL);
    SPAPI A_Err (*AEGP_GetCompLayerByIndex)(AEGP_CompH compH, A_long layer_indexL,
                                            AEGP_LayerH *layerPH);
    SPAPI A_Err (*AEGP_GetLayerName)(AEGP_PluginID plugin_id, AEGP_LayerH layerH,
                                     AEGP_MemHandle *utf_layer_namePH0,
                                     AEGP_MemHandle *utf_source_namePH0);
    SPAPI A_Err (*AEGP_GetLayerSourceItem)(AEGP_LayerH layerH, AEGP_ItemH *source_itemPH);
    SPAPI A_Err (*AEGP_GetLayerParentComp)(AEGP_LayerH layerH, AEGP_CompH *compPH);
    SPAPI A_Err (*AEGP_GetLayerInPoint)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode,
                                        A_Time *in_pointPT);
    SPAPI A_Err (*AEGP_GetLayerDuration)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode,
                                         A_Time *durationPT);
    SPAPI A_Err (*AEGP_GetLayerFlags)(AEGP_LayerH layerH, AEGP_LayerFlags *layer_flagsP);
    SPAPI A_Err (*AEGP_GetLayerToWorldXform)(AEGP_LayerH aegp_layerH, const A_Time *comp_timeP,
                                             A_Matrix4 *transform);
    SPAPI A_Err (*AEGP_GetLayerObjectType)(AEGP_LayerH layerH, AEGP_ObjectType *object_type);
    SPAPI A_Err (*AEGP_SetLayerName)(AEGP_LayerH layerH, const A_UTF16Char *new_nameZ);
} AEGP_LayerSuite6;

// "AEGP Layer Suite" 11: the older name call with 8-bit text.
typedef struct AEGP_LayerSuite5 {
    SPAPI A_Err (*AEGP_GetLayerName)(AEGP_LayerH layerH, A_char layer_nameZ[AEGP_MAX_LAYER_NAME_SIZE],
                                     A_char source_nameZ[AEGP_MAX_LAYER_NAME_SIZE]);
} AEGP_LayerSuite5;

// "AEGP Stream Suite" 9
typedef struct AEGP_StreamSuite4 {
    SPAPI A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID plugin_id,
                                                  AEGP_EffectRefH effect_refH,
                                                  PF_ParamIndex param_index,
                                                  AEGP_StreamRefH *streamPH);
    SPAPI A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
    SPAPI A_Err (*AEGP_GetLayerStreamValue)(AEGP_LayerH layerH, AEGP_LayerStream which_stream,
                                            AEGP_LTimeMode time_mode, const A_Time *timePT,
                                            A_Boolean pre_expressionB,
                                            AEGP_StreamVal2 *stream_valP,
                                            AEGP_StreamType *stream_typeP0);
    SPAPI A_Err (*AEGP_SetExpression)(AEGP_PluginID plugin_id, AEGP_StreamRefH streamH,
                                      const A_char *expressionP);
    SPAPI A_Err (*AEGP_GetExpression)(AEGP_PluginID plugin_id, AEGP_StreamRefH streamH,
                                      AEGP_MemHandle *expressionPH);
} AEGP_StreamSuite4;

// "AEGP Effect Suite" 3
typedef struct AEGP_EffectSuite3 {
    SPAPI A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effectH);
} AEGP_EffectSuite3;

// "AEGP Item Suite" 13
typedef struct AEGP_ItemSuite8 {
    SPAPI A_Err (*AEGP_GetItemDimensions)(AEGP_ItemH itemH, A_long *widthPL, A_long *heightPL);
    SPAPI A_Err (*AEGP_GetItemPixelAspectRatio)(AEGP_ItemH itemH, A_Ratio *pix_aspect_ratioPRt);
} AEGP_ItemSuite8;

// "AEGP Camera Suite" 2
typedef struct AEGP_CameraSuite2 {
    SPAPI A_Err (*AEGP_GetCameraType)(AEGP_LayerH aegp_layerH, AEGP_CameraType *camera_type);
    SPAPI A_Err (*AEGP_GetDefaultCameraDistanceToImagePlane)(AEGP_CompH compH,
                                                             A_FpLong *dist_to_planePF);
} AEGP_CameraSuite2;

// "AEGP Light Suite" 2
typedef struct AEGP_LightSuite2 {
    SPAPI A_Err (*AEGP_GetLightType)(AEGP_LayerH aegp_layerH, AEGP_LightType *light_type);
} AEGP_LightSuite2;

// "AEGP PF Interface Suite" 1
typedef struct AEGP_PFInterfaceSuite1 {
    SPAPI A_Err (*AEGP_GetEffectLayer)(PF_ProgPtr effect_ref, AEGP_LayerH *layerPH);
    SPAPI A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID aegp_plugin_id, PF_ProgPtr effect_ref,
                                              AEGP_EffectRefH *effectPH);
    SPAPI A_Err (*AEGP_ConvertEffectToCompTime)(PF_ProgPtr effect_ref, A_long what_timeL,
                                                A_u_long time_scaleLu, A_Time *comp_timePT);
    SPAPI A_Err (*AEGP_GetEffectCamera)(PF_ProgPtr effect_ref, const A_Time *comp_timePT,
                                        AEGP_LayerH *camera_layerPH);
} AEGP_PFInterfaceSuite1;

// "AEGP Dynamic Stream Suite" 5
typedef struct AEGP_DynamicStreamSuite4 {
    SPAPI A_Err (*AEGP_SetDynamicStreamFlag)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag,
                                             A_Boolean undoableB, A_Boolean setB);
    SPAPI A_Err (*AEGP_GetDynamicStreamFlags)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags *flagsP);
} AEGP_DynamicStreamSuite4;

// "AEGP Keyframe Suite" 4
typedef struct AEGP_KeyframeSuite4 {
    SPAPI A_Err (*AEGP_GetStreamNumKFs)(AEGP_StreamRefH streamH, A_long *num_kfsPL);
} AEGP_KeyframeSuite4;

// "AEGP Layer Mask Suite" 5
typedef struct AEGP_MaskSuite4 {
    SPAPI A_Err (*AEGP_GetLayerNumMasks)(AEGP_LayerH aegp_layerH, A_long *num_masksPL);
} AEGP_MaskSuite4;

// "AEGP Memory Suite" 1
typedef struct AEGP_MemorySuite1 {
    SPAPI A_Err (*AEGP_NewMemHandle)(AEGP_PluginID plugin_id, const A_char *whatZ, AEGP_MemSize size,
                                     AEGP_MemFlag flags, AEGP_MemHandle *memPH);
    SPAPI A_Err (*AEGP_FreeMemHandle)(AEGP_MemHandle memH);
    SPAPI A_Err (*AEGP_LockMemHandle)(AEGP_MemHandle memH, void **ptr_to_ptr);
    SPAPI A_Err (*AEGP_UnlockMemHandle)(AEGP_MemHandle memH);
    SPAPI A_Err (*AEGP_GetMemHandleSize)(AEGP_MemHandle memH, AEGP_MemSize *sizeP);
} AEGP_MemorySuite1;
