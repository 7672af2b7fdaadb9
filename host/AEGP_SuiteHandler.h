// Suite cache: acquires each host suite on first use and releases every
// acquired suite when destroyed (or on ReleaseAllSuites).
//
// A cache lives in one of three places: the command context's data block
// (released when the command ends), the stack of a handler (released when the
// handler leaves) or the render record (released with the record at the end
// of the frame). Suites are never kept from one command to the next.
//
// Thread safety: a cache belongs to one command on the thread that handles
// it, with one exception: the render record's cache is shared by the pixel
// callbacks, which fill the sampling-suite slots on first use from several
// render threads at once. Every slot is therefore an atomic pointer, read
// lock-free once filled; the first fill happens under a mutex with a second
// look at the slot, so racing threads acquire a suite from the host exactly
// once and all see the same pointer. Construction, ReleaseAllSuites and
// destruction must not overlap with any accessor call.
#pragma once

#include "host/SDK.h"

#include <atomic>
#include <mutex>

class AEGP_SuiteHandler {
public:
    // A null basic suite is a missing-suite error (throws PF_Err_BAD_CALLBACK_PARAM).
    explicit AEGP_SuiteHandler(const SPBasicSuite *basic);
    // Releases every suite still held.
    ~AEGP_SuiteHandler();
    AEGP_SuiteHandler(const AEGP_SuiteHandler &) = delete;
    AEGP_SuiteHandler &operator=(const AEGP_SuiteHandler &) = delete;

    // Acquires a suite from the host, uncached: the caller releases it with
    // ReleaseSuite. Throws PF_Err_BAD_CALLBACK_PARAM when the host reports an
    // error or hands back no suite.
    const void *LoadSuite(const char *name, A_long version) const;
    void ReleaseSuite(const char *name, A_long version) const;
    // Releases every cached suite (each under its own name and version) and
    // empties the slots; a later accessor call acquires afresh.
    void ReleaseAllSuites();
    // Throws the integer PF_Err_BAD_CALLBACK_PARAM; the entry point turns it
    // into the command's result.
    [[noreturn]] static void MissingSuiteError();

    const SPBasicSuite *BasicSuite() const { return basic_; }

    // One accessor per suite the effect uses, named after the suite. Each
    // returns the cached table, acquiring it on the first call; a suite the
    // host lacks throws PF_Err_BAD_CALLBACK_PARAM. All are safe to call from
    // several threads at once.
    const AEGP_UtilitySuite6 *UtilitySuite6();             // "AEGP Utility Suite" 11
    const AEGP_WorldSuite3 *WorldSuite3();                 // "AEGP World Suite" 3
    const AEGP_CompSuite5 *CompSuite5();                   // "AEGP Comp Suite" 11
    const AEGP_LayerSuite6 *LayerSuite6();                 // "AEGP Layer Suite" 12
    const AEGP_StreamSuite4 *StreamSuite4();               // "AEGP Stream Suite" 9
    const AEGP_EffectSuite3 *EffectSuite3();               // "AEGP Effect Suite" 3
    const AEGP_ItemSuite8 *ItemSuite8();                   // "AEGP Item Suite" 13
    const AEGP_CameraSuite2 *CameraSuite2();               // "AEGP Camera Suite" 2
    const AEGP_LightSuite2 *LightSuite2();                 // "AEGP Light Suite" 2
    const AEGP_PFInterfaceSuite1 *PFInterfaceSuite1();     // "AEGP PF Interface Suite" 1
    const AEGP_DynamicStreamSuite4 *DynamicStreamSuite4(); // "AEGP Dynamic Stream Suite" 5
    const AEGP_KeyframeSuite4 *KeyframeSuite4();           // "AEGP Keyframe Suite" 4
    const AEGP_MaskSuite4 *MaskSuite4();                   // "AEGP Layer Mask Suite" 5
    const AEGP_MemorySuite1 *MemorySuite1();               // "AEGP Memory Suite" 1
    const PF_WorldSuite2 *WorldSuite2();                   // "PF World Suite" 2
    const PF_ParamUtilsSuite2 *ParamUtilsSuite2();         // "PF Param Utils Suite" 2
    const PF_PathQuerySuite1 *PathQuerySuite1();           // "PF Path Query Suite" 1
    // The sampling suites, filled from the render threads.
    const PF_SamplingFloatSuite1 *SamplingFloatSuite1();   // "PF SamplingFloat Suite" 1
    const PF_Sampling16Suite1 *Sampling16Suite1();         // "PF Sampling16 Suite" 1
    const PF_Sampling8Suite1 *Sampling8Suite1();           // "PF Sampling8 Suite" 1

    static constexpr int kSlotCount = 20;

private:
    struct Slot; // name and version of the suite behind one slot
    static const Slot kSlots[kSlotCount];

    // The suite of slot `index`, acquired on first use. Once filled, a slot
    // is read without locking (the render threads read the sampling slots at
    // every sample, so this part is inline).
    const void *slot(int index)
    {
        const void *suite = slots_[index].load(std::memory_order_acquire);
        return suite ? suite : fillSlot(index);
    }
    // The first use of a slot: acquires its suite under the lock.
    const void *fillSlot(int index);

    const SPBasicSuite *basic_;
    std::atomic<const void *> slots_[kSlotCount] = {};
    std::mutex fill_; // serialises first fills
};
