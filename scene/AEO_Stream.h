// A stream reference (here: of one of the effect's own parameters), owned by
// this wrapper and disposed of when it dies (whatever errors happened before).
//
// Thread safety: see AEO_ObjectBase.h.
#pragma once

#include "scene/AEO_ObjectBase.h"

namespace AEO {

class Stream : public ObjectBase {
public:
    // Takes ownership of `stream`.
    explicit Stream(AEGP_StreamRefH stream);
    ~Stream() override;

    // Sets the stream's expression; the empty text removes it. A null text
    // records an error and makes no call.
    void SetExpression(const A_char *expression);
    // Switches one dynamic flag of the stream on or off.
    void SetDynamicsStreamFlag(AEGP_DynStreamFlags flag, A_Boolean undoable, A_Boolean set);

    AEGP_StreamRefH handle() const { return stream_; }

private:
    AEGP_StreamRefH stream_;
    Suite<AEGP_StreamSuite4> stream_suite_;
    Suite<AEGP_KeyframeSuite4> keyframe_suite_;
    Suite<AEGP_DynamicStreamSuite4> dynamic_stream_suite_;
};

} // namespace AEO
