#include "headless/images/HostWorld.h"

#include "headless/images/AreaTable.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>
#include <stdexcept>

namespace headless {

namespace {
constexpr unsigned char kGarbageByte = 0xA5;

// The memory of the last few image-sized worlds to go, kept for the next
// worlds of the same sizes: a host rendering frame after frame reuses its
// output's memory, and that of the layers an effect makes for itself each
// frame (a depth-of-field render's four side buffers), instead of having the
// system map and clear it anew every frame. A request of a size none of them
// has lets them all go first, so that they never add to what is held.
// Never destroyed: a world may still go while the program exits.
SpareMemory &worldMemory() {
    static SpareMemory *const instance =
        new SpareMemory({std::size_t{1} << 20, 8, std::numeric_limits<std::size_t>::max(), true});
    return *instance;
}

A_long paddedRowbytes(PixelDepth depth, A_long width) {
    const std::size_t bytes = static_cast<std::size_t>(width) * bytesPerPixel(depth) + HostWorld::kRowPadding;
    return static_cast<A_long>((bytes + 15) / 16 * 16);
}
} // namespace

std::size_t bytesPerPixel(PixelDepth depth) {
    switch (depth) {
    case PixelDepth::Eight: return sizeof(PF_Pixel);
    case PixelDepth::Sixteen: return sizeof(PF_Pixel16);
    case PixelDepth::Float: return sizeof(PF_PixelFloat);
    }
    return 0;
}

double fullIntensity(PixelDepth depth) {
    switch (depth) {
    case PixelDepth::Eight: return 255.0;
    case PixelDepth::Sixteen: return 32768.0;
    case PixelDepth::Float: return 1.0;
    }
    return 1.0;
}

PF_PixelFormat pixelFormatOf(PixelDepth depth) {
    switch (depth) {
    case PixelDepth::Eight: return PF_PixelFormat_ARGB32;
    case PixelDepth::Sixteen: return PF_PixelFormat_ARGB64;
    case PixelDepth::Float: return PF_PixelFormat_ARGB128;
    }
    return PF_PixelFormat_INVALID;
}

bool depthFromPixelFormat(PF_PixelFormat format, PixelDepth &depth) {
    switch (format) {
    case PF_PixelFormat_ARGB32: depth = PixelDepth::Eight; return true;
    case PF_PixelFormat_ARGB64: depth = PixelDepth::Sixteen; return true;
    case PF_PixelFormat_ARGB128: depth = PixelDepth::Float; return true;
    default: return false;
    }
}

bool depthFromWorldType(AEGP_WorldType type, PixelDepth &depth) {
    switch (type) {
    case AEGP_WorldType_8: depth = PixelDepth::Eight; return true;
    case AEGP_WorldType_16: depth = PixelDepth::Sixteen; return true;
    case AEGP_WorldType_32: depth = PixelDepth::Float; return true;
    default: return false;
    }
}

namespace {
// Pixels the effect must write before it reads them: garbage bytes, and in
// float worlds NaN in every channel (which no arithmetic hides), in rows
// [first, end). Each byte is written once: a float world's pixels as NaN,
// its row padding as garbage bytes.
void fillRowsWithGarbage(std::byte *storage, PixelDepth depth, A_long width, A_long rowbytes, A_long first,
                         A_long end) {
    const std::size_t rowBytes = static_cast<std::size_t>(rowbytes);
    std::byte *const start = storage + static_cast<std::size_t>(first) * rowBytes;
    const std::size_t rows = static_cast<std::size_t>(end - first);
    if (depth != PixelDepth::Float) {
        std::memset(start, kGarbageByte, rows * rowBytes);
        return;
    }
    // The first row made, the others copied from it: the library's copy
    // writes at the memory's pace, where a loop over the pixels does not.
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    const std::size_t pixelBytes = static_cast<std::size_t>(width) * sizeof(PF_PixelFloat);
    auto *pixels = reinterpret_cast<PF_PixelFloat *>(start);
    for (A_long x = 0; x < width; ++x) pixels[x] = {nan, nan, nan, nan};
    std::memset(start + pixelBytes, kGarbageByte, rowBytes - pixelBytes);
    for (std::size_t y = 1; y < rows; ++y) std::memcpy(start + y * rowBytes, start, rowBytes);
}

void fillRows(std::byte *storage, WorldFill fill, PixelDepth depth, A_long width, A_long rowbytes, A_long first,
              A_long end) {
    if (first >= end) return;
    if (fill == WorldFill::Clear)
        std::memset(storage + static_cast<std::size_t>(first) * static_cast<std::size_t>(rowbytes), 0,
                    static_cast<std::size_t>(end - first) * static_cast<std::size_t>(rowbytes));
    else
        fillRowsWithGarbage(storage, depth, width, rowbytes, first, end);
}

// Below this many bytes a world is filled by the thread that makes it: the
// other threads would take longer to wake than the fill.
constexpr std::size_t kFillInRangesBytes = std::size_t{1} << 20;
} // namespace

HostWorld::HostWorld(PixelDepth depth, A_long width, A_long height, WorldFill fill, const RowRanges &ranges)
    : depth_(depth) {
    if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide)
        throw std::invalid_argument("world size out of range");
    const A_long rowbytes = paddedRowbytes(depth, width);
    const std::size_t bytes = std::max<std::size_t>(static_cast<std::size_t>(rowbytes) * height, 16);
    storage_ = SpareBlock(worldMemory(), bytes);
    std::byte *const storage = storage_.as<std::byte>();

    const auto fillRange = [&](A_long first, A_long end) {
        fillRows(storage, fill, depth, width, rowbytes, first, end);
    };
    if (ranges && bytes >= kFillInRangesBytes) ranges(height, fillRange);
    else fillRange(0, height);
    // The bytes after the last row (the few of a world of no pixels).
    const std::size_t filled = static_cast<std::size_t>(height) * static_cast<std::size_t>(rowbytes);
    if (bytes > filled)
        std::memset(storage + filled, fill == WorldFill::Clear ? 0 : kGarbageByte, bytes - filled);

    desc_.data = storage;
    desc_.rowbytes = rowbytes;
    desc_.width = width;
    desc_.height = height;
    desc_.extent_hint = {0, 0, width, height};
    desc_.pix_aspect_ratio = {1, 1};
    desc_.world_flags = depth == PixelDepth::Sixteen ? PF_WorldFlags{PF_WorldFlag_DEEP} : PF_WorldFlags{0};
}

HostWorld::~HostWorld() = default;

void HostWorld::releaseSpareStorage() { worldMemory().releaseAll(); }

std::size_t HostWorld::spareBlocks() { return worldMemory().blocks(); }

bool HostWorld::describedBy(const PF_EffectWorld &desc) const {
    return desc.data == desc_.data && desc.width == desc_.width && desc.height == desc_.height &&
           desc.rowbytes == desc_.rowbytes;
}

void HostWorld::setWriteable(bool writeable) {
    if (writeable) desc_.world_flags |= PF_WorldFlag_WRITEABLE;
    else desc_.world_flags &= ~static_cast<PF_WorldFlags>(PF_WorldFlag_WRITEABLE);
}

void *HostWorld::address(A_long x, A_long y) const {
    if (x < 0 || y < 0 || x >= desc_.width || y >= desc_.height) return nullptr;
    return storage_.as<std::byte>() + static_cast<std::size_t>(y) * desc_.rowbytes + static_cast<std::size_t>(x) * bytesPerPixel();
}

bool HostWorld::copyPixelsFrom(const HostWorld &other) {
    if (other.depth_ != depth_ || other.width() != width() || other.height() != height()) return false;
    const std::size_t rowBytes = static_cast<std::size_t>(width()) * bytesPerPixel();
    for (A_long y = 0; y < height(); ++y) std::memcpy(row(y), other.row(y), rowBytes);
    pixelsChanged();
    return true;
}

const AreaTable &HostWorld::areaTable() const {
    // The common case takes no lock: the current table, published with
    // release order once it was complete.
    const AreaTable *table = table_.load(std::memory_order_acquire);
    if (table && table->generation() == generation()) return *table;

    std::lock_guard lock(tableMutex_);
    const std::uint64_t wanted = generation();
    table = table_.load(std::memory_order_acquire);
    if (table && table->generation() == wanted) return *table; // another thread built it meanwhile
    auto fresh = std::make_unique<const AreaTable>(
        *this, wanted, tableHeldWhole_ ? AreaTable::Storage::Whole : AreaTable::Storage::BySize);
    table = fresh.get();
    tables_.push_back(std::move(fresh));
    builds_.fetch_add(1, std::memory_order_relaxed);
    table_.store(table, std::memory_order_release);
    return *table;
}

void HostWorld::dropStaleTables() {
    std::lock_guard lock(tableMutex_);
    const AreaTable *current = table_.load(std::memory_order_acquire);
    // The current table is stale too once the pixels moved on since it was built.
    if (current && current->generation() != generation()) {
        table_.store(nullptr, std::memory_order_release);
        current = nullptr;
    }
    std::erase_if(tables_, [&](const std::unique_ptr<const AreaTable> &table) { return table.get() != current; });
}

} // namespace headless
