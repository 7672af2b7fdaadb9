#include "host/aeLibInit.h"

#include <cstdint>
#include <new>

AEGP_PluginID g_PluginID = 0;
aeLibInit *aeLibInit::_current = nullptr;

namespace {
// Hands a block's handle back to the host: unlocked first, so that the host
// sees every lock of ours balanced, then disposed.
void returnHandle(const PF_UtilCallbacks *utils, PF_Handle handle) {
    if (utils->host_unlock_handle) utils->host_unlock_handle(handle);
    if (utils->host_dispose_handle) utils->host_dispose_handle(handle);
}
} // namespace

aeLibData *aeLibInit::makeData(PF_InData *in_data, AEGP_PluginID pluginID) {
    const PF_UtilCallbacks *utils = in_data->utils;
    if (!utils || !utils->host_new_handle || !utils->host_lock_handle) return nullptr;

    PF_Handle handle = utils->host_new_handle(sizeof(aeLibData));
    if (!handle) return nullptr;
    // Without a usable block the command runs with a blockless context; the
    // handle itself goes back at once.
    void *block = utils->host_lock_handle(handle);
    if (!block) {
        if (utils->host_dispose_handle) utils->host_dispose_handle(handle);
        return nullptr;
    }
    if (reinterpret_cast<std::uintptr_t>(block) % alignof(aeLibData) != 0) {
        returnHandle(utils, handle);
        return nullptr;
    }
    try {
        return new (block) aeLibData(handle, in_data, pluginID);
    } catch (...) {
        // The suite cache refuses a missing basic suite: give the handle
        // back before the error leaves, so nothing stays locked.
        returnHandle(utils, handle);
        throw;
    }
}

aeLibInit::aeLibInit(PF_Cmd cmd, AEGP_PluginID pluginID, PF_InData *in_data) : cmd_(cmd) {
    g_PluginID = pluginID;
    if (in_data) data_ = makeData(in_data, pluginID);

    prev_ = _current;
    if (prev_) prev_->next_ = this;
    _current = this;
}

aeLibInit::~aeLibInit() {
    if (next_)
        next_->prev_ = prev_;
    else
        _current = prev_;
    if (prev_) prev_->next_ = next_;

    if (data_) {
        const PF_UtilCallbacks *utils = data_->inData->utils;
        PF_Handle handle = data_->handle;
        data_->~aeLibData(); // releases every suite the cache acquired
        returnHandle(utils, handle);
    }
}

PF_InData *aeLibInit::getInData() const { return data_ ? data_->inData : nullptr; }

AEGP_SuiteHandler *aeLibInit::getSuiteHandler() const { return data_ ? &data_->suites : nullptr; }
