// The command sequences a host really sends to the effect, as fault-sweep
// scenarios (FaultSweep.h): global set-up; parameter set-up; the parameter
// UI update with and without a control layer; a changed "Control Layer"
// (to a layer and back to none); pre-render and render in 8, 16 and 32 bits
// plain, textured, with a reflection map and with depth of field; global
// set-down.
#pragma once

#include "tests/reliability/FaultSweep.h"

#include <vector>

namespace reliability {

std::vector<Scenario> hostSequences();

// Whether a failure of `service` is one the effect's host-object wrappers
// absorb by design: any AEGP call, and the acquisition of a wrapper's suite.
// The command then succeeds with the wrappers' defaults in place of what the
// host would have said (a missing expression, a light or camera read as its
// default).
bool absorbedByWrappers(std::string_view service, std::string_view detail);

} // namespace reliability
