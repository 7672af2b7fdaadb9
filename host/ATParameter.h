// Parameter reader: checks parameters out of the host at a given time and
// converts their raw values. A reader holds at most one checkout at a time:
// asking for another parameter (or another time) checks the held one back in
// first, and asking again for the held one at the held time costs no host
// call. The destructor checks the held parameter back in.
//
// Checkout errors are not thrown: the reader keeps the last one in err(), and
// the copy it returns is what the host left in the record (zeroed before each
// checkout).
//
// Indices are positions in the host's parameter array; times are in the
// host's units of `current_time`.
//
// Thread safety: none; a stack object of one command, used on that command's
// thread only.
#pragma once

#include "host/SDK.h"

class ATParameter {
public:
    // Checks out parameter 0 at in_data->current_time.
    explicit ATParameter(const PF_InData *in_data);
    ~ATParameter();
    ATParameter(const ATParameter &) = delete;
    ATParameter &operator=(const ATParameter &) = delete;

    // The held parameter record.
    PF_ParamDef param() const { return def_; }
    // Parameter `index` at the current time, or at `time`.
    PF_ParamDef param(PF_ParamIndex index);
    PF_ParamDef param(PF_ParamIndex index, A_long time);
    // The error of the last checkout.
    PF_Err err() const { return err_; }
    // The first checkout error since construction: a reader that has read
    // several parameters uses it to tell whether any of them is what the
    // host left in a failed checkout rather than the parameter's value.
    PF_Err firstErr() const { return firstErr_; }

    // Value readers; each reads through param() and converts the parameter's
    // value word.
    // 16.16 fixed value / 65536.
    double valueFromFixed(PF_ParamIndex index);
    double valueFromFixed(PF_ParamIndex index, A_long time);
    // Point x (or y) / 65536, divided by the downsample factor: full-resolution pixels.
    double valueFromPointX(PF_ParamIndex index);
    double valueFromPointX(PF_ParamIndex index, A_long time);
    double valueFromPointY(PF_ParamIndex index);
    double valueFromPointY(PF_ParamIndex index, A_long time);
    // Angle in degrees (16.16) to radians.
    double angleInRadian(PF_ParamIndex index);
    double angleInRadian(PF_ParamIndex index, A_long time);
    // The colour's four bytes unchanged.
    PF_Pixel valueColor(PF_ParamIndex index);
    PF_Pixel valueColor(PF_ParamIndex index, A_long time);

private:
    A_long currentTime() const;
    void checkout(PF_ParamIndex index, A_long time);
    void checkin();

    PF_Err err_ = PF_Err_NONE;
    PF_Err firstErr_ = PF_Err_NONE;
    const PF_InData *in_data_;
    PF_ParamDef def_{};
    A_long time_ = 0;
    PF_ParamIndex index_ = 0;
    bool held_ = false; // whether def_ is a successful checkout still to be checked in
};
