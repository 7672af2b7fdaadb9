// The command context: one per entry-point call, on the entry point's stack.
// It makes the command's PF_InData, a suite cache and the effect's plug-in id
// reachable from anywhere in the effect while the command runs; host-backed
// memory (aeMemory.h) works only while a context with a data block is open.
//
// Contexts form a doubly linked list whose innermost member is
// aeLibInit::_current. A nested call of the entry point pushes a new context;
// any context may be closed whatever its position, and closing relinks its
// neighbours.
//
// Thread safety: none. The context list and g_PluginID are process-wide and
// used only by the thread inside the entry point; the host sends commands one
// at a time. Render threads never touch them.
#pragma once

#include "host/AEGP_SuiteHandler.h"
#include "host/SDK.h"

// The context's data block. It lives in a locked host memory handle so that
// it can dispose of itself through `handle`.
struct aeLibData {
    aeLibData(PF_Handle owner, PF_InData *in_data, AEGP_PluginID id)
        : handle(owner), inData(in_data), suites(in_data->pica_basicP), pluginID(id) {}

    PF_Handle handle;          // the host handle the block lives in
    PF_InData *inData;
    AEGP_SuiteHandler suites;  // bound to in_data->pica_basicP
    AEGP_PluginID pluginID;
};

// The effect's AEGP plug-in id as of the newest context; 0 before global
// set-up has registered the effect.
extern AEGP_PluginID g_PluginID;

class aeLibInit {
public:
    // Opens the context: sets g_PluginID, obtains the data block when
    // `in_data` is given (no block when the host memory cannot be had) and
    // becomes _current. Throws PF_Err_BAD_CALLBACK_PARAM, with nothing held
    // and the list unchanged, when `in_data` carries no basic suite.
    aeLibInit(PF_Cmd cmd, AEGP_PluginID pluginID, PF_InData *in_data);
    // Closes the context: unlinks it, releases the suites its cache acquired
    // and returns the data block to the host.
    ~aeLibInit();
    aeLibInit(const aeLibInit &) = delete;
    aeLibInit &operator=(const aeLibInit &) = delete;

    // The command's PF_InData; null without a data block.
    PF_InData *getInData() const;
    // The context's suite cache; null without a data block.
    AEGP_SuiteHandler *getSuiteHandler() const;
    aeLibData *data() const { return data_; }
    PF_Cmd command() const { return cmd_; }

    // The innermost open context; null between commands.
    static aeLibInit *_current;

private:
    static aeLibData *makeData(PF_InData *in_data, AEGP_PluginID pluginID);

    PF_Cmd cmd_;
    aeLibInit *prev_ = nullptr;
    aeLibInit *next_ = nullptr;
    aeLibData *data_ = nullptr;
};
