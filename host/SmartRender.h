// The smart-render pair (PreRender, SmartRender; declared with the other
// command handlers in Handlers.h) and the rectangle rule pre-render uses.
//
// Pre-render asks the host for the input layer and reports the input's
// result rectangles as the effect's own. Smart render traces one frame: it
// checks out the input and the output, learns the output's pixel format,
// builds the render record, keeps the "Texture" and "Reflection Map"
// parameters checked out while the pixels are traced, and has the host's
// generic iterator run the per-pixel passes over the output, in one pass, or
// with depth of field in two passes through four side buffers.
//
// Thread safety: both handlers run on the thread inside the entry point, one
// command at a time; only the per-pixel passes they start run on the host's
// worker threads.
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "host/SDK.h"

// A rectangle is empty when left >= right or top >= bottom. An empty `dst`
// becomes `src`; an empty `src` leaves `dst` alone; otherwise `dst` grows to
// the bounding box of both.
void UnionLRect(const PF_LRect *src, PF_LRect *dst);
