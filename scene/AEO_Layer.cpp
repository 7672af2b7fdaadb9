#include "scene/AEO_Layer.h"

#include "host/aeLibInit.h"
#include "scene/AEO_Memory.h"

#include <cstring>
#include <exception>

namespace AEO {

namespace {

A_Matrix4 Identity() {
    A_Matrix4 m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m.mat[r][c] = r == c ? 1.0 : 0.0;
    return m;
}

constexpr A_Time kNoTime = {0, 1};

} // namespace

Layer::Layer(AEGP_LayerH layer) : layer_(layer) { requireHandle(layer); }

AEGP_CompH Layer::GetParentComp() {
    AEGP_CompH comp = nullptr;
    if (!call(layer_suite_, &AEGP_LayerSuite6::AEGP_GetLayerParentComp, layer_, &comp))
        return nullptr;
    return comp;
}

AEGP_ItemH Layer::GetSourceItem() {
    AEGP_ItemH item = nullptr;
    if (!call(layer_suite_, &AEGP_LayerSuite6::AEGP_GetLayerSourceItem, layer_, &item))
        return nullptr;
    return item;
}

A_Matrix4 Layer::GetToWorldXform(const A_Time &compTime) {
    A_Matrix4 m = Identity();
    if (!call(layer_suite_, &AEGP_LayerSuite6::AEGP_GetLayerToWorldXform, layer_, &compTime, &m))
        return Identity(); // a failing host may have written part of it
    return m;
}

A_Time Layer::GetInPoint(AEGP_LTimeMode timeMode) {
    A_Time t = kNoTime;
    if (!call(layer_suite_, &AEGP_LayerSuite6::AEGP_GetLayerInPoint, layer_, timeMode, &t))
        return kNoTime;
    return t;
}

A_Time Layer::GetDuration(AEGP_LTimeMode timeMode) {
    A_Time t = kNoTime;
    if (!call(layer_suite_, &AEGP_LayerSuite6::AEGP_GetLayerDuration, layer_, timeMode, &t))
        return kNoTime;
    return t;
}

AEGP_ObjectType Layer::GetObjectType() {
    AEGP_ObjectType type = AEGP_ObjectType_NONE;
    if (!call(layer_suite_, &AEGP_LayerSuite6::AEGP_GetLayerObjectType, layer_, &type))
        return AEGP_ObjectType_NONE;
    return type;
}

AEGP_LayerFlags Layer::GetFlags() {
    AEGP_LayerFlags flags = AEGP_LayerFlag_NONE;
    if (!call(layer_suite_, &AEGP_LayerSuite6::AEGP_GetLayerFlags, layer_, &flags))
        return AEGP_LayerFlag_NONE;
    return flags;
}

AEGP_StreamVal2 Layer::GetStreamValue(AEGP_LayerStream stream, AEGP_LTimeMode timeMode,
                                      const A_Time &time, A_Boolean preExpression,
                                      AEGP_StreamType *streamType) {
    AEGP_StreamVal2 value;
    std::memset(&value, 0, sizeof value);
    AEGP_StreamType type = AEGP_StreamType_NO_DATA;
    if (!call(stream_suite_, &AEGP_StreamSuite4::AEGP_GetLayerStreamValue, layer_, stream,
              timeMode, &time, preExpression, &value, &type)) {
        std::memset(&value, 0, sizeof value);
        type = AEGP_StreamType_NO_DATA;
    }
    if (streamType) *streamType = type;
    return value;
}

double Layer::GetOneDStream(AEGP_LayerStream stream, const A_Time &time, AEGP_LTimeMode timeMode,
                            A_Boolean preExpression) {
    return GetStreamValue(stream, timeMode, time, preExpression).one_d;
}

bool Layer::GetCastsShadows(const A_Time &time, AEGP_LTimeMode timeMode, A_Boolean preExpression) {
    return GetOneDStream(AEGP_LayerStream_CASTS_SHADOWS, time, timeMode, preExpression) != 0.0;
}

void Layer::SetName(const A_UTF16Char *name) {
    if (!name) {
        recordErr(PF_Err_BAD_CALLBACK_PARAM);
        return;
    }
    call(layer_suite_, &AEGP_LayerSuite6::AEGP_SetLayerName, layer_, name);
}

aeUTF16String Layer::getLayerName() { return readName(false); }
aeUTF16String Layer::getSourceName() { return readName(true); }

aeUTF16String Layer::readName(bool sourceName) {
    if (err() != PF_Err_NONE) return aeUTF16String();
    AEGP_MemHandle layerText = nullptr, sourceText = nullptr;
    const bool named = call(layer_suite_, &AEGP_LayerSuite6::AEGP_GetLayerName, g_PluginID, layer_,
                            &layerText, &sourceText);
    // A failed call hands out nothing (whatever it left in the outputs); after
    // a successful one both handles are ours, and the wrappers free them.
    if (!named) return aeUTF16String();
    Memory layerMemory(layerText), sourceMemory(sourceText);

    Memory &text = sourceName ? sourceMemory : layerMemory;
    const AEGP_MemSize bytes = text.GetSize();
    const auto *chars = static_cast<const A_UTF16Char *>(text.Lock());
    if (text.err() != PF_Err_NONE || !chars) {
        recordErr(text.err() != PF_Err_NONE ? text.err() : PF_Err_BAD_CALLBACK_PARAM);
        return aeUTF16String();
    }
    // The text ends at its terminator or at the end of the block, whichever comes first.
    const AEGP_MemSize capacity = bytes / sizeof(A_UTF16Char);
    AEGP_MemSize length = 0;
    while (length < capacity && chars[length] != 0) ++length;
    // Without host memory for the copy, std::bad_alloc leaves: the effect's
    // own allocation failing is the command's out-of-memory, not a host
    // answer to absorb (an empty name would end up in the expression).
    return aeUTF16String(chars, static_cast<size_t>(length));
}

aeString Layer::getLayerNameLocalized() {
    if (err() != PF_Err_NONE) return aeString();
    Suite<AEGP_LayerSuite5> names; // released when this call returns
    A_char layerName[AEGP_MAX_LAYER_NAME_SIZE] = {};
    A_char sourceName[AEGP_MAX_LAYER_NAME_SIZE] = {};
    if (!call(names, &AEGP_LayerSuite5::AEGP_GetLayerName, layer_, layerName, sourceName))
        return aeString();
    layerName[AEGP_MAX_LAYER_NAME_SIZE - 1] = '\0';
    return aeString(layerName); // std::bad_alloc leaves, as above
}

} // namespace AEO
