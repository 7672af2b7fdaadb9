// The effect's parameters as the plug-in registered them, by display name: what
// a scene file may set, what `--list-params` prints and what every value is
// checked against. Built from the host's parameter array after parameter
// set-up, so names, defaults, ranges and popup choices always come from the
// plug-in itself and never from a second table that could drift from it.
//
// Values are described in the units the controls show: degrees for angles,
// the slider's own numbers for sliders (percentages included), 0..255 per
// channel for colours, layer pixels for points, the choice text for popups.
//
// Thread safety: a catalog is immutable once built; share it freely.
#pragma once

#include "headless/SdkHeaders.h"

#include <string>
#include <string_view>
#include <vector>

namespace headless {

class ParamArray;

struct ParamInfo {
    PF_ParamIndex index = 0;
    std::string name;
    PF_ParamDef def{};                 // the record as registered
    std::vector<std::string> choices;  // popups: the choices, in order (1-based numbers)
    // False for the input layer, group starts and ends, buttons and controls
    // the plug-in keeps hidden: nothing a scene may set.
    bool settable = false;

    // "layer", "angle", "slider", "integer", "float", "checkbox", "popup",
    // "point", "colour" or "group"; "other" for types the effect does not use.
    std::string typeName() const;
    // The default as the control shows it, e.g. "100", "-90°", "on",
    // "\"Both Sides\" (3)", "[255, 255, 255]", "50%, 50% of the layer", "none".
    std::string defaultText() const;
    // The values a scene may give, e.g. "0 to 32767", "1 to 3",
    // "true or false", "a layer name or null"; empty when any number goes.
    std::string rangeText() const;
};

class ParamCatalog {
public:
    ParamCatalog() = default;
    // Reads every record of `params` (after parameter set-up).
    static ParamCatalog fromParams(const ParamArray &params);

    const std::vector<ParamInfo> &all() const { return params_; }
    // The settable parameter called exactly `name`, or null.
    const ParamInfo *find(std::string_view name) const;
    // The settable parameter whose name is closest to `name` (same letters in
    // another case, or a few edits away), for "did you mean" hints; null when
    // nothing is close.
    const ParamInfo *closest(std::string_view name) const;

    // The catalog as a table, one parameter a line: name, type, default,
    // range or choices. Groups are shown as headings.
    std::string table() const;

private:
    std::vector<ParamInfo> params_;
};

// Splits a popup's choice list "A|B|C" into its choices.
std::vector<std::string> splitChoices(const char *list, int count);

// Number of single-character edits between two strings.
std::size_t editDistance(std::string_view a, std::string_view b);

} // namespace headless
