// The effect's parameters described for people and tools: each settable
// parameter of the registered catalogue with its group, its unit, its default
// as a scene file writes it and its range or choices. `--list-params --json`
// prints it, and the tables of docs/parameters.md are made from it (a test
// fails when the page and the plug-in disagree).
//
// Names, types, defaults, ranges and choices come from the catalogue the
// plug-in registered. Units are not registered by the plug-in; they are the
// one thing kept here, by name, and a test checks that every settable
// parameter has one and that no unit names a parameter that does not exist.
//
// Thread safety: pure functions over an immutable catalogue.
#pragma once

#include "headless/boundary/ParamCatalog.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace veltrix_render {

// The group a parameter sits in, groups within groups joined by " / "
// ("Rendering / Depth Composite"); empty outside every group.
std::string groupOf(const headless::ParamCatalog &catalog, const headless::ParamInfo &info);

// The parameter's unit ("degrees", "%", "pixels", ...); empty for popups,
// checkboxes and layers, and "?" for a parameter this file does not know.
std::string unitOf(const headless::ParamInfo &info);

// The names units are kept for (for the test that they match the catalogue).
std::vector<std::string> namesWithUnits();

// The default as a scene file writes it: a number, true/false, the choice's
// text, [r, g, b], null for "no layer"; a point's default is its share of
// the layer ("50%, 50%"), which a scene cannot write, so it is text.
nlohmann::json defaultJson(const headless::ParamInfo &info);

// Every settable parameter, in registration order: name, type, group,
// default, range (min and max, for sliders), choices (popups), unit.
nlohmann::json catalogJson(const headless::ParamCatalog &catalog);

// The Markdown table of the parameters of `group` (as groupOf names it),
// one row each: name, type, range or choices, default, unit.
std::string parameterTable(const headless::ParamCatalog &catalog, const std::string &group);

// Every group name, in the order the groups open (the empty name first for
// the parameters outside every group).
std::vector<std::string> groupNames(const headless::ParamCatalog &catalog);

} // namespace veltrix_render
