#include "scene/AEO_Effect.h"

#include "host/aeLibInit.h"

namespace AEO {

Effect::Effect(AEGP_EffectRefH effect) : effect_(effect) { requireHandle(effect); }

Effect::~Effect() {
    if (!effect_) return;
    // The reference is ours even after a failed call.
    release(effect_suite_, &AEGP_EffectSuite3::AEGP_DisposeEffect, effect_);
}

AEGP_StreamRefH Effect::GetNewStreamByIndex(PF_ParamIndex index) {
    AEGP_StreamRefH stream = nullptr;
    if (!call(stream_suite_, &AEGP_StreamSuite4::AEGP_GetNewEffectStreamByIndex, g_PluginID,
              effect_, index, &stream))
        return nullptr;
    return stream;
}

} // namespace AEO
