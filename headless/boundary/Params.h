// The parameter array of one effect instance: the records the host hands to
// every command, add_param during parameter set-up, and checkout/checkin of a
// parameter's value at a time.
//
// Index 0 is the input layer, which the host supplies; add_param appends after
// it, so the order of add_param calls gives the indices. The stored record is
// the parameter's definition and current value; tests change values with
// `at(i)` or `set(i, def)`.
//
// A checkout copies the parameter's value at the requested time into the
// caller's record. By default the value is the stored one at every time; a
// value source (`setValueSource`) lets a composition model supply values that
// vary with time (keyframes, expressions) or fill layer parameters with
// pixels. The ledger counts outstanding checkouts (Ledger::kParamCheckouts),
// keyed by the address of the caller's record, which is what checkin gets.
//
// Thread safety: every member may be called from any thread, but the records
// returned by `at()` and `list()` are not guarded: change them only while no
// command is running.
#pragma once

#include "headless/SdkHeaders.h"

#include <deque>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace headless {

class Ledger;
class Faults;

// Supplies the value of parameter `index` at time what_time / time_scale.
// `value` arrives holding the stored record; the source changes what differs
// at that time and returns an error to fail the checkout.
using ParamValueSource = std::function<PF_Err(PF_ParamIndex index, A_long what_time,
                                              A_long time_step, A_u_long time_scale,
                                              PF_ParamDef &value)>;

// Told of every successful checkin, with the record as it is handed back (a
// composition model frees the pixels it lent a layer parameter).
using ParamCheckinObserver = std::function<void(const PF_ParamDef &param)>;

class ParamArray {
public:
    ParamArray(Ledger &ledger, Faults &faults);
    ParamArray(const ParamArray &) = delete;
    ParamArray &operator=(const ParamArray &) = delete;

    // add_param: index -1 (or the current count) appends a copy of `def`.
    // Any other index is PF_Err_INVALID_INDEX, a null def
    // PF_Err_BAD_CALLBACK_PARAM, an unknown param_type
    // PF_Err_UNRECOGNIZED_PARAM_TYPE. Every call is counted, failed or not.
    PF_Err add(PF_ParamIndex index, const PF_ParamDef *def);
    long addCalls() const;

    // Number of parameters, the input layer included.
    A_long count() const;
    // The stored record of parameter `index` (std::out_of_range when invalid).
    PF_ParamDef &at(PF_ParamIndex index);
    const PF_ParamDef &at(PF_ParamIndex index) const;
    // Replaces the stored record (std::out_of_range when invalid).
    void set(PF_ParamIndex index, const PF_ParamDef &def);
    // Back to the input layer alone; add calls and checkouts are forgotten.
    void reset();

    // Pointers to the stored records, in index order, for the entry point's
    // `params` argument. Valid until the next add or reset.
    std::vector<PF_ParamDef *> list();

    void setValueSource(ParamValueSource source);
    void setCheckinObserver(ParamCheckinObserver observer);

    // checkout_param: copies parameter `index` at the given time into `*out`.
    // An invalid index is PF_Err_INVALID_INDEX, a null record or a zero time
    // scale PF_Err_BAD_CALLBACK_PARAM; on any failure `*out` is cleared.
    PF_Err checkout(PF_ParamIndex index, A_long what_time, A_long time_step,
                    A_u_long time_scale, PF_ParamDef *out);
    // checkin_param: returns a checkout made into `param`. Checking in a
    // record whose checkout failed is accepted quietly (the effect cannot
    // always tell); a record never checked out is a problem and
    // PF_Err_BAD_CALLBACK_PARAM.
    PF_Err checkin(PF_ParamDef *param);

    long outstandingCheckouts() const;

private:
    Ledger &ledger_;
    Faults &faults_;
    mutable std::mutex mutex_;
    std::deque<PF_ParamDef> records_;
    ParamValueSource source_;
    ParamCheckinObserver checkinObserver_;
    long addCalls_ = 0;
    std::unordered_map<const PF_ParamDef *, long> checkedOut_;
    std::unordered_map<const PF_ParamDef *, long> failedCheckouts_;
};

} // namespace headless
