// The effect's global data: one object for the effect's whole life in the
// host, made at global set-up and destroyed at global set-down. It holds the
// AEGP plug-in id the effect obtains by registering with the host's AEGP
// layer; every later command reads it back through the handle the host keeps.
//
// Thread safety: created, read and destroyed only on the thread inside the
// entry point.
#pragma once

#include "host/SDK.h"
#include "host/aeMemory.h"

// What global set-up announces to the host. These must equal the plug-in's
// resource description.
constexpr A_u_long kVeltrixVersion = 524289; // 0x00080001: version 1.0.0, develop stage, build 1
constexpr PF_OutFlags kVeltrixOutFlags = PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_KEEP_RESOURCE_OPEN;
constexpr PF_OutFlags2 kVeltrixOutFlags2 = PF_OutFlag2_FLOAT_COLOR_AWARE |
                                           PF_OutFlag2_SUPPORTS_SMART_RENDER |
                                           PF_OutFlag2_I_USE_3D_LIGHTS | PF_OutFlag2_I_USE_3D_CAMERA;
static_assert(kVeltrixOutFlags2 == 0x00001406);

// Made on host memory (aeBase): `new` yields null when the host has none, and
// `delete` returns the block, and with it the handle the host held.
class GlobalData : public aeBase {
public:
    // Registers the effect with the host's AEGP layer under "Veltrix". Throws
    // PF_Err_BAD_CALLBACK_PARAM when the host lacks "AEGP Utility Suite" 11; a
    // refused registration leaves the id at 0.
    explicit GlobalData(const PF_InData *in_data);
    ~GlobalData() override = default;

    // The object held by a global-data handle (the handle's master pointer is
    // the block start; the object follows the block's 8-byte header); null
    // when the handle or its master pointer is null.
    static GlobalData *fromHandle(PF_Handle handle);

    AEGP_PluginID pluginID = 0;
};
