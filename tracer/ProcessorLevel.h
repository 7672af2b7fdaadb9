// Whether this processor runs the kernels also built for x86-64-v3 and for
// x86-64-v4 (the lane kernels), asked once per process. Only where the build
// makes such kernels (VELTRIX_CORNER_LANES_V3, VELTRIX_LANES_V4), and only for
// sources built for the baseline.
//
// Thread safety: the first call initialises a function-local static; any
// thread may call it.
#pragma once

#if defined(VELTRIX_CORNER_LANES_V3)
inline bool ProcessorRunsX86V3()
{
    static const bool runs = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("x86-64-v3") != 0;
    }();
    return runs;
}
#endif

#if defined(VELTRIX_LANES_V4)
inline bool ProcessorRunsX86V4()
{
    static const bool runs = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("x86-64-v4") != 0;
    }();
    return runs;
}
#endif
