// Common ground of the host-object wrappers (namespace AEO).
//
// Every wrapper holds one host handle and reaches the host through AEGP
// suites. Two rules make the wrappers safe to use without checking each call:
//
// - First error wins. The first host call of a wrapper that fails (including
//   a failed suite acquisition) stores its code; from then on every operation
//   of that wrapper returns its documented default at once and makes no host
//   call. A wrapper built on a null handle starts with
//   PF_Err_BAD_CALLBACK_PARAM recorded, so the host never sees a null handle.
// - Suites are acquired on first use, under their exact name and version,
//   and released when the wrapper is destroyed.
//
// Destroying a wrapper with an error recorded is normal (a composition without
// a camera, a layer without a source); nothing is reported.
//
// Thread safety: a wrapper belongs to the thread that handles the current host
// command and must not be shared. The basic suite and the plug-in id come from
// the command context that is open on that thread (host/aeLibInit.h).
#pragma once

#include "host/SDK.h"

namespace AEO {

// Name and version under which the host registers each suite type.
template <class SuiteType> struct SuiteTraits;

#define AEO_SUITE_TRAITS(Type, Name, Version)                                                      \
    template <> struct SuiteTraits<Type> {                                                         \
        static constexpr const char *name = Name;                                                  \
        static constexpr A_long version = Version;                                                 \
    }

AEO_SUITE_TRAITS(AEGP_CompSuite5, "AEGP Comp Suite", 11);
AEO_SUITE_TRAITS(AEGP_LayerSuite6, "AEGP Layer Suite", 12);
AEO_SUITE_TRAITS(AEGP_LayerSuite5, "AEGP Layer Suite", 11); // the 8-bit layer name call
AEO_SUITE_TRAITS(AEGP_StreamSuite4, "AEGP Stream Suite", 9);
AEO_SUITE_TRAITS(AEGP_EffectSuite3, "AEGP Effect Suite", 3);
AEO_SUITE_TRAITS(AEGP_ItemSuite8, "AEGP Item Suite", 13);
AEO_SUITE_TRAITS(AEGP_CameraSuite2, "AEGP Camera Suite", 2);
AEO_SUITE_TRAITS(AEGP_LightSuite2, "AEGP Light Suite", 2);
AEO_SUITE_TRAITS(AEGP_PFInterfaceSuite1, "AEGP PF Interface Suite", 1);
AEO_SUITE_TRAITS(PF_PathQuerySuite1, "PF Path Query Suite", 1);
AEO_SUITE_TRAITS(AEGP_MaskSuite4, "AEGP Layer Mask Suite", 5);
AEO_SUITE_TRAITS(AEGP_DynamicStreamSuite4, "AEGP Dynamic Stream Suite", 5);
AEO_SUITE_TRAITS(AEGP_KeyframeSuite4, "AEGP Keyframe Suite", 4);
AEO_SUITE_TRAITS(AEGP_MemorySuite1, "AEGP Memory Suite", 1);

#undef AEO_SUITE_TRAITS

// The basic suite of the command that is running on this thread, or null when
// no command context (or none with in-data) is open.
const SPBasicSuite *CurrentBasicSuite();

// One host suite, acquired on the first call of suite() and released by the
// destructor. A failed acquisition is not retried: suite() keeps returning
// null and err() keeps the host's error (PF_Err_BAD_CALLBACK_PARAM when there
// is no basic suite or the host handed back no table).
template <class SuiteType> class Suite {
public:
    using Traits = SuiteTraits<SuiteType>;

    Suite() : basic_(CurrentBasicSuite()) {}
    explicit Suite(const SPBasicSuite *basic) : basic_(basic) {}
    ~Suite() {
        if (table_) basic_->ReleaseSuite(Traits::name, Traits::version);
    }
    Suite(const Suite &) = delete;
    Suite &operator=(const Suite &) = delete;

    const SuiteType *suite() {
        if (table_ || err_ != PF_Err_NONE) return table_;
        if (!basic_ || !basic_->AcquireSuite || !basic_->ReleaseSuite) {
            err_ = PF_Err_BAD_CALLBACK_PARAM;
            return nullptr;
        }
        const void *table = nullptr;
        const SPErr err = basic_->AcquireSuite(Traits::name, Traits::version, &table);
        if (err != kSPNoError) {
            err_ = err;
        } else if (!table) {
            // The host counted an acquisition but gave nothing usable: hand it back.
            basic_->ReleaseSuite(Traits::name, Traits::version);
            err_ = PF_Err_BAD_CALLBACK_PARAM;
        } else {
            table_ = static_cast<const SuiteType *>(table);
        }
        return table_;
    }

    PF_Err err() const { return err_; }

private:
    PF_Err err_ = PF_Err_NONE;
    const SuiteType *table_ = nullptr;
    const SPBasicSuite *basic_;
};

class ObjectBase {
public:
    virtual ~ObjectBase() = default;
    ObjectBase(const ObjectBase &) = delete;
    ObjectBase &operator=(const ObjectBase &) = delete;

    // The first error of this object's host calls, PF_Err_NONE while none failed.
    PF_Err err() const { return err_; }

protected:
    ObjectBase() = default;

    // Overwrites the stored error (for objects that track their last call).
    void setErr(PF_Err err) { err_ = err; }
    // Stores err unless an earlier error is already stored.
    void recordErr(PF_Err err) {
        if (err_ == PF_Err_NONE) err_ = err;
    }
    // Wrappers built on a handle call this once: a null handle is an error.
    void requireHandle(const void *handle) {
        if (!handle) recordErr(PF_Err_BAD_CALLBACK_PARAM);
    }

    // Calls one function of a suite under the first-error rule. Returns true
    // when the host call was made and succeeded; on false the caller returns
    // its default. `unavailable` is the error to store when the table is null.
    template <class SuiteType, class Fn, class... Args>
    bool invoke(const SuiteType *table, PF_Err unavailable, Fn SuiteType::*fn, Args... args) {
        if (err_ != PF_Err_NONE) return false;
        if (!table) {
            err_ = unavailable != PF_Err_NONE ? unavailable : PF_Err_BAD_CALLBACK_PARAM;
            return false;
        }
        if (!(table->*fn)) {
            err_ = PF_Err_BAD_CALLBACK_PARAM;
            return false;
        }
        err_ = (table->*fn)(args...);
        return err_ == PF_Err_NONE;
    }

    template <class SuiteType, class Fn, class... Args>
    bool call(Suite<SuiteType> &suite, Fn SuiteType::*fn, Args... args) {
        if (err_ != PF_Err_NONE) return false; // no acquisition after an error either
        const SuiteType *table = suite.suite();
        return invoke(table, suite.err(), fn, args...);
    }

    // Gives back a host object this wrapper owns, whatever happened before:
    // through `suite`, or - when that suite could not be acquired - through
    // one acquired for this call alone, since an owned handle that is not
    // given back stays with the host for good.
    template <class SuiteType, class Fn, class... Args>
    void release(Suite<SuiteType> &suite, Fn SuiteType::*fn, Args... args) {
        err_ = PF_Err_NONE;
        if (const SuiteType *table = suite.suite()) {
            invoke(table, suite.err(), fn, args...);
            return;
        }
        Suite<SuiteType> again;
        invoke(again.suite(), again.err(), fn, args...);
    }

private:
    PF_Err err_ = PF_Err_NONE;
};

} // namespace AEO
