#include "host/AEGP_SuiteHandler.h"

struct AEGP_SuiteHandler::Slot {
    const char *name;
    A_long version;
};

namespace {
// Slot positions; the order matches AEGP_SuiteHandler::kSlots.
enum SlotIndex {
    kUtility6,
    kAEGPWorld3,
    kComp5,
    kLayer6,
    kStream4,
    kEffect3,
    kItem8,
    kCamera2,
    kLight2,
    kPFInterface1,
    kDynamicStream4,
    kKeyframe4,
    kMask4,
    kMemory1,
    kPFWorld2,
    kParamUtils2,
    kPathQuery1,
    kSamplingFloat1,
    kSampling16_1,
    kSampling8_1,
    kSlotTotal
};
static_assert(kSlotTotal == AEGP_SuiteHandler::kSlotCount);
} // namespace

// The names and versions under which the host registers each suite.
const AEGP_SuiteHandler::Slot AEGP_SuiteHandler::kSlots[kSlotCount] = {
    {"AEGP Utility Suite", 11},
    {"AEGP World Suite", 3},
    {"AEGP Comp Suite", 11},
    {"AEGP Layer Suite", 12},
    {"AEGP Stream Suite", 9},
    {"AEGP Effect Suite", 3},
    {"AEGP Item Suite", 13},
    {"AEGP Camera Suite", 2},
    {"AEGP Light Suite", 2},
    {"AEGP PF Interface Suite", 1},
    {"AEGP Dynamic Stream Suite", 5},
    {"AEGP Keyframe Suite", 4},
    {"AEGP Layer Mask Suite", 5},
    {"AEGP Memory Suite", 1},
    {"PF World Suite", 2},
    {"PF Param Utils Suite", 2},
    {"PF Path Query Suite", 1},
    {"PF SamplingFloat Suite", 1},
    {"PF Sampling16 Suite", 1},
    {"PF Sampling8 Suite", 1},
};

AEGP_SuiteHandler::AEGP_SuiteHandler(const SPBasicSuite *basic) : basic_(basic) {
    if (!basic_) MissingSuiteError();
}

AEGP_SuiteHandler::~AEGP_SuiteHandler() { ReleaseAllSuites(); }

const void *AEGP_SuiteHandler::LoadSuite(const char *name, A_long version) const {
    const void *suite = nullptr;
    if (!basic_->AcquireSuite || basic_->AcquireSuite(name, version, &suite) != kSPNoError ||
        !suite)
        MissingSuiteError();
    return suite;
}

void AEGP_SuiteHandler::ReleaseSuite(const char *name, A_long version) const {
    if (basic_->ReleaseSuite) basic_->ReleaseSuite(name, version);
}

void AEGP_SuiteHandler::ReleaseAllSuites() {
    // Runs on the owning thread only, after the render threads are done, so
    // the slots need no lock here.
    for (int i = 0; i < kSlotCount; ++i) {
        if (slots_[i].exchange(nullptr, std::memory_order_acq_rel))
            ReleaseSuite(kSlots[i].name, kSlots[i].version);
    }
}

void AEGP_SuiteHandler::MissingSuiteError() { throw PF_Err(PF_Err_BAD_CALLBACK_PARAM); }

const void *AEGP_SuiteHandler::fillSlot(int index) {
    std::lock_guard<std::mutex> lock(fill_);
    const void *suite = slots_[index].load(std::memory_order_relaxed);
    if (!suite) {
        suite = LoadSuite(kSlots[index].name, kSlots[index].version); // may throw; the lock unwinds
        slots_[index].store(suite, std::memory_order_release);
    }
    return suite;
}

// clang-format off
const AEGP_UtilitySuite6 *AEGP_SuiteHandler::UtilitySuite6() { return static_cast<const AEGP_UtilitySuite6 *>(slot(kUtility6)); }
const AEGP_WorldSuite3 *AEGP_SuiteHandler::WorldSuite3() { return static_cast<const AEGP_WorldSuite3 *>(slot(kAEGPWorld3)); }
const AEGP_CompSuite5 *AEGP_SuiteHandler::CompSuite5() { return static_cast<const AEGP_CompSuite5 *>(slot(kComp5)); }
const AEGP_LayerSuite6 *AEGP_SuiteHandler::LayerSuite6() { return static_cast<const AEGP_LayerSuite6 *>(slot(kLayer6)); }
const AEGP_StreamSuite4 *AEGP_SuiteHandler::StreamSuite4() { return static_cast<const AEGP_StreamSuite4 *>(slot(kStream4)); }
const AEGP_EffectSuite3 *AEGP_SuiteHandler::EffectSuite3() { return static_cast<const AEGP_EffectSuite3 *>(slot(kEffect3)); }
const AEGP_ItemSuite8 *AEGP_SuiteHandler::ItemSuite8() { return static_cast<const AEGP_ItemSuite8 *>(slot(kItem8)); }
const AEGP_CameraSuite2 *AEGP_SuiteHandler::CameraSuite2() { return static_cast<const AEGP_CameraSuite2 *>(slot(kCamera2)); }
const AEGP_LightSuite2 *AEGP_SuiteHandler::LightSuite2() { return static_cast<const AEGP_LightSuite2 *>(slot(kLight2)); }
const AEGP_PFInterfaceSuite1 *AEGP_SuiteHandler::PFInterfaceSuite1() { return static_cast<const AEGP_PFInterfaceSuite1 *>(slot(kPFInterface1)); }
const AEGP_DynamicStreamSuite4 *AEGP_SuiteHandler::DynamicStreamSuite4() { return static_cast<const AEGP_DynamicStreamSuite4 *>(slot(kDynamicStream4)); }
const AEGP_KeyframeSuite4 *AEGP_SuiteHandler::KeyframeSuite4() { return static_cast<const AEGP_KeyframeSuite4 *>(slot(kKeyframe4)); }
const AEGP_MaskSuite4 *AEGP_SuiteHandler::MaskSuite4() { return static_cast<const AEGP_MaskSuite4 *>(slot(kMask4)); }
const AEGP_MemorySuite1 *AEGP_SuiteHandler::MemorySuite1() { return static_cast<const AEGP_MemorySuite1 *>(slot(kMemory1)); }
const PF_WorldSuite2 *AEGP_SuiteHandler::WorldSuite2() { return static_cast<const PF_WorldSuite2 *>(slot(kPFWorld2)); }
const PF_ParamUtilsSuite2 *AEGP_SuiteHandler::ParamUtilsSuite2() { return static_cast<const PF_ParamUtilsSuite2 *>(slot(kParamUtils2)); }
const PF_PathQuerySuite1 *AEGP_SuiteHandler::PathQuerySuite1() { return static_cast<const PF_PathQuerySuite1 *>(slot(kPathQuery1)); }
const PF_SamplingFloatSuite1 *AEGP_SuiteHandler::SamplingFloatSuite1() { return static_cast<const PF_SamplingFloatSuite1 *>(slot(kSamplingFloat1)); }
const PF_Sampling16Suite1 *AEGP_SuiteHandler::Sampling16Suite1() { return static_cast<const PF_Sampling16Suite1 *>(slot(kSampling16_1)); }
const PF_Sampling8Suite1 *AEGP_SuiteHandler::Sampling8Suite1() { return static_cast<const PF_Sampling8Suite1 *>(slot(kSampling8_1)); }
// clang-format on
