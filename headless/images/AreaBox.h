// A box of an area table by its edge cells, and the box sums of a table held
// whole on the widest lanes a build has: AVX2 (four channels to a register)
// on x86-64 processors that have it, SSE2 (two) otherwise. Every lane does
// exactly the operations of the one-channel form, so the sums are the same
// bits whichever build runs. Internal to AreaTable.
//
// Thread safety: pure functions of their arguments.
#pragma once

#include "headless/images/AreaTable.h"
#include "headless/images/AreaTableRows.h"

#include <cstdint>

namespace headless {

// The sums of `box` from a whole table of `width` + 1 columns with the
// x86-64-v3 build into `out`; false, doing nothing, where that build is
// missing or the processor lacks it.
bool wholeTableBoxV3(const std::uint64_t *sums, A_long width, const TableBox &box, BoxSums &out);
bool wholeTableBoxV3(const double *sums, A_long width, const TableBox &box, BoxSums &out);
bool wholeTableBoxV3(const std::uint32_t *sums, A_long width, const TableBox &box, BoxSums &out);

// The sums of a `box` of an 8-bit or 16-bit world whose edges fall in
// neighbouring columns and rows, straight from its four pixels, the same
// bits as its table gives: the x86-64-v3 build's kernel (null where that
// build is missing or the processor lacks it), and the build's own.
using QuadBoxKernel = BoxSums (*)(const HostWorld &world, const TableBox &box);
QuadBoxKernel quadBoxV3();
BoxSums quadBoxBaseline(const HostWorld &world, const TableBox &box);

// The same box's area filter (AreaTable::filter) for 8-bit (PF_Pixel) and
// 16-bit (PF_Pixel16) worlds on the widest lanes the processor runs, chosen
// once, from the world's rows b0 and b0 + 1.
template <class P> QuadFilterKernel quadFilterKernel();

// The same for a box whose edges fall one to three columns and rows apart
// (AreaTable::fewPixels), from its at most 16 pixels; the filter from the
// world's rows b0 to b1, rowbytes apart.
using FewBoxKernel = BoxSums (*)(const HostWorld &world, const TableBox &box);
FewBoxKernel fewBoxV3();
BoxSums fewBoxBaseline(const HostWorld &world, const TableBox &box);
template <class P> FewFilterKernel fewFilterKernel();

// The sums of `box` from rows b0, b0 + 1, b1 and b1 + 1 of a rolling
// window's table (`rows`, which no one rewrites while they are read): the
// x86-64-v3 build's kernel (null where that build is missing or the processor
// lacks it), and the build's own. T is std::uint64_t or double.
template <class T> using RowsBoxKernel = BoxSums (*)(const T *const (&rows)[4], const TableBox &box);
template <class T> RowsBoxKernel<T> rowsBoxV3();
template <class T> BoxSums rowsBoxBaseline(const T *const (&rows)[4], const TableBox &box);

// The same with the build's own instruction set (SSE2 on x86-64), as
// processors without x86-64-v3 run it.
BoxSums wholeTableBoxBaseline(const std::uint64_t *sums, A_long width, const TableBox &box);
BoxSums wholeTableBoxBaseline(const double *sums, A_long width, const TableBox &box);
BoxSums wholeTableBoxBaseline(const std::uint32_t *sums, A_long width, const TableBox &box);

} // namespace headless
