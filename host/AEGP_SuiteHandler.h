// Suite cache: acquires each host suite on first use and releases every
// acquired suite when destroyed (or on ReleaseAllSuites).
//
// Thread safety: one cache belongs to one command on the thread that handles
// it, with one exception: the sampling-suite slots of the render record's
// cache may be filled from several render threads at once. Those slots are
// atomic and filled under a lock, so a race yields one acquisition.
#pragma once

#include "host/SDK.h"

#include <atomic>
#include <mutex>

class AEGP_SuiteHandler {
public:
    // A null basic suite is a missing-suite error (throws PF_Err_BAD_CALLBACK_PARAM).
    explicit AEGP_SuiteHandler(const SPBasicSuite *basic);
    ~AEGP_SuiteHandler();
    AEGP_SuiteHandler(const AEGP_SuiteHandler &) = delete;
    AEGP_SuiteHandler &operator=(const AEGP_SuiteHandler &) = delete;

    // Acquires a suite; throws PF_Err_BAD_CALLBACK_PARAM when the host lacks it.
    const void *LoadSuite(const char *name, A_long version) const;
    void ReleaseSuite(const char *name, A_long version) const;
    void ReleaseAllSuites();
    [[noreturn]] static void MissingSuiteError();

    const SPBasicSuite *BasicSuite() const { return basic_; }

    // One accessor per suite the effect uses, named after the suite.
    const AEGP_UtilitySuite6 *UtilitySuite6();
    const AEGP_WorldSuite3 *WorldSuite3();
    const AEGP_CompSuite5 *CompSuite5();
    const AEGP_LayerSuite6 *LayerSuite6();
    const AEGP_StreamSuite4 *StreamSuite4();
    const AEGP_EffectSuite3 *EffectSuite3();
    const AEGP_ItemSuite8 *ItemSuite8();
    const AEGP_CameraSuite2 *CameraSuite2();
    const AEGP_LightSuite2 *LightSuite2();
    const AEGP_PFInterfaceSuite1 *PFInterfaceSuite1();
    const AEGP_DynamicStreamSuite4 *DynamicStreamSuite4();
    const AEGP_KeyframeSuite4 *KeyframeSuite4();
    const AEGP_MaskSuite4 *MaskSuite4();
    const AEGP_MemorySuite1 *MemorySuite1();
    const PF_WorldSuite2 *WorldSuite2();
    const PF_ParamUtilsSuite2 *ParamUtilsSuite2();
    const PF_PathQuerySuite1 *PathQuerySuite1();
    // Safe to call from several render threads at once.
    const PF_SamplingFloatSuite1 *SamplingFloatSuite1();
    const PF_Sampling16Suite1 *Sampling16Suite1();
    const PF_Sampling8Suite1 *Sampling8Suite1();

private:
    struct Slot;
    const void *slot(int index);

    const SPBasicSuite *basic_;
    std::atomic<const void *> slots_[20] = {};
    std::mutex fill_;
};
