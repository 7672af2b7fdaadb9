#include "headless/boundary/Params.h"

#include "headless/boundary/Faults.h"
#include "headless/boundary/Ledger.h"

#include <cstring>
#include <sstream>
#include <stdexcept>

namespace headless {

namespace {

// The input layer the host supplies as parameter 0.
PF_ParamDef inputLayer() {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_LAYER;
    def.u.ld.pix_aspect_ratio = {1, 1};
    def.u.ld.dephault = PF_LayerDefault_MYSELF;
    return def;
}

bool knownType(PF_ParamType type) {
    switch (type) {
    case PF_Param_LAYER:
    case PF_Param_SLIDER:
    case PF_Param_FIX_SLIDER:
    case PF_Param_ANGLE:
    case PF_Param_CHECKBOX:
    case PF_Param_COLOR:
    case PF_Param_POINT:
    case PF_Param_POPUP:
    case PF_Param_CUSTOM:
    case PF_Param_NO_DATA:
    case PF_Param_FLOAT_SLIDER:
    case PF_Param_ARBITRARY_DATA:
    case PF_Param_PATH:
    case PF_Param_GROUP_START:
    case PF_Param_GROUP_END:
    case PF_Param_BUTTON:
    case PF_Param_POINT_3D:
        return true;
    default:
        return false;
    }
}

void clear(PF_ParamDef *def) { std::memset(def, 0, sizeof *def); }

} // namespace

ParamArray::ParamArray(Ledger &ledger, Faults &faults) : ledger_(ledger), faults_(faults) {
    records_.push_back(inputLayer());
}

PF_Err ParamArray::add(PF_ParamIndex index, const PF_ParamDef *def) {
    std::lock_guard lock(mutex_);
    ++addCalls_;
    if (PF_Err err = faults_.check(service::kAddParam)) return err;
    if (!def) return PF_Err_BAD_CALLBACK_PARAM;
    if (index != -1 && index != static_cast<PF_ParamIndex>(records_.size()))
        return PF_Err_INVALID_INDEX;
    if (!knownType(def->param_type)) return PF_Err_UNRECOGNIZED_PARAM_TYPE;
    records_.push_back(*def);
    return PF_Err_NONE;
}

long ParamArray::addCalls() const {
    std::lock_guard lock(mutex_);
    return addCalls_;
}

A_long ParamArray::count() const {
    std::lock_guard lock(mutex_);
    return static_cast<A_long>(records_.size());
}

PF_ParamDef &ParamArray::at(PF_ParamIndex index) {
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= records_.size())
        throw std::out_of_range("no parameter " + std::to_string(index));
    return records_[static_cast<size_t>(index)];
}

const PF_ParamDef &ParamArray::at(PF_ParamIndex index) const {
    return const_cast<ParamArray *>(this)->at(index);
}

void ParamArray::set(PF_ParamIndex index, const PF_ParamDef &def) { at(index) = def; }

void ParamArray::reset() {
    std::lock_guard lock(mutex_);
    records_.clear();
    records_.push_back(inputLayer());
    addCalls_ = 0;
    for (auto &entry : checkedOut_)
        for (long i = 0; i < entry.second; ++i) ledger_.remove(Ledger::kParamCheckouts);
    checkedOut_.clear();
    failedCheckouts_.clear();
}

std::vector<PF_ParamDef *> ParamArray::list() {
    std::lock_guard lock(mutex_);
    std::vector<PF_ParamDef *> pointers;
    pointers.reserve(records_.size() + 1);
    for (PF_ParamDef &def : records_) pointers.push_back(&def);
    return pointers;
}

void ParamArray::setValueSource(ParamValueSource source) {
    std::lock_guard lock(mutex_);
    source_ = std::move(source);
}

void ParamArray::setCheckinObserver(ParamCheckinObserver observer) {
    std::lock_guard lock(mutex_);
    checkinObserver_ = std::move(observer);
}

PF_Err ParamArray::checkout(PF_ParamIndex index, A_long what_time, A_long time_step,
                            A_u_long time_scale, PF_ParamDef *out) {
    PF_Err err = faults_.check(service::kCheckoutParam);
    if (!out) return err ? err : PF_Err_BAD_CALLBACK_PARAM;

    std::unique_lock lock(mutex_);
    if (!err && (index < 0 || static_cast<size_t>(index) >= records_.size()))
        err = PF_Err_INVALID_INDEX;
    if (!err && time_scale == 0) err = PF_Err_BAD_CALLBACK_PARAM;
    if (!err) {
        PF_ParamDef value = records_[static_cast<size_t>(index)];
        ParamValueSource source = source_;
        // The source may be slow or call back into the host: run it unlocked.
        lock.unlock();
        if (source) err = source(index, what_time, time_step, time_scale, value);
        lock.lock();
        if (!err) *out = value;
    }
    if (err) {
        clear(out);
        ++failedCheckouts_[out];
        return err;
    }
    // A record that now holds a value no longer stands for an earlier failure.
    failedCheckouts_.erase(out);
    ++checkedOut_[out];
    ledger_.add(Ledger::kParamCheckouts);
    return PF_Err_NONE;
}

PF_Err ParamArray::checkin(PF_ParamDef *param) {
    std::unique_lock lock(mutex_);
    auto held = checkedOut_.find(param);
    if (held != checkedOut_.end()) {
        if (--held->second == 0) checkedOut_.erase(held);
        ledger_.remove(Ledger::kParamCheckouts);
        ParamCheckinObserver observer = checkinObserver_;
        lock.unlock();
        if (observer) observer(*param);
        return PF_Err_NONE;
    }
    auto failed = failedCheckouts_.find(param);
    if (failed != failedCheckouts_.end()) {
        if (--failed->second == 0) failedCheckouts_.erase(failed);
        return PF_Err_NONE;
    }
    std::ostringstream text;
    text << "checkin_param: record " << static_cast<const void *>(param)
         << " was not checked out";
    ledger_.problem(text.str());
    return PF_Err_BAD_CALLBACK_PARAM;
}

long ParamArray::outstandingCheckouts() const {
    std::lock_guard lock(mutex_);
    long total = 0;
    for (const auto &entry : checkedOut_) total += entry.second;
    return total;
}

} // namespace headless
