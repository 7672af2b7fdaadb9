#include "AEO_FakeAegp.h"

#include <cstring>

namespace aeo_test {

FakeAegp *FakeAegp::current = nullptr;

namespace {

FakeAegp &S() { return *FakeAegp::current; }

// Counts the call; returns the error to fail with (0 to go on).
A_Err Enter(const char *function) {
    FakeAegp &s = S();
    ++s.calls[function];
    auto it = s.failWith.find(function);
    return it == s.failWith.end() ? A_Err_NONE : it->second;
}

template <class T> void Scribble(T *out) {
    if (out) std::memset(static_cast<void *>(out), FakeAegp::kScribble, sizeof(T));
}

// Enters fake function `fn`; on an armed failure scribbles over `out` and fails.
#define FAKE_ENTER(fn, out)                                                                        \
    if (A_Err e = Enter(#fn)) {                                                                    \
        Scribble(out);                                                                             \
        return e;                                                                                  \
    }
#define FAKE_ENTER_NO_OUTPUT(fn)                                                                   \
    if (A_Err e = Enter(#fn)) return e;

// ---- "AEGP Comp Suite" 11 ----
A_Err GetItemFromComp(AEGP_CompH comp, AEGP_ItemH *item) {
    S().lastHandle = comp;
    FAKE_ENTER(AEGP_GetItemFromComp, item);
    *item = S().compItem;
    return A_Err_NONE;
}
const AEGP_CompSuite5 kCompSuite = {GetItemFromComp};

// ---- "AEGP Layer Suite" 12 ----
A_Err GetCompNumLayers(AEGP_CompH comp, A_long *count) {
    S().lastHandle = comp;
    FAKE_ENTER(AEGP_GetCompNumLayers, count);
    *count = static_cast<A_long>(S().layers.size());
    return A_Err_NONE;
}
A_Err GetCompLayerByIndex(AEGP_CompH comp, A_long index, AEGP_LayerH *layer) {
    S().lastHandle = comp;
    FAKE_ENTER(AEGP_GetCompLayerByIndex, layer);
    if (index < 0 || index >= static_cast<A_long>(S().layers.size())) return A_Err_PARAMETER;
    *layer = S().layers[index];
    return A_Err_NONE;
}
AEGP_MemHandle NewText(const std::u16string &text) {
    FakeAegp::Block block;
    block.text.assign(text.begin(), text.end());
    if (S().terminateUtf16) block.text.push_back(0);
    static std::uintptr_t next = 1;
    auto handle = reinterpret_cast<AEGP_MemHandle>(0x100000 + 16 * next++);
    S().memory[handle] = std::move(block);
    return handle;
}
A_Err GetLayerName(AEGP_PluginID id, AEGP_LayerH layer, AEGP_MemHandle *layerName,
                   AEGP_MemHandle *sourceName) {
    S().lastHandle = layer;
    S().lastPluginId = id;
    if (A_Err e = Enter("AEGP_GetLayerName")) {
        Scribble(layerName);
        Scribble(sourceName);
        return e;
    }
    if (layerName) *layerName = NewText(S().layerName);
    if (sourceName) *sourceName = NewText(S().sourceName);
    return A_Err_NONE;
}
A_Err GetLayerSourceItem(AEGP_LayerH layer, AEGP_ItemH *item) {
    S().lastHandle = layer;
    FAKE_ENTER(AEGP_GetLayerSourceItem, item);
    *item = S().sourceItem;
    return A_Err_NONE;
}
A_Err GetLayerParentComp(AEGP_LayerH layer, AEGP_CompH *comp) {
    S().lastHandle = layer;
    FAKE_ENTER(AEGP_GetLayerParentComp, comp);
    *comp = S().parentComp;
    return A_Err_NONE;
}
A_Err GetLayerInPoint(AEGP_LayerH layer, AEGP_LTimeMode mode, A_Time *t) {
    S().lastHandle = layer;
    S().lastTimeMode = mode;
    FAKE_ENTER(AEGP_GetLayerInPoint, t);
    *t = S().inPoint;
    return A_Err_NONE;
}
A_Err GetLayerDuration(AEGP_LayerH layer, AEGP_LTimeMode mode, A_Time *t) {
    S().lastHandle = layer;
    S().lastTimeMode = mode;
    FAKE_ENTER(AEGP_GetLayerDuration, t);
    *t = S().duration;
    return A_Err_NONE;
}
A_Err GetLayerFlags(AEGP_LayerH layer, AEGP_LayerFlags *flags) {
    S().lastHandle = layer;
    FAKE_ENTER(AEGP_GetLayerFlags, flags);
    *flags = S().layerFlags;
    return A_Err_NONE;
}
A_Err GetLayerToWorldXform(AEGP_LayerH layer, const A_Time *t, A_Matrix4 *m) {
    S().lastHandle = layer;
    S().lastCompTime = *t;
    FAKE_ENTER(AEGP_GetLayerToWorldXform, m);
    *m = S().toWorld;
    return A_Err_NONE;
}
A_Err GetLayerObjectType(AEGP_LayerH layer, AEGP_ObjectType *type) {
    S().lastHandle = layer;
    FAKE_ENTER(AEGP_GetLayerObjectType, type);
    *type = S().objectType;
    return A_Err_NONE;
}
A_Err SetLayerName(AEGP_LayerH layer, const A_UTF16Char *name) {
    S().lastHandle = layer;
    FAKE_ENTER_NO_OUTPUT(AEGP_SetLayerName);
    S().lastNewName.clear();
    for (const A_UTF16Char *c = name; *c; ++c) S().lastNewName.push_back(static_cast<char16_t>(*c));
    return A_Err_NONE;
}
const AEGP_LayerSuite6 kLayerSuite = {GetCompNumLayers, GetCompLayerByIndex, GetLayerName,
                                      GetLayerSourceItem, GetLayerParentComp, GetLayerInPoint,
                                      GetLayerDuration, GetLayerFlags, GetLayerToWorldXform,
                                      GetLayerObjectType, SetLayerName};

// ---- "AEGP Layer Suite" 11 ----
A_Err GetLayerNameOld(AEGP_LayerH layer, A_char layerName[AEGP_MAX_LAYER_NAME_SIZE],
                      A_char sourceName[AEGP_MAX_LAYER_NAME_SIZE]) {
    S().lastHandle = layer;
    S().layerSuite11WhileNaming =
        headless::Host::current()->suites().outstanding("AEGP Layer Suite", 11);
    FAKE_ENTER_NO_OUTPUT(AEGP_GetLayerName_v11);
    // Like the host, copy at most the buffer's size, terminator or not.
    std::strncpy(layerName, S().localizedName.c_str(), AEGP_MAX_LAYER_NAME_SIZE);
    std::strncpy(sourceName, "source", AEGP_MAX_LAYER_NAME_SIZE);
    return A_Err_NONE;
}
const AEGP_LayerSuite5 kOldLayerSuite = {GetLayerNameOld};

// ---- "AEGP Stream Suite" 9 ----
A_Err GetNewEffectStreamByIndex(AEGP_PluginID id, AEGP_EffectRefH effect, PF_ParamIndex index,
                                AEGP_StreamRefH *stream) {
    S().lastHandle = effect;
    S().lastPluginId = id;
    S().lastParamIndex = index;
    FAKE_ENTER(AEGP_GetNewEffectStreamByIndex, stream);
    *stream = S().newStream;
    return A_Err_NONE;
}
A_Err DisposeStream(AEGP_StreamRefH stream) {
    FAKE_ENTER_NO_OUTPUT(AEGP_DisposeStream);
    S().disposedStreams.push_back(stream);
    return A_Err_NONE;
}
A_Err GetLayerStreamValue(AEGP_LayerH layer, AEGP_LayerStream which, AEGP_LTimeMode mode,
                          const A_Time *t, A_Boolean pre, AEGP_StreamVal2 *value,
                          AEGP_StreamType *type) {
    S().streamReads.push_back({layer, which, mode, *t, pre});
    if (A_Err e = Enter("AEGP_GetLayerStreamValue")) {
        Scribble(value);
        Scribble(type);
        return e;
    }
    auto it = S().streamValues.find(which);
    if (it == S().streamValues.end()) return A_Err_PARAMETER;
    *value = it->second;
    if (type) *type = which == AEGP_LayerStream_COLOR ? AEGP_StreamType_COLOR : AEGP_StreamType_OneD;
    return A_Err_NONE;
}
A_Err SetExpression(AEGP_PluginID id, AEGP_StreamRefH stream, const A_char *expression) {
    S().lastHandle = stream;
    S().lastPluginId = id;
    FAKE_ENTER_NO_OUTPUT(AEGP_SetExpression);
    S().lastExpression = expression;
    return A_Err_NONE;
}
A_Err GetExpression(AEGP_PluginID, AEGP_StreamRefH, AEGP_MemHandle *) {
    FAKE_ENTER_NO_OUTPUT(AEGP_GetExpression);
    return A_Err_GENERIC;
}
const AEGP_StreamSuite4 kStreamSuite = {GetNewEffectStreamByIndex, DisposeStream,
                                        GetLayerStreamValue, SetExpression, GetExpression};

// ---- "AEGP Effect Suite" 3 ----
A_Err DisposeEffect(AEGP_EffectRefH effect) {
    FAKE_ENTER_NO_OUTPUT(AEGP_DisposeEffect);
    S().disposedEffects.push_back(effect);
    return A_Err_NONE;
}
const AEGP_EffectSuite3 kEffectSuite = {DisposeEffect};

// ---- "AEGP Item Suite" 13 ----
A_Err GetItemDimensions(AEGP_ItemH item, A_long *w, A_long *h) {
    S().lastHandle = item;
    if (A_Err e = Enter("AEGP_GetItemDimensions")) {
        Scribble(w);
        Scribble(h);
        return e;
    }
    *w = S().itemWidth;
    *h = S().itemHeight;
    return A_Err_NONE;
}
A_Err GetItemPixelAspectRatio(AEGP_ItemH item, A_Ratio *ratio) {
    S().lastHandle = item;
    FAKE_ENTER(AEGP_GetItemPixelAspectRatio, ratio);
    *ratio = S().pixelAspect;
    return A_Err_NONE;
}
const AEGP_ItemSuite8 kItemSuite = {GetItemDimensions, GetItemPixelAspectRatio};

// ---- "AEGP Camera Suite" 2 ----
A_Err GetCameraType(AEGP_LayerH layer, AEGP_CameraType *type) {
    S().lastHandle = layer;
    FAKE_ENTER(AEGP_GetCameraType, type);
    *type = S().cameraType;
    return A_Err_NONE;
}
A_Err GetDefaultCameraDistanceToImagePlane(AEGP_CompH comp, A_FpLong *distance) {
    S().lastHandle = comp;
    S().cameraSuiteWhileMeasuring =
        headless::Host::current()->suites().outstanding("AEGP Camera Suite", 2);
    FAKE_ENTER(AEGP_GetDefaultCameraDistanceToImagePlane, distance);
    *distance = S().defaultCameraDistance;
    return A_Err_NONE;
}
const AEGP_CameraSuite2 kCameraSuite = {GetCameraType, GetDefaultCameraDistanceToImagePlane};

// ---- "AEGP Light Suite" 2 ----
A_Err GetLightType(AEGP_LayerH layer, AEGP_LightType *type) {
    S().lastHandle = layer;
    FAKE_ENTER(AEGP_GetLightType, type);
    *type = S().lightType;
    return A_Err_NONE;
}
const AEGP_LightSuite2 kLightSuite = {GetLightType};

// ---- "AEGP PF Interface Suite" 1 ----
A_Err GetEffectLayer(PF_ProgPtr ref, AEGP_LayerH *layer) {
    S().lastEffectRef = ref;
    FAKE_ENTER(AEGP_GetEffectLayer, layer);
    *layer = S().effectLayer;
    return A_Err_NONE;
}
A_Err GetNewEffectForEffect(AEGP_PluginID id, PF_ProgPtr ref, AEGP_EffectRefH *effect) {
    S().lastEffectRef = ref;
    S().lastPluginId = id;
    FAKE_ENTER(AEGP_GetNewEffectForEffect, effect);
    *effect = S().newEffect;
    return A_Err_NONE;
}
A_Err ConvertEffectToCompTime(PF_ProgPtr ref, A_long time, A_u_long scale, A_Time *out) {
    S().lastEffectRef = ref;
    S().lastTimeValue = time;
    S().lastTimeScale = scale;
    FAKE_ENTER(AEGP_ConvertEffectToCompTime, out);
    *out = S().compTime;
    return A_Err_NONE;
}
A_Err GetEffectCamera(PF_ProgPtr ref, const A_Time *t, AEGP_LayerH *camera) {
    S().lastEffectRef = ref;
    S().lastCompTime = *t;
    FAKE_ENTER(AEGP_GetEffectCamera, camera);
    *camera = S().cameraLayer;
    return A_Err_NONE;
}
const AEGP_PFInterfaceSuite1 kInterfaceSuite = {GetEffectLayer, GetNewEffectForEffect,
                                                ConvertEffectToCompTime, GetEffectCamera};

// ---- "AEGP Dynamic Stream Suite" 5 ----
A_Err SetDynamicStreamFlag(AEGP_StreamRefH stream, AEGP_DynStreamFlags flag, A_Boolean undoable,
                           A_Boolean set) {
    S().lastHandle = stream;
    S().lastFlag = flag;
    S().lastUndoable = undoable;
    S().lastSet = set;
    FAKE_ENTER_NO_OUTPUT(AEGP_SetDynamicStreamFlag);
    return A_Err_NONE;
}
A_Err GetDynamicStreamFlags(AEGP_StreamRefH, AEGP_DynStreamFlags *flags) {
    FAKE_ENTER(AEGP_GetDynamicStreamFlags, flags);
    *flags = 0;
    return A_Err_NONE;
}
const AEGP_DynamicStreamSuite4 kDynamicStreamSuite = {SetDynamicStreamFlag, GetDynamicStreamFlags};

// ---- "AEGP Memory Suite" 1 ----
A_Err NewMemHandle(AEGP_PluginID, const A_char *, AEGP_MemSize, AEGP_MemFlag, AEGP_MemHandle *) {
    FAKE_ENTER_NO_OUTPUT(AEGP_NewMemHandle);
    return A_Err_ALLOC; // the wrappers never make memory of their own
}
A_Err FreeMemHandle(AEGP_MemHandle h) {
    FAKE_ENTER_NO_OUTPUT(AEGP_FreeMemHandle);
    auto it = S().memory.find(h);
    if (it == S().memory.end()) return A_Err_PARAMETER;
    if (it->second.locks != 0) ++S().freedWhileLocked;
    S().memory.erase(it);
    ++S().memoryFreed;
    return A_Err_NONE;
}
A_Err LockMemHandle(AEGP_MemHandle h, void **p) {
    FAKE_ENTER(AEGP_LockMemHandle, p);
    auto it = S().memory.find(h);
    if (it == S().memory.end()) return A_Err_PARAMETER;
    ++it->second.locks;
    *p = it->second.text.data();
    return A_Err_NONE;
}
A_Err UnlockMemHandle(AEGP_MemHandle h) {
    FAKE_ENTER_NO_OUTPUT(AEGP_UnlockMemHandle);
    auto it = S().memory.find(h);
    if (it == S().memory.end() || it->second.locks == 0) return A_Err_PARAMETER;
    --it->second.locks;
    return A_Err_NONE;
}
A_Err GetMemHandleSize(AEGP_MemHandle h, AEGP_MemSize *size) {
    FAKE_ENTER(AEGP_GetMemHandleSize, size);
    auto it = S().memory.find(h);
    if (it == S().memory.end()) return A_Err_PARAMETER;
    *size = it->second.text.size() * sizeof(A_UTF16Char);
    return A_Err_NONE;
}
const AEGP_MemorySuite1 kMemorySuite = {NewMemHandle, FreeMemHandle, LockMemHandle,
                                        UnlockMemHandle, GetMemHandleSize};

// Suites the wrappers hold members for but never call through.
const AEGP_MaskSuite4 kMaskSuite = {nullptr};
const AEGP_KeyframeSuite4 kKeyframeSuite = {nullptr};
const PF_PathQuerySuite1 kPathQuerySuite = {nullptr};

} // namespace

void FakeAegp::install(headless::SuiteRegistry &registry) {
    registry.add("AEGP Comp Suite", 11, &kCompSuite);
    registry.add("AEGP Layer Suite", 12, &kLayerSuite);
    registry.add("AEGP Layer Suite", 11, &kOldLayerSuite);
    registry.add("AEGP Stream Suite", 9, &kStreamSuite);
    registry.add("AEGP Effect Suite", 3, &kEffectSuite);
    registry.add("AEGP Item Suite", 13, &kItemSuite);
    registry.add("AEGP Camera Suite", 2, &kCameraSuite);
    registry.add("AEGP Light Suite", 2, &kLightSuite);
    registry.add("AEGP PF Interface Suite", 1, &kInterfaceSuite);
    registry.add("PF Path Query Suite", 1, &kPathQuerySuite);
    registry.add("AEGP Layer Mask Suite", 5, &kMaskSuite);
    registry.add("AEGP Dynamic Stream Suite", 5, &kDynamicStreamSuite);
    registry.add("AEGP Keyframe Suite", 4, &kKeyframeSuite);
    registry.add("AEGP Memory Suite", 1, &kMemorySuite);
}

} // namespace aeo_test
