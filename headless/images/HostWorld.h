// HostWorld: an image the host owns, of 8-bit, 16-bit or 32-bit float pixels
// (PF_Pixel, PF_Pixel16, PF_PixelFloat), with the PF_EffectWorld description
// the effect receives for it. The world suites hand such worlds to the effect,
// the composition keeps layer pixels in them, and the smart render gives the
// effect its output in one.
//
// Layout: pixel (x, y) is at data + y * rowbytes + x * bytesPerPixel. Rows are
// always padded (rowbytes > width * bytesPerPixel, a multiple of 16), so code
// that steps rows by width instead of rowbytes reads the wrong pixels and
// fails its tests. A fresh world is either cleared (every byte 0) or filled
// with garbage that is easy to spot: the byte 0xA5 everywhere (165 in 8 bits,
// 42405, out of range, in 16 bits), quiet NaN in every channel of a float
// world, and 0xA5 in the row padding of every depth.
//
// Memory: the last few image-sized worlds to go (1 MiB and more, up to eight)
// leave their memory for the next worlds of the same sizes (an output frame
// after frame, the layers an effect makes for itself each frame); a world of a
// size none of them has lets them all go first. Fresh content is filled as
// above either way.
//
// Description: data, rowbytes, width, height, extent_hint {0, 0, w, h},
// pix_aspect_ratio 1/1 (adjustable), origin 0, world_flags with
// PF_WorldFlag_DEEP for 16 bits and PF_WorldFlag_WRITEABLE where set.
//
// Pixel generation and the area table. The area samplers read a world through
// a summed-area table (AreaTable.h) made from its pixels once and then shared
// (a large world's table reads the pixels row by row as samples reach them).
// Every world carries a generation number; a table belongs to the generation
// it was built for, and the next request after the generation moved on builds
// a new one. The rule: whoever writes the pixels calls pixelsChanged() when it
// is done writing (fill() and copyPixelsFrom() do so themselves; the plain
// pixel accessors do not, a write loop would pay for it per pixel). Worlds the
// effect writes through their description are moved on by the host's world
// registry at every pass and command boundary (Worlds.h), since the effect
// cannot say when it wrote. Tables of earlier generations stay alive (a
// sampler may still be reading one) until dropStaleTables(), which the host
// calls only where no sampler runs.
//
// Thread safety: pixels are plain memory (readers and writers coordinate
// among themselves, as with any image). areaTable(), generation(),
// pixelsChanged() and tableBuilds() may be called from any thread at any
// time; several threads asking for the table at once get one build, made by
// one of them while the others wait. Everything else belongs to one thread.
#pragma once

#include "headless/SdkHeaders.h"
#include "headless/images/SpareMemory.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

namespace headless {

class AreaTable;

// Pixel depths by the host's world-type numbers.
enum class PixelDepth : A_long {
    Eight = AEGP_WorldType_8,    // PF_Pixel, full intensity 255
    Sixteen = AEGP_WorldType_16, // PF_Pixel16, full intensity 32768
    Float = AEGP_WorldType_32,   // PF_PixelFloat, full intensity 1.0
};

// 4, 8 or 16.
std::size_t bytesPerPixel(PixelDepth depth);
// 255, 32768 or 1.
double fullIntensity(PixelDepth depth);
PF_PixelFormat pixelFormatOf(PixelDepth depth);
// The depth of a PF_PixelFormat_ARGB32/64/128 or AEGP_WorldType_8/16/32;
// false for anything else.
bool depthFromPixelFormat(PF_PixelFormat format, PixelDepth &depth);
bool depthFromWorldType(AEGP_WorldType type, PixelDepth &depth);

template <class P> constexpr PixelDepth depthOf() {
    if constexpr (std::is_same_v<P, PF_Pixel>) return PixelDepth::Eight;
    else if constexpr (std::is_same_v<P, PF_Pixel16>) return PixelDepth::Sixteen;
    else {
        static_assert(std::is_same_v<P, PF_PixelFloat>, "not a host pixel type");
        return PixelDepth::Float;
    }
}

enum class WorldFill { Clear, Garbage };

// Runs work(first, end) over row ranges that together cover [0, rows) once
// each, possibly several at a time on other threads, and returns when all are
// done (the host's worker pool: Host::rowRanges). A large world's first fill
// goes at the pace of all the threads' stores, not one thread's.
using RowRanges = std::function<void(A_long rows, const std::function<void(A_long first, A_long end)> &work)>;

class HostWorld {
public:
    // Largest width or height the host makes a world of.
    static constexpr A_long kMaxSide = 30000;
    // Bytes added to every row before rounding rowbytes up to a multiple of 16.
    static constexpr A_long kRowPadding = 48;

    // A width x height world. Throws std::invalid_argument for a side outside
    // [0, kMaxSide] and std::bad_alloc when the memory is not there. A world
    // of no pixels still has a unique, non-null data address. A large world
    // is filled through `ranges` where given.
    HostWorld(PixelDepth depth, A_long width, A_long height, WorldFill fill = WorldFill::Clear,
              const RowRanges &ranges = {});
    ~HostWorld();
    HostWorld(const HostWorld &) = delete;
    HostWorld &operator=(const HostWorld &) = delete;

    // The memory of the last image-sized worlds to go is kept for the next
    // worlds of their sizes (frame after frame, the output reuses it). This
    // lets it all go: for a host whose next worlds are not of those sizes, such
    // as one about to copy its last frame out.
    static void releaseSpareStorage();
    // How many blocks are kept so (for tests and diagnostics).
    static std::size_t spareBlocks();

    PixelDepth depth() const { return depth_; }
    A_long width() const { return desc_.width; }
    A_long height() const { return desc_.height; }
    A_long rowbytes() const { return desc_.rowbytes; }
    std::size_t bytesPerPixel() const { return headless::bytesPerPixel(depth_); }

    // The description the effect receives (AEGP_FillOutPFEffectWorld,
    // PF_NewWorld, layer checkouts); copy it out, its data is the pixels.
    const PF_EffectWorld &effectWorld() const { return desc_; }
    // Whether `desc` describes these pixels (same data, size and rowbytes).
    bool describedBy(const PF_EffectWorld &desc) const;

    void setWriteable(bool writeable);
    void setPixelAspect(PF_RationalScale ratio) { desc_.pix_aspect_ratio = ratio; }

    // Row y, or null outside [0, height). Inline: the samplers ask for rows
    // on every sample.
    std::byte *row(A_long y) {
        if (y < 0 || y >= desc_.height) return nullptr;
        return storage_.as<std::byte>() + static_cast<std::size_t>(y) * desc_.rowbytes;
    }
    const std::byte *row(A_long y) const { return const_cast<HostWorld *>(this)->row(y); }
    // Pixel (x, y) as P, or null outside the world or when P is not this
    // world's pixel type.
    template <class P> P *pixel(A_long x, A_long y) {
        return depthOf<P>() == depth_ ? static_cast<P *>(address(x, y)) : nullptr;
    }
    template <class P> const P *pixel(A_long x, A_long y) const {
        return depthOf<P>() == depth_ ? static_cast<const P *>(address(x, y)) : nullptr;
    }

    // Sets every pixel to `value` (of this world's type; false otherwise) and
    // moves the generation on.
    template <class P> bool fill(const P &value) {
        if (depthOf<P>() != depth_) return false;
        for (A_long y = 0; y < height(); ++y)
            for (A_long x = 0; x < width(); ++x) *pixel<P>(x, y) = value;
        pixelsChanged();
        return true;
    }
    // Copies the pixels of a world of the same depth and size (false
    // otherwise) and moves the generation on.
    bool copyPixelsFrom(const HostWorld &other);

    // ---- generation and area table (see above) ----
    // Whether the table is held whole whatever its size. A large world's
    // table otherwise rolls, which pays where samples sweep the image (a blur
    // over the effect's own layers); where they land anywhere (a texture
    // mapped onto a surface), the window may come to hold most rows, at 8
    // bytes a sum: twice what an 8-bit world's whole table takes. Set before
    // the first sample.
    void setTableHeldWhole(bool whole) { tableHeldWhole_ = whole; }

    std::uint64_t generation() const { return generation_.load(std::memory_order_acquire); }
    void pixelsChanged() { generation_.fetch_add(1, std::memory_order_acq_rel); }
    // The table of the current generation, building it if need be. Throws
    // std::bad_alloc when the memory for it is not there.
    const AreaTable &areaTable() const;
    // How many tables were built for this world so far.
    long tableBuilds() const { return builds_.load(std::memory_order_relaxed); }
    // Frees the tables of earlier generations. Only where no thread may still
    // be sampling this world.
    void dropStaleTables();

private:
    void *address(A_long x, A_long y) const;

    PixelDepth depth_;
    SpareBlock storage_;
    PF_EffectWorld desc_{};

    bool tableHeldWhole_ = false;
    std::atomic<std::uint64_t> generation_{0};
    mutable std::atomic<const AreaTable *> table_{nullptr};
    mutable std::mutex tableMutex_;                               // guards tables_, serialises builds
    mutable std::vector<std::unique_ptr<const AreaTable>> tables_; // current and stale
    mutable std::atomic<long> builds_{0};
};

} // namespace headless
