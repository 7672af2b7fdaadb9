#include "headless/render/ParamReference.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace veltrix_render {

namespace {

using headless::ParamInfo;

// Units of the sliders, which the plug-in does not register. Percentages
// are of the full effect (100 is the whole of it); "factor" marks a plain
// number whose meaning the description gives.
struct Unit {
    const char *name, *unit;
};
constexpr Unit kSliderUnits[] = {
    {"Ellipse X/Y", "factor"},         {"Dist. from Center", "pixels"},
    {"Radius Scale", "%"},             {"Height Scale", "%"},
    {"Position Z", "pixels"},          {"Fixed Point U", "texture widths"},
    {"Fixed Point V", "texture heights"}, {"Open Parameter", "factor"},
    {"Extensions", "copies"},          {"Interval", "pixels"},
    {"Falloff Radius", "pixels"},      {"Falloff Distance", "pixels"},
    {"Light Transmission", "%"},       {"Emit", "%"},
    {"Ambient", "%"},                  {"Diffuse", "%"},
    {"Specular", "%"},                 {"Roughness", "factor"},
    {"Metal", "%"},                    {"Reflection Intensity", "%"},
    {"Reflection Rolloff", "%"},       {"Boost DOF Blur", "%"},
    {"Sharpness", "factor"},           {"Start depth", "pixels"},
    {"End depth", "pixels"},
};

double fixed(PF_Fixed v) { return double(v) / 65536.0; }

// A number as JSON: whole numbers as integers, others to 4 decimals, which
// gives the decimal a 16.16 value was made from (65470 / 65536 -> 0.999),
// and which the scene loader takes back to the same 16.16 value.
nlohmann::json number(double v) {
    if (v == std::floor(v) && std::fabs(v) < 1e15) return static_cast<long long>(v);
    if (std::fabs(v) > 1e15) return v;
    const double rounded = std::round(v * 10000.0) / 10000.0;
    if (rounded == std::floor(rounded)) return static_cast<long long>(rounded);
    return rounded;
}

std::string text(const nlohmann::json &v) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_null()) return "none";
    if (v.is_number_float()) {
        std::ostringstream out;
        out << v.get<double>();
        return out.str();
    }
    std::string shown = v.dump();
    for (std::size_t at = 0; (at = shown.find(',', at)) != std::string::npos; at += 2)
        shown.replace(at, 1, ", ");
    return shown;
}

// min and max for sliders: the valid range a scene may use, and the range
// the control's slider shows.
nlohmann::json rangeJson(const ParamInfo &info) {
    const PF_ParamDef &d = info.def;
    switch (d.param_type) {
    case PF_Param_SLIDER:
        return {{"min", d.u.sd.valid_min}, {"max", d.u.sd.valid_max},
                {"slider_min", d.u.sd.slider_min}, {"slider_max", d.u.sd.slider_max}};
    case PF_Param_FIX_SLIDER:
        return {{"min", number(fixed(d.u.fd.valid_min))}, {"max", number(fixed(d.u.fd.valid_max))},
                {"slider_min", number(fixed(d.u.fd.slider_min))},
                {"slider_max", number(fixed(d.u.fd.slider_max))}};
    case PF_Param_FLOAT_SLIDER:
        return {{"min", number(d.u.fs_d.valid_min)}, {"max", number(d.u.fs_d.valid_max)},
                {"slider_min", number(d.u.fs_d.slider_min)},
                {"slider_max", number(d.u.fs_d.slider_max)}};
    case PF_Param_COLOR: return {{"min", 0}, {"max", 255}};
    default: return nullptr;
    }
}

std::string rangeCell(const ParamInfo &info) {
    const nlohmann::json range = rangeJson(info);
    if (info.def.param_type == PF_Param_POPUP) {
        std::string cell;
        for (std::size_t i = 0; i < info.choices.size(); ++i)
            cell += (i ? ", " : "") + std::to_string(i + 1) + " \"" + info.choices[i] + "\"";
        return cell;
    }
    if (info.def.param_type == PF_Param_COLOR) return "0 to 255 per channel";
    if (range.is_object()) {
        std::string cell = text(range["min"]) + " to " + text(range["max"]);
        if (range["slider_min"] != range["min"] || range["slider_max"] != range["max"])
            cell += " (slider " + text(range["slider_min"]) + " to " + text(range["slider_max"]) + ")";
        return cell;
    }
    return info.rangeText();
}

} // namespace

std::string groupOf(const headless::ParamCatalog &catalog, const ParamInfo &info) {
    std::vector<std::string> open;
    for (const ParamInfo &p : catalog.all()) {
        if (&p == &info || p.index == info.index) break;
        if (p.def.param_type == PF_Param_GROUP_START) open.push_back(p.name);
        if (p.def.param_type == PF_Param_GROUP_END && !open.empty()) open.pop_back();
    }
    std::string group;
    for (const std::string &g : open) group += (group.empty() ? "" : " / ") + g;
    return group;
}

std::string unitOf(const ParamInfo &info) {
    switch (info.def.param_type) {
    case PF_Param_ANGLE: return "degrees";
    case PF_Param_POINT: return "pixels";
    case PF_Param_COLOR: return "0 to 255";
    case PF_Param_SLIDER:
    case PF_Param_FIX_SLIDER:
    case PF_Param_FLOAT_SLIDER:
        for (const Unit &u : kSliderUnits)
            if (info.name == u.name) return u.unit;
        return "?";
    default: return "";
    }
}

std::vector<std::string> namesWithUnits() {
    std::vector<std::string> names;
    for (const Unit &u : kSliderUnits) names.push_back(u.name);
    return names;
}

nlohmann::json defaultJson(const ParamInfo &info) {
    const PF_ParamDef &d = info.def;
    switch (d.param_type) {
    case PF_Param_SLIDER: return d.u.sd.dephault;
    case PF_Param_FIX_SLIDER: return number(fixed(d.u.fd.dephault));
    case PF_Param_FLOAT_SLIDER: return number(d.u.fs_d.dephault);
    case PF_Param_ANGLE: return number(fixed(d.u.ad.dephault));
    case PF_Param_CHECKBOX: return d.u.bd.dephault != 0;
    case PF_Param_COLOR:
        return {d.u.cd.dephault.red, d.u.cd.dephault.green, d.u.cd.dephault.blue};
    case PF_Param_POPUP: {
        const int n = d.u.pd.dephault;
        if (n >= 1 && std::size_t(n) <= info.choices.size()) return info.choices[std::size_t(n) - 1];
        return n;
    }
    case PF_Param_POINT:
        return text(number(fixed(d.u.td.x_dephault))) + "%, " +
               text(number(fixed(d.u.td.y_dephault))) + "% of the layer";
    default: return nullptr; // layers: none
    }
}

nlohmann::json catalogJson(const headless::ParamCatalog &catalog) {
    nlohmann::json out = nlohmann::json::array();
    for (const ParamInfo &info : catalog.all()) {
        if (!info.settable) continue;
        nlohmann::json entry = {{"name", info.name},
                                {"type", info.typeName()},
                                {"group", groupOf(catalog, info)},
                                {"default", defaultJson(info)},
                                {"range", rangeJson(info)},
                                {"choices", nullptr},
                                {"unit", unitOf(info)}};
        if (info.def.param_type == PF_Param_POPUP) entry["choices"] = info.choices;
        out.push_back(std::move(entry));
    }
    return out;
}

std::vector<std::string> groupNames(const headless::ParamCatalog &catalog) {
    std::vector<std::string> names;
    for (const ParamInfo &info : catalog.all()) {
        if (!info.settable) continue;
        const std::string g = groupOf(catalog, info);
        if (std::find(names.begin(), names.end(), g) == names.end()) names.push_back(g);
    }
    std::stable_partition(names.begin(), names.end(), [](const std::string &g) { return g.empty(); });
    return names;
}

std::string parameterTable(const headless::ParamCatalog &catalog, const std::string &group) {
    std::string out = "| Parameter | Type | Values | Default | Unit |\n|---|---|---|---|---|\n";
    for (const ParamInfo &info : catalog.all()) {
        if (!info.settable || groupOf(catalog, info) != group) continue;
        const std::string unit = unitOf(info);
        out += "| \"" + info.name + "\" | " + info.typeName() + " | " + rangeCell(info) + " | " +
               text(defaultJson(info)) + " | " + (unit.empty() ? "" : unit) + " |\n";
    }
    return out;
}

} // namespace veltrix_render
