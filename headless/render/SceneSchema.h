// The JSON Schema of scene files (docs/scene.schema.json), so that editors
// can complete and check them. Made from the loader's own keys
// (sceneFormatKeys) and the plug-in's registered parameters, so it follows
// both: every key the loader accepts needs a value shape here, or making the
// schema throws (a test makes it). The loader stays the judge: the schema
// accepts a superset (e.g. it does not tie "camera" to camera layers).
//
// Thread safety: a pure function.
#pragma once

#include "headless/boundary/ParamCatalog.h"

#include <nlohmann/json.hpp>

namespace veltrix_render {

// Throws std::logic_error naming a loader key that has no value shape.
nlohmann::json sceneSchema(const headless::ParamCatalog &catalog);

} // namespace veltrix_render
