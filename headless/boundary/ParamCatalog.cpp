#include "headless/boundary/ParamCatalog.h"

#include "headless/boundary/Params.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace headless {

namespace {

// A number as a person reads it: up to four decimals, no trailing zeros;
// very large magnitudes in exponent form.
std::string numberText(double v) {
    char buffer[64];
    if (std::fabs(v) >= 1.0e7)
        std::snprintf(buffer, sizeof buffer, "%.9g", v);
    else
        std::snprintf(buffer, sizeof buffer, "%.4f", v);
    std::string text = buffer;
    if (text.find('.') != std::string::npos && text.find('e') == std::string::npos) {
        while (!text.empty() && text.back() == '0') text.pop_back();
        if (!text.empty() && text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return text;
}

double fixedValue(PF_Fixed raw) { return raw / 65536.0; }

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isSettable(const PF_ParamDef &def, PF_ParamIndex index) {
    if (index == 0 || def.name[0] == '\0') return false;
    if (def.ui_flags & PF_PUI_INVISIBLE) return false;
    switch (def.param_type) {
    case PF_Param_LAYER:
    case PF_Param_SLIDER:
    case PF_Param_FIX_SLIDER:
    case PF_Param_FLOAT_SLIDER:
    case PF_Param_ANGLE:
    case PF_Param_CHECKBOX:
    case PF_Param_COLOR:
    case PF_Param_POINT:
    case PF_Param_POPUP:
        return true;
    default:
        return false;
    }
}

std::string padded(const std::string &text, std::size_t width) {
    return text.size() >= width ? text + "  " : text + std::string(width - text.size() + 2, ' ');
}

} // namespace

std::vector<std::string> splitChoices(const char *list, int count) {
    std::vector<std::string> choices;
    if (!list) return choices;
    std::string current;
    for (const char *p = list; *p; ++p) {
        if (*p == '|') {
            choices.push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    choices.push_back(current);
    // The popup's own count wins over a list that says more or less.
    if (count >= 0 && choices.size() > std::size_t(count)) choices.resize(std::size_t(count));
    return choices;
}

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// ---- one parameter ---------------------------------------------------------------

std::string ParamInfo::typeName() const {
    switch (def.param_type) {
    case PF_Param_LAYER: return "layer";
    case PF_Param_SLIDER: return "integer";
    case PF_Param_FIX_SLIDER: return "slider";
    case PF_Param_FLOAT_SLIDER: return "float";
    case PF_Param_ANGLE: return "angle";
    case PF_Param_CHECKBOX: return "checkbox";
    case PF_Param_COLOR: return "colour";
    case PF_Param_POINT: return "point";
    case PF_Param_POPUP: return "popup";
    case PF_Param_GROUP_START:
    case PF_Param_GROUP_END: return "group";
    default: return "other";
    }
}

std::string ParamInfo::defaultText() const {
    switch (def.param_type) {
    case PF_Param_LAYER:
        return def.u.ld.dephault == PF_LayerDefault_MYSELF ? "this layer" : "none";
    case PF_Param_SLIDER: return std::to_string(def.u.sd.dephault);
    case PF_Param_FIX_SLIDER: return numberText(fixedValue(def.u.fd.dephault));
    case PF_Param_FLOAT_SLIDER: return numberText(def.u.fs_d.dephault);
    case PF_Param_ANGLE: return numberText(fixedValue(def.u.ad.dephault)) + " deg";
    case PF_Param_CHECKBOX: return def.u.bd.dephault ? "true" : "false";
    case PF_Param_COLOR: {
        const PF_Pixel &c = def.u.cd.dephault;
        std::string text = "[";
        text += std::to_string(c.red) + ", " + std::to_string(c.green) + ", ";
        return text + std::to_string(c.blue) + "]";
    }
    case PF_Param_POINT:
        return numberText(fixedValue(def.u.td.x_dephault)) + "%, " +
               numberText(fixedValue(def.u.td.y_dephault)) + "% of the layer";
    case PF_Param_POPUP: {
        const int n = def.u.pd.dephault;
        if (n >= 1 && std::size_t(n) <= choices.size())
            return "\"" + choices[std::size_t(n) - 1] + "\" (" + std::to_string(n) + ")";
        return std::to_string(n);
    }
    default: return "";
    }
}

std::string ParamInfo::rangeText() const {
    switch (def.param_type) {
    case PF_Param_LAYER: return "a layer name or null";
    case PF_Param_SLIDER:
        return std::to_string(def.u.sd.valid_min) + " to " + std::to_string(def.u.sd.valid_max);
    case PF_Param_FIX_SLIDER:
        return numberText(fixedValue(def.u.fd.valid_min)) + " to " +
               numberText(fixedValue(def.u.fd.valid_max));
    case PF_Param_FLOAT_SLIDER:
        return numberText(def.u.fs_d.valid_min) + " to " + numberText(def.u.fs_d.valid_max);
    case PF_Param_ANGLE: return "degrees";
    case PF_Param_CHECKBOX: return "true or false";
    case PF_Param_COLOR: return "[r, g, b], 0 to 255 each";
    case PF_Param_POINT: return "[x, y] in layer pixels";
    case PF_Param_POPUP: {
        std::string text;
        for (std::size_t i = 0; i < choices.size(); ++i) {
            if (i) text += " | ";
            text += std::to_string(i + 1) + " \"" + choices[i] + "\"";
        }
        return text;
    }
    default: return "";
    }
}

// ---- the catalog -------------------------------------------------------------------

ParamCatalog ParamCatalog::fromParams(const ParamArray &params) {
    ParamCatalog catalog;
    for (PF_ParamIndex i = 0; i < params.count(); ++i) {
        ParamInfo info;
        info.index = i;
        info.def = params.at(i);
        // The name field is fixed-size; never trust it to be terminated.
        info.name.assign(info.def.name, strnlen(info.def.name, sizeof info.def.name));
        if (info.def.param_type == PF_Param_POPUP)
            info.choices = splitChoices(info.def.u.pd.u.namesptr, info.def.u.pd.num_choices);
        info.settable = isSettable(info.def, i);
        catalog.params_.push_back(std::move(info));
    }
    return catalog;
}

const ParamInfo *ParamCatalog::find(std::string_view name) const {
    for (const ParamInfo &info : params_)
        if (info.settable && info.name == name) return &info;
    return nullptr;
}

const ParamInfo *ParamCatalog::closest(std::string_view name) const {
    const std::string wanted = lowered(name);
    const ParamInfo *best = nullptr;
    std::size_t bestDistance = 0;
    for (const ParamInfo &info : params_) {
        if (!info.settable) continue;
        const std::size_t d = editDistance(wanted, lowered(info.name));
        if (!best || d < bestDistance) {
            best = &info;
            bestDistance = d;
        }
    }
    // Beyond a third of the name, a "did you mean" would be a guess.
    if (!best || bestDistance > std::max<std::size_t>(2, wanted.size() / 3)) return nullptr;
    return best;
}

std::string ParamCatalog::table() const {
    std::size_t nameWidth = 4, typeWidth = 4, defaultWidth = 7;
    for (const ParamInfo &info : params_) {
        if (!info.settable) continue;
        nameWidth = std::max(nameWidth, info.name.size() + 4); // room for group indents
        typeWidth = std::max(typeWidth, info.typeName().size());
        defaultWidth = std::max(defaultWidth, info.defaultText().size());
    }
    std::string out = padded("NAME", nameWidth) + padded("TYPE", typeWidth) +
                      padded("DEFAULT", defaultWidth) + "VALUES\n";
    int depth = 0;
    for (const ParamInfo &info : params_) {
        if (info.def.param_type == PF_Param_GROUP_END) {
            depth = std::max(0, depth - 1);
            continue;
        }
        const std::string indent(std::size_t(depth) * 2, ' ');
        if (info.def.param_type == PF_Param_GROUP_START) {
            out += indent + "[" + info.name + "]\n";
            ++depth;
            continue;
        }
        if (!info.settable) continue;
        out += padded(indent + info.name, nameWidth) + padded(info.typeName(), typeWidth) +
               padded(info.defaultText(), defaultWidth) + info.rangeText() + "\n";
    }
    return out;
}

} // namespace headless
