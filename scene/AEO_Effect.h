// An AEGP reference to an effect instance, owned by this wrapper and disposed
// of when it dies (whatever errors happened before).
//
// Thread safety: see AEO_ObjectBase.h.
#pragma once

#include "scene/AEO_ObjectBase.h"

namespace AEO {

class Effect : public ObjectBase {
public:
    // Takes ownership of `effect`.
    explicit Effect(AEGP_EffectRefH effect);
    ~Effect() override;

    // A new stream of the effect's parameter at `index` (host parameter array
    // position), for the caller's AEO::Stream to own; null after an error.
    AEGP_StreamRefH GetNewStreamByIndex(PF_ParamIndex index);

    AEGP_EffectRefH handle() const { return effect_; }

private:
    AEGP_EffectRefH effect_;
    Suite<AEGP_EffectSuite3> effect_suite_;
    Suite<AEGP_StreamSuite4> stream_suite_;
};

} // namespace AEO
