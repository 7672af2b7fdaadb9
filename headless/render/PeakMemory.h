// The process's peak memory (resident set), for --stats: the high-water mark
// since the last reset, so that each frame reports its own peak. On Linux the
// kernel keeps it (VmHWM) and resets it on request; where it cannot be reset
// the figure is the peak of the whole run so far.
//
// Thread safety: process-wide; call from the thread that drives the run.
#pragma once

namespace veltrix_render {

// Starts a new high-water mark at the present use, where the system allows.
void resetPeakMemory();

// The peak resident memory in MiB since the last reset; negative when the
// system does not say.
double peakMemoryMiB();

} // namespace veltrix_render
