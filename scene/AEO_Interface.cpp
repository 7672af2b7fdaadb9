#include "scene/AEO_Interface.h"

#include "host/aeLibInit.h"

namespace AEO {

namespace {

PF_ProgPtr CurrentEffectRef() {
    const aeLibInit *context = aeLibInit::_current;
    const PF_InData *in_data = context ? context->getInData() : nullptr;
    return in_data ? in_data->effect_ref : nullptr;
}

// The command's shared cache, used when this wrapper could not acquire the
// suite itself. The cache reports a missing suite by throwing its error.
const AEGP_PFInterfaceSuite1 *CachedInterfaceSuite(PF_Err *err) {
    const aeLibInit *context = aeLibInit::_current;
    AEGP_SuiteHandler *cache = context ? context->getSuiteHandler() : nullptr;
    if (!cache) {
        *err = PF_Err_BAD_CALLBACK_PARAM;
        return nullptr;
    }
    try {
        return cache->PFInterfaceSuite1();
    } catch (PF_Err thrown) {
        *err = thrown;
        return nullptr;
    }
}

} // namespace

Interface::Interface() : Interface(CurrentEffectRef()) {}

Interface::Interface(PF_ProgPtr effectRef) : effect_ref_(effectRef) { requireHandle(effectRef); }

template <class Fn, class... Args>
bool Interface::callInterface(Fn AEGP_PFInterfaceSuite1::*fn, Args... args) {
    if (err() != PF_Err_NONE) return false;
    const AEGP_PFInterfaceSuite1 *table = interface_suite_.suite();
    PF_Err unavailable = interface_suite_.err();
    if (!table) table = CachedInterfaceSuite(&unavailable);
    return invoke(table, unavailable, fn, args...);
}

AEGP_LayerH Interface::GetEffectLayer() {
    AEGP_LayerH layer = nullptr;
    if (!callInterface(&AEGP_PFInterfaceSuite1::AEGP_GetEffectLayer, effect_ref_, &layer))
        return nullptr;
    return layer;
}

A_Time Interface::ConvertEffectToCompTime(A_long time, A_u_long timeScale) {
    A_Time compTime = {0, 1};
    if (!callInterface(&AEGP_PFInterfaceSuite1::AEGP_ConvertEffectToCompTime, effect_ref_, time,
                       timeScale, &compTime))
        return A_Time{0, 1};
    return compTime;
}

AEGP_LayerH Interface::GetEffectCamera(const A_Time &compTime) {
    AEGP_LayerH camera = nullptr;
    if (!callInterface(&AEGP_PFInterfaceSuite1::AEGP_GetEffectCamera, effect_ref_, &compTime,
                       &camera))
        return nullptr;
    return camera;
}

AEGP_EffectRefH Interface::GetNewEffectForEffect() {
    AEGP_EffectRefH effect = nullptr;
    if (!callInterface(&AEGP_PFInterfaceSuite1::AEGP_GetNewEffectForEffect, g_PluginID,
                       effect_ref_, &effect))
        return nullptr;
    return effect;
}

} // namespace AEO
