// The AEGP suites of the headless host, answered from the composition model
// of the EffectInstance that serves the host (CompositionEffect.h), which
// installs them on construction and withdraws them on destruction.
//
// Suites, by the names and versions under which the effect acquires them:
//   "AEGP Utility Suite" 11        AEGP_RegisterWithAEGP: a new plug-in id
//   "AEGP Comp Suite" 11           the composition's item
//   "AEGP Layer Suite" 12          layers by index, names (UTF-16 memory
//                                  handles), source item, parent composition,
//                                  in point, duration, flags, to-world
//                                  transform (LayerTransform.h), object type,
//                                  renaming (UTF-16)
//   "AEGP Layer Suite" 11          the older name call: 8-bit layer and source
//                                  names, at most 31 bytes (cut at a character
//                                  boundary); the layer name is empty when the
//                                  layer shows its source's name
//   "AEGP Stream Suite" 9          effect streams by parameter index, layer
//                                  stream values, expressions (kept, not
//                                  evaluated: EffectInstance::expression)
//   "AEGP Effect Suite" 3          disposing of effect references
//   "AEGP Item Suite" 13           item size and pixel aspect ratio
//   "AEGP Camera Suite" 2          camera type, default camera distance
//   "AEGP Light Suite" 2           light type
//   "AEGP PF Interface Suite" 1    the effect's layer, its camera, effect time
//                                  to composition time, effect references
//   "AEGP Dynamic Stream Suite" 5  dynamic stream flags
//   "AEGP Keyframe Suite" 4        number of keys on an effect stream
//   "AEGP Layer Mask Suite" 5      number of masks (layers have none)
//   "PF Path Query Suite" 1        number of paths (there are none)
//   "AEGP Memory Suite" 1          memory handles
//   "PF Param Utils Suite" 2       PF_UpdateParamUI: stores the ui_flags and
//                                  the name the effect hands back on the
//                                  host's parameter record, and counts the
//                                  call (EffectInstance::paramUIUpdates)
//
// Layer streams (AEGP_GetLayerStreamValue), by the host's stream numbers,
// with their stream types: anchor point 0, position 1 (3D spatial), scale 2
// (3D, percent), Z rotation 3, X rotation 8, Y rotation 9 (1D, degrees),
// orientation 10 (3D); cameras: zoom 11, depth of field 12, focus distance 13,
// aperture 14, blur level 15 (1D); lights: intensity 16, colour 17 (colour:
// alpha, red, green, blue in 0..1), cone angle 18, cone feather 19, shadow
// darkness 20, shadow diffusion 21, casts shadows 28 (1D). A stream the layer
// does not have is A_Err_PARAMETER. Times in layer time mode count from the
// layer's in point. The host has no layer expressions, so the pre-expression
// switch changes nothing.
//
// Times the host reports (in points, durations) use the composition's time
// scale (compositionTimeScale); in layer time mode the in point is 0.
//
// Errors, the same for every call:
//   - once its handle or effect reference is known (so that the call is
//     known to be this host's), the call counts as service::kAegp with the
//     function's SDK name as the detail, e.g. "AEGP_GetLayerFlags"
//     (PF_UpdateParamUI: service::kUpdateParamUI; the name calls of both
//     layer suites are "AEGP_GetLayerName"); an armed fault there fails it
//     with the fault's error before it does anything else;
//   - a null, unknown, disposed or wrong-kind handle, a null result pointer,
//     an index out of range, or a plug-in id that this host did not hand out
//     is A_Err_PARAMETER (PF_UpdateParamUI: PF_Err_INVALID_INDEX or
//     PF_Err_BAD_CALLBACK_PARAM) and is recorded as a ledger problem naming
//     the function; nothing is written then.
// Effect references, stream references and memory handles that the host
// makes for the effect are counted in the ledger under the keys below until
// the effect disposes of them (AEGP_DisposeEffect, AEGP_DisposeStream,
// AEGP_FreeMemHandle).
//
// Thread safety: the suites may be called from any thread; they are meant for
// the thread that handles the current command.
#pragma once

#include <string_view>

namespace headless {

class Host;

namespace aegp {
inline constexpr std::string_view kEffectRefs = "AEGP effect references";
inline constexpr std::string_view kStreams = "AEGP stream references";
inline constexpr std::string_view kMemoryHandles = "AEGP memory handles";
} // namespace aegp

// Offers every suite above on `host` / withdraws them. The EffectInstance
// calls these; the suites answer only while an instance serves the host.
void installAegpSuites(Host &host);
void removeAegpSuites(Host &host);

} // namespace headless
