// The command context: one per entry-point call, on the entry point's stack.
// It makes the command's PF_InData, a suite cache and the effect's plug-in id
// reachable from anywhere in the effect while the command runs.
//
// Thread safety: none. The context list is process-wide and used only by the
// thread inside the entry point; commands arrive one at a time.
#pragma once

#include "host/AEGP_SuiteHandler.h"
#include "host/SDK.h"

struct aeLibData {
    PF_Handle handle;          // the host handle the block lives in
    PF_InData *inData;
    AEGP_SuiteHandler suites;  // bound to in_data->pica_basicP
    AEGP_PluginID pluginID;
};

extern AEGP_PluginID g_PluginID;

class aeLibInit {
public:
    aeLibInit(PF_Cmd cmd, AEGP_PluginID pluginID, PF_InData *in_data);
    ~aeLibInit();
    aeLibInit(const aeLibInit &) = delete;
    aeLibInit &operator=(const aeLibInit &) = delete;

    PF_InData *getInData() const;
    AEGP_SuiteHandler *getSuiteHandler() const;
    aeLibData *data() const { return data_; }

    static aeLibInit *_current;

private:
    aeLibInit *prev_ = nullptr;
    aeLibInit *next_ = nullptr;
    aeLibData *data_ = nullptr;
};
