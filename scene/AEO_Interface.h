// The effect's own view of the host for the command that is running: its
// layer, its camera, the conversion of its time to composition time, and an
// AEGP reference to the effect instance itself.
//
// The PF interface suite comes from this wrapper's own acquisition; when that
// fails, from the suite cache of the current command (host/AEGP_SuiteHandler.h).
// If neither has it, the cache's missing-suite error is recorded here like any
// other error: the wrapper never throws.
//
// Defaults once an error is recorded: null handles and time 0/1.
//
// Thread safety: see AEO_ObjectBase.h.
#pragma once

#include "scene/AEO_ObjectBase.h"

namespace AEO {

class Interface : public ObjectBase {
public:
    // On the effect reference of the command that is running (an error is
    // recorded when no command context with in-data is open).
    Interface();
    explicit Interface(PF_ProgPtr effectRef);

    // The layer the effect is applied to.
    AEGP_LayerH GetEffectLayer();
    // Converts an effect time (value in units of timeScale) to composition time.
    A_Time ConvertEffectToCompTime(A_long time, A_u_long timeScale);
    // The camera layer the effect sees at a composition time, or null when none.
    AEGP_LayerH GetEffectCamera(const A_Time &compTime);
    // A new AEGP reference to this effect instance, for the caller's AEO::Effect
    // to own and dispose of.
    AEGP_EffectRefH GetNewEffectForEffect();

    PF_ProgPtr handle() const { return effect_ref_; }

private:
    template <class Fn, class... Args> bool callInterface(Fn AEGP_PFInterfaceSuite1::*fn, Args... args);

    PF_ProgPtr effect_ref_;
    Suite<AEGP_PFInterfaceSuite1> interface_suite_;
    Suite<PF_PathQuerySuite1> path_query_suite_;
};

} // namespace AEO
