#include "scene/AEO_Stream.h"

#include "host/aeLibInit.h"

namespace AEO {

Stream::Stream(AEGP_StreamRefH stream) : stream_(stream) { requireHandle(stream); }

Stream::~Stream() {
    if (!stream_) return;
    // The reference is ours even after a failed call.
    release(stream_suite_, &AEGP_StreamSuite4::AEGP_DisposeStream, stream_);
}

void Stream::SetExpression(const A_char *expression) {
    if (!expression) {
        recordErr(PF_Err_BAD_CALLBACK_PARAM);
        return;
    }
    call(stream_suite_, &AEGP_StreamSuite4::AEGP_SetExpression, g_PluginID, stream_, expression);
}

void Stream::SetDynamicsStreamFlag(AEGP_DynStreamFlags flag, A_Boolean undoable, A_Boolean set) {
    call(dynamic_stream_suite_, &AEGP_DynamicStreamSuite4::AEGP_SetDynamicStreamFlag, stream_, flag,
         undoable, set);
}

} // namespace AEO
