#include "headless/boundary/AreaSampler.h"

#include "headless/images/AreaTable.h"
#include "headless/boundary/Host.h"
#include "headless/images/HostWorld.h"
#include "headless/images/ProgramThreadLocal.h"
#include "headless/boundary/Worlds.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <sstream>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace headless {

namespace {

constexpr double kFixedOne = 65536.0;
constexpr double kHalfPixel = 0.5;

enum class Filter { Nearest, Bilinear, Area };

// ---- the filter ------------------------------------------------------------------

PF_PixelFloat resolve(const BoxSums &sums, double area, double noise, double full) {
    return resolveBox(sums, area, noise, full);
}

// Adds pixel p, covered by `weight` square pixels of the box, to the sums
// (non-finite float channels count as 0, as in the area tables).
template <class P> void accumulate(const P &p, double weight, BoxSums &sums) {
    double channels[4] = {double(p.alpha), double(p.red), double(p.green), double(p.blue)};
    if constexpr (std::is_same_v<P, PF_PixelFloat>)
        for (double &channel : channels) channel = std::isfinite(channel) ? channel : 0.0;
    const double alpha = channels[0] * weight;
    sums.alpha += alpha;
    sums.red += channels[1] * alpha;
    sums.green += channels[2] * alpha;
    sums.blue += channels[3] * alpha;
}

// Bilinear interpolation: the filter's box of one pixel around (x, y), summed
// straight from the (at most four) pixels it covers.
template <class P> PF_PixelFloat bilinear(const HostWorld &world, double x, double y) {
    const double left = x - kHalfPixel, top = y - kHalfPixel; // box [left, left + 1] in pixel-centre units
    const A_long i0 = static_cast<A_long>(std::floor(left + kHalfPixel));
    const A_long j0 = static_cast<A_long>(std::floor(top + kHalfPixel));
    BoxSums sums;
    for (A_long j = j0; j <= j0 + 1; ++j) {
        // Pixel j spans [j - 1/2, j + 1/2); the box spans [top, top + 1].
        const double wy = std::min(j + kHalfPixel, top + 1) - std::max(j - kHalfPixel, top);
        if (wy <= 0) continue;
        for (A_long i = i0; i <= i0 + 1; ++i) {
            const double wx = std::min(i + kHalfPixel, left + 1) - std::max(i - kHalfPixel, left);
            const P *p = world.pixel<P>(i, j);
            if (wx > 0 && p) accumulate(*p, wx * wy, sums);
        }
    }
    return resolve(sums, 1.0, 0.0, fullIntensity(world.depth()));
}

// The area filter over `table` at (x, y) with radii (rx, ry), in pixels.
PF_PixelFloat filterWith(const AreaTable &table, double x, double y, double rx, double ry) {
    // NaN radii fall back to the smallest box too.
    rx = rx > kHalfPixel ? rx : kHalfPixel;
    ry = ry > kHalfPixel ? ry : kHalfPixel;
    return table.filter(x, y, rx, ry);
}

// ---- the store into the suite's pixel type ---------------------------------------

// The system's one rule from float to an integer depth.
template <class Channel> Channel storeChannel(float value, float full) {
    const float scaled = value * full;
    if (scaled > full) return static_cast<Channel>(full);
    if (!(scaled >= 0.0f)) return 0; // below 0, or NaN
    return static_cast<Channel>(scaled);
}

// The rule channel by channel, into an integer pixel type.
template <class P> P storeByChannel(const PF_PixelFloat &p) {
    using Channel = decltype(P{}.alpha);
    const float full = static_cast<float>(fullIntensity(depthOf<P>()));
    return P{storeChannel<Channel>(p.alpha, full), storeChannel<Channel>(p.red, full),
             storeChannel<Channel>(p.green, full), storeChannel<Channel>(p.blue, full)};
}

static_assert(sizeof(PF_PixelFloat) == 4 * sizeof(float) && sizeof(PF_Pixel) == 4);

// storeEightBit, here where every sample can have it inline.
inline PF_Pixel storeEightBitInline(const PF_PixelFloat &p) {
#if defined(__SSE2__)
    // The rule on four lanes at once. max(x, 0) gives its second operand
    // when x is NaN, as the rule's 0 for NaN; min(x, 255) leaves 255 at 255.
    float channels[4];
    std::memcpy(channels, &p, sizeof channels);
    const __m128 full = _mm_set1_ps(255.0f);
    const __m128 scaled = _mm_mul_ps(_mm_loadu_ps(channels), full);
    const __m128 clamped = _mm_min_ps(_mm_max_ps(scaled, _mm_setzero_ps()), full);
    const __m128i words = _mm_cvttps_epi32(clamped);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(words, words), _mm_setzero_si128());
    const std::uint32_t packed = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
    PF_Pixel out;
    std::memcpy(&out, &packed, sizeof out);
    return out;
#else
    return storeByChannel<PF_Pixel>(p);
#endif
}

template <class P> P store(const PF_PixelFloat &p) {
    if constexpr (std::is_same_v<P, PF_PixelFloat>) return p;
    else if constexpr (std::is_same_v<P, PF_Pixel>) return storeEightBitInline(p);
    else return storeByChannel<P>(p);
}

// ---- the suite functions ---------------------------------------------------------

template <class P> constexpr const char *suiteName() {
    if constexpr (std::is_same_v<P, PF_Pixel>) return kPFSampling8Suite;
    else if constexpr (std::is_same_v<P, PF_Pixel16>) return kPFSampling16Suite;
    else return kPFSamplingFloatSuite;
}

const char *depthName(PixelDepth depth) {
    switch (depth) {
    case PixelDepth::Eight: return "an 8-bit";
    case PixelDepth::Sixteen: return "a 16-bit";
    case PixelDepth::Float: return "a float";
    }
    return "an unknown";
}

template <class P> PF_Err misuse(Host &host, const std::string &what) {
    host.worlds().problemOnce(std::string(suiteName<P>()) + ": " + what);
    return PF_Err_BAD_CALLBACK_PARAM;
}

// ---- the sources of area samples, remembered per thread --------------------------

// A render thread samples the same one or two worlds (a texture, a reflection
// map) sample after sample, so each thread remembers, per pixel type, the last
// few sources it found together with the table it read. A memo stands while
// the register it was found in keeps the stamp it had before the search
// (stamps are never reused, so the world is still the one its description
// names, and alive: see Worlds.h) and the world's generation is still the
// table's (so the table is current, and not freed: stale tables are dropped
// only where no sampler runs). Anything else takes the full path, which also
// records what is wrong.
struct SourceMemo {
    std::uint64_t stamp = 0; // 0: empty (registers' stamps start at 1)
    const void *data = nullptr;
    A_long width = 0, height = 0, rowbytes = 0;
    std::uint64_t generation = 0;
    const HostWorld *world = nullptr;
    const AreaTable *table = nullptr;
};
constexpr std::size_t kSourceMemos = 2;
template <class P> struct SourceMemos {
    std::array<SourceMemo, kSourceMemos> slots;
    std::size_t next = 0;
};
template <class P> thread_local SourceMemos<P> t_sources VELTRIX_PROGRAM_TLS;

// The remembered table of `src`, or null.
template <class P> const AreaTable *rememberedTable(Host &host, const PF_EffectWorld &src) {
    const std::uint64_t stamp = host.worlds().stamp();
    for (const SourceMemo &memo : t_sources<P>.slots)
        if (memo.stamp == stamp && memo.data == src.data && memo.width == src.width &&
            memo.height == src.height && memo.rowbytes == src.rowbytes &&
            memo.world->generation() == memo.generation)
            return memo.table;
    return nullptr;
}

// Remembers `table` of `world`, found by its description `src` while the
// register's stamp was `stamp`.
template <class P>
void rememberTable(std::uint64_t stamp, const PF_EffectWorld &src, const HostWorld &world, const AreaTable &table) {
    SourceMemos<P> &memos = t_sources<P>;
    memos.slots[memos.next] = SourceMemo{stamp, src.data, src.width, src.height, src.rowbytes, table.generation(),
                                         &world, &table};
    memos.next = (memos.next + 1) % kSourceMemos;
}

// The area filter of `table` at the sample's 16.16 place and radii, stored
// into the suite's pixel type; where a rolling table's rows find no memory,
// the pixel is transparent and the error out of memory.
template <class P>
[[gnu::always_inline]] inline PF_Err filterInto(const AreaTable &table, PF_Fixed x, PF_Fixed y,
                                                const PF_SampPB &params, P *dst_pixel) {
    try {
        *dst_pixel = store<P>(filterWith(table, x / kFixedOne, y / kFixedOne, params.x_radius / kFixedOne,
                                         params.y_radius / kFixedOne));
    } catch (const std::bad_alloc &) {
        *dst_pixel = P{};
        return PF_Err_OUT_OF_MEMORY;
    }
    return PF_Err_NONE;
}

// The world the block's source describes, of pixel type P, or null after
// recording why not.
template <class P> const HostWorld *sourceOf(Host &host, const PF_SampPB *params, PF_Err &err) {
    err = PF_Err_NONE;
    if (!params || !params->src) {
        err = misuse<P>(host, params ? "sampling parameter block without a source world" : "null sampling parameter block");
        return nullptr;
    }
    const PF_EffectWorld &src = *params->src;
    const HostWorld *world = host.worlds().find(src);
    if (!world) {
        std::ostringstream text;
        text << "no world of the host has pixels at " << src.data << " of size " << src.width << " x "
             << src.height << ", rowbytes " << src.rowbytes;
        err = misuse<P>(host, text.str());
        return nullptr;
    }
    if (world->depth() != depthOf<P>()) {
        std::ostringstream text;
        text << "source world at " << src.data << " is " << depthName(world->depth()) << " world";
        err = misuse<P>(host, text.str());
        return nullptr;
    }
    return world;
}

// Every sample's checks, faults and errors: the whole path.
template <class P, Filter filter>
[[gnu::noinline]] PF_Err sampleFully(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB *params,
                                     P *dst_pixel) {
    Host *host = Host::fromEffectRef(effect_ref);
    if (!host) {
        if (dst_pixel) *dst_pixel = P{};
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (!dst_pixel) return misuse<P>(*host, "null destination pixel");
    *dst_pixel = P{};

    Faults &faults = host->faults();
    if (faults.anyArmed()) {
        const auto service = filter == Filter::Area ? service::kAreaSample : service::kPointSample;
        if (PF_Err err = faults.check(service, suiteName<P>())) return err;
    }

    if constexpr (filter == Filter::Area) {
        if (params && params->src)
            if (const AreaTable *table = rememberedTable<P>(*host, *params->src))
                return filterInto(*table, x, y, *params, dst_pixel);
    }

    // Read before the search: a memo made from it is then at worst too old.
    const std::uint64_t stamp = host->worlds().stamp();
    PF_Err err;
    const HostWorld *world = sourceOf<P>(*host, params, err);
    if (!world) return err;

    const double cx = x / kFixedOne, cy = y / kFixedOne;
    switch (filter) {
    case Filter::Nearest:
        if (const P *p = world->pixel<P>(static_cast<A_long>(std::floor(cx + kHalfPixel)),
                                         static_cast<A_long>(std::floor(cy + kHalfPixel))))
            *dst_pixel = *p;
        return PF_Err_NONE;
    case Filter::Bilinear:
        *dst_pixel = store<P>(bilinear<P>(*world, cx, cy));
        return PF_Err_NONE;
    case Filter::Area: {
        const AreaTable *table = nullptr;
        try {
            table = &world->areaTable();
        } catch (const std::bad_alloc &) {
            return PF_Err_OUT_OF_MEMORY;
        }
        rememberTable<P>(stamp, *params->src, *world, *table);
        return filterInto(*table, x, y, *params, dst_pixel);
    }
    }
    return PF_Err_NONE;
}

// The suites' functions. An area sample of a source this thread sampled
// before (nearly every one of a frame), by the running command's effect,
// with no fault armed, goes straight to its table's filter; everything else
// takes the whole path, which finds the same table the same way.
template <class P, Filter filter>
PF_Err sample(PF_ProgPtr effect_ref, PF_Fixed x, PF_Fixed y, const PF_SampPB *params, P *dst_pixel) {
    if constexpr (filter == Filter::Area) {
        Host *host = effect_ref ? Host::runningWith(effect_ref) : nullptr;
        if (host && dst_pixel && params && params->src && !host->faults().anyArmed())
            if (const AreaTable *table = rememberedTable<P>(*host, *params->src))
                return filterInto(*table, x, y, *params, dst_pixel);
    }
    return sampleFully<P, filter>(effect_ref, x, y, params, dst_pixel);
}

const PF_Sampling8Suite1 kSampling8 = {sample<PF_Pixel, Filter::Nearest>, sample<PF_Pixel, Filter::Bilinear>,
                                       sample<PF_Pixel, Filter::Area>};
const PF_Sampling16Suite1 kSampling16 = {sample<PF_Pixel16, Filter::Nearest>, sample<PF_Pixel16, Filter::Bilinear>,
                                         sample<PF_Pixel16, Filter::Area>};
const PF_SamplingFloatSuite1 kSamplingFloat = {sample<PF_PixelFloat, Filter::Nearest>,
                                               sample<PF_PixelFloat, Filter::Bilinear>,
                                               sample<PF_PixelFloat, Filter::Area>};

} // namespace

PF_PixelFloat areaFilter(const HostWorld &world, double x, double y, double rx, double ry) {
    return filterWith(world.areaTable(), x, y, rx, ry);
}

PF_Pixel storeEightBit(const PF_PixelFloat &p) { return storeEightBitInline(p); }

const PF_Sampling8Suite1 &sampling8Suite1() { return kSampling8; }
const PF_Sampling16Suite1 &sampling16Suite1() { return kSampling16; }
const PF_SamplingFloatSuite1 &samplingFloatSuite1() { return kSamplingFloat; }

void installSamplingSuites(SuiteRegistry &suites) {
    suites.add(kPFSampling8Suite, kPFSampling8SuiteVersion1, &kSampling8);
    suites.add(kPFSampling16Suite, kPFSampling16SuiteVersion1, &kSampling16);
    suites.add(kPFSamplingFloatSuite, kPFSamplingFloatSuiteVersion1, &kSamplingFloat);
}

} // namespace headless
