// AreaTableRows: the rows of a world's summed-area table (AreaTable.h), made
// one after another, row j + 1 from row j and pixel row j. Both ways the host
// keeps a table go through it, so a table held whole and one held as a
// rolling window (RollingRows.h) have the same entries, bit for bit.
//
// T is std::uint64_t for 8-bit and 16-bit worlds (exact sums) and double for
// float worlds (compensated sums; the compensation of every column is carried
// from row to row and belongs to the state). Every row is (width + 1) entries
// of four sums: alpha, then red, green and blue times alpha.
//
// Thread safety: one thread at a time; the world's pixels must not change
// while rows are being made.
#pragma once

#include "headless/images/HostWorld.h"

#include <cstdint>
#include <vector>

namespace headless {

inline constexpr std::size_t kAreaSums = 4; // alpha, red * alpha, green * alpha, blue * alpha

template <class T> class AreaTableRows {
public:
    // Starts at row 0 (all zeros). Throws std::bad_alloc.
    explicit AreaTableRows(const HostWorld &world);
    // Not copied: the current row may be the maker's own memory.
    AreaTableRows(const AreaTableRows &) = delete;
    AreaTableRows &operator=(const AreaTableRows &) = delete;

    // Entries in a row: (width + 1) * kAreaSums.
    std::size_t stride() const { return sums_.size(); }
    // The row made last, and its values: in the maker's own memory, or in
    // the memory advanceInto() made it in.
    A_long current() const { return row_; }
    const T *values() const { return current_; }
    // Makes the next row in the maker's own memory. Only while current() <
    // the world's height.
    void advance();
    // Makes the next row in `out` (stride() entries, which may be values()),
    // with no copy in the maker's own memory: the row after it is made from
    // `out`, which must stay as it is until then (or until restoreState).
    void advanceInto(T *out);
    // Where the next row's pixel row adds nothing to the sums (a transparent
    // row), makes it as the current row's values, unchanged and where they
    // are, and returns true; otherwise does nothing and returns false.
    bool advanceIfNothingAdded();

    // Where making the rows stands after the current row, enough to go on
    // from there: stateSize() values (the row's sums, then, for float worlds,
    // the columns' compensation).
    std::size_t stateSize() const { return sums_.size() + compensation_.size(); }
    void saveState(T *state) const;
    // Goes back (or on) to a state saved after row `row`.
    void restoreState(A_long row, const T *state);

private:
    bool rowAddsNothing() const;

    const HostWorld &world_;
    A_long row_ = 0;
    std::vector<T> sums_;
    const T *current_; // the current row's values: sums_ or the last advanceInto's memory
    std::vector<double> compensation_;
    bool zeroState_ = true;          // the sums and compensation are all +0
    bool nextAddsSomething_ = false; // known so of the next row's pixel row
};

// Row y + 1 of an 8-bit or 16-bit world's table from row y (`above`) and
// pixel row y, into `out` (stride entries, which may be `above`): the
// x86-64-v3 build's kernel for worlds of `depth` (null where that build is
// missing or the processor lacks it), and the build's own. The same integers
// either way; the rows take the widest the processor runs.
using ExactRowKernel = void (*)(const HostWorld &world, A_long y, const std::uint64_t *above, std::uint64_t *out);
ExactRowKernel exactRowV3(PixelDepth depth);
void exactRowBaseline(const HostWorld &world, A_long y, const std::uint64_t *above, std::uint64_t *out);

// The sum of |alpha| over a float world, as the area table's noise bound
// needs it (non-finite alpha counting as 0).
double absoluteAlphaSum(const HostWorld &world);

extern template class AreaTableRows<std::uint64_t>;
extern template class AreaTableRows<double>;

} // namespace headless
