// A layer of a composition: its place in the project, its timing, its
// transform, its names and the values of its streams.
//
// Defaults once an error is recorded (see AEO_ObjectBase.h): null handles,
// time 0/1, object type -1 (none), flags 0, the identity matrix, empty names,
// and for stream values a zero-filled value of type "no data", which reads as
// 0.0, off and transparent black.
//
// Thread safety: see AEO_ObjectBase.h.
#pragma once

#include "host/aeMemory.h"
#include "scene/AEO_ObjectBase.h"

namespace AEO {

class Layer : public ObjectBase {
public:
    // The handle stays the host's.
    explicit Layer(AEGP_LayerH layer);

    AEGP_CompH GetParentComp();
    // The layer's source item, or null (a camera or light has none).
    AEGP_ItemH GetSourceItem();
    // Layer-to-world transform at a composition time; identity after an error.
    A_Matrix4 GetToWorldXform(const A_Time &compTime);
    A_Time GetInPoint(AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime);
    A_Time GetDuration(AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime);
    AEGP_ObjectType GetObjectType();
    AEGP_LayerFlags GetFlags();

    // The one routine every stream getter reads through. The time mode and
    // pre-expression switch go to the host unchanged. After an error the value
    // is zero-filled and *streamType (when given) is AEGP_StreamType_NO_DATA.
    AEGP_StreamVal2 GetStreamValue(AEGP_LayerStream stream, AEGP_LTimeMode timeMode,
                                   const A_Time &time, A_Boolean preExpression,
                                   AEGP_StreamType *streamType = nullptr);

    // Whether the layer casts shadows (any non-zero setting); false after an error.
    bool GetCastsShadows(const A_Time &time, AEGP_LTimeMode timeMode = AEGP_LTimeMode_CompTime,
                         A_Boolean preExpression = false);

    // Renames the layer; a null name records an error and makes no call.
    void SetName(const A_UTF16Char *name);
    void SetName(const aeUTF16String &name) { SetName(name.c_str()); }

    // The names copy the host's text into host memory; when there is none for
    // the copy they throw std::bad_alloc (the effect's own allocation, not a
    // host call, failed), which the entry point reports as out of memory.
    //
    // The layer's own name in UTF-16; empty when the layer shows its source's name.
    aeUTF16String getLayerName();
    // The name of the layer's source in UTF-16.
    aeUTF16String getSourceName();
    // The name shown for the layer, as 8-bit text from the host's older name
    // call (at most 31 characters). That suite is acquired for this call only.
    aeString getLayerNameLocalized();

    AEGP_LayerH handle() const { return layer_; }

protected:
    // A one-dimensional stream value; 0.0 after an error.
    double GetOneDStream(AEGP_LayerStream stream, const A_Time &time, AEGP_LTimeMode timeMode,
                         A_Boolean preExpression);

    AEGP_LayerH layer_;
    Suite<AEGP_LayerSuite6> layer_suite_;
    Suite<AEGP_EffectSuite3> effect_suite_;
    Suite<AEGP_StreamSuite4> stream_suite_;
    Suite<AEGP_MaskSuite4> mask_suite_;

private:
    aeUTF16String readName(bool sourceName);
};

} // namespace AEO
