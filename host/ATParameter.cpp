#include "host/ATParameter.h"

#include "host/HostNumbers.h"

#include <cstring>

namespace {
constexpr double kFixedOne = 65536.0;
constexpr double kRadiansPerDegree = 0.017453292519943295; // pi / 180

double fixedToDouble(PF_Fixed value) { return static_cast<double>(value) / kFixedOne; }
} // namespace

ATParameter::ATParameter(const PF_InData *in_data) : in_data_(in_data) {
    checkout(0, currentTime());
}

ATParameter::~ATParameter() { checkin(); }

A_long ATParameter::currentTime() const { return in_data_ ? in_data_->current_time : 0; }

void ATParameter::checkout(PF_ParamIndex index, A_long time) {
    index_ = index;
    time_ = time;
    std::memset(&def_, 0, sizeof def_);
    if (!in_data_ || !in_data_->inter.checkout_param) {
        err_ = PF_Err_BAD_CALLBACK_PARAM;
    } else {
        err_ = in_data_->inter.checkout_param(in_data_->effect_ref, index, time,
                                              in_data_->time_step, in_data_->time_scale, &def_);
        held_ = err_ == PF_Err_NONE;
    }
    if (firstErr_ == PF_Err_NONE) firstErr_ = err_;
}

void ATParameter::checkin() {
    // Only a checkout the host granted is given back.
    if (!held_) return;
    held_ = false;
    if (in_data_->inter.checkin_param) in_data_->inter.checkin_param(in_data_->effect_ref, &def_);
}

PF_ParamDef ATParameter::param(PF_ParamIndex index) { return param(index, currentTime()); }

PF_ParamDef ATParameter::param(PF_ParamIndex index, A_long time) {
    if (index != index_ || time != time_) {
        checkin();
        checkout(index, time);
    }
    return def_;
}

double ATParameter::valueFromFixed(PF_ParamIndex index) {
    return valueFromFixed(index, currentTime());
}

double ATParameter::valueFromFixed(PF_ParamIndex index, A_long time) {
    return fixedToDouble(param(index, time).u.fd.value);
}

double ATParameter::valueFromPointX(PF_ParamIndex index) {
    return valueFromPointX(index, currentTime());
}

double ATParameter::valueFromPointX(PF_ParamIndex index, A_long time) {
    const PF_Fixed x = param(index, time).u.td.x_value;
    return fixedToDouble(x) / RatioOf(in_data_ ? in_data_->downsample_x : PF_RationalScale{1, 1});
}

double ATParameter::valueFromPointY(PF_ParamIndex index) {
    return valueFromPointY(index, currentTime());
}

double ATParameter::valueFromPointY(PF_ParamIndex index, A_long time) {
    const PF_Fixed y = param(index, time).u.td.y_value;
    return fixedToDouble(y) / RatioOf(in_data_ ? in_data_->downsample_y : PF_RationalScale{1, 1});
}

double ATParameter::angleInRadian(PF_ParamIndex index) {
    return angleInRadian(index, currentTime());
}

double ATParameter::angleInRadian(PF_ParamIndex index, A_long time) {
    return fixedToDouble(param(index, time).u.ad.value) * kRadiansPerDegree;
}

PF_Pixel ATParameter::valueColor(PF_ParamIndex index) { return valueColor(index, currentTime()); }

PF_Pixel ATParameter::valueColor(PF_ParamIndex index, A_long time) {
    return param(index, time).u.cd.value;
}
