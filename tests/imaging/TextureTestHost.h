// Test doubles for the imaging tests, offered through a headless host's suite
// registry in place of the host's own suites (which they restore when they
// go):
// - RecordingSamplers: the three area-sampling suites ("PF SamplingFloat
//   Suite", "PF Sampling16 Suite", "PF Sampling8 Suite", version 1). Every
//   call is recorded (depth, effect reference, 16.16 position, a copy of the
//   parameter block); the answer comes from a texture function of the
//   position in pixels, transparent black when the box of the radii misses
//   the source world (edge behaviour zero).
// - TestWorldSuite: "AEGP World Suite" 3 over plain heap buffers with padded
//   rows, booking every world in the ledger as Ledger::kHostWorlds. Each
//   function first asks the host's fault injector (service::kAegp, detail =
//   the function's name), so a test can make any call fail.
// The suites' functions carry no context of their own, so at most one of
// each double may exist at a time.
#pragma once

#include "headless/boundary/AreaSampler.h"
#include "headless/boundary/Host.h"
#include "headless/boundary/WorldSuites.h"
#include "imaging/Pixel.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace texture_test {

enum class Depth { k8, k16, kFloat };

struct SampleCall {
    Depth depth;
    PF_ProgPtr effectRef;
    PF_Fixed x, y;
    PF_SampPB pb;
    double px() const { return x / 65536.0; }
    double py() const { return y / 65536.0; }
};

// Colour of the source at (x, y) in pixels, inside the source world.
using TextureFn = std::function<PF_PixelFloat(double x, double y)>;

class RecordingSamplers {
public:
    explicit RecordingSamplers(headless::Host &host) : host_(host)
    {
        active_ = this;
        host_.suites().add("PF SamplingFloat Suite", 1, &floatSuite_);
        host_.suites().add("PF Sampling16 Suite", 1, &suite16_);
        host_.suites().add("PF Sampling8 Suite", 1, &suite8_);
    }
    // Gives the host its own samplers back.
    ~RecordingSamplers()
    {
        headless::installSamplingSuites(host_.suites());
        active_ = nullptr;
    }
    RecordingSamplers(const RecordingSamplers &) = delete;
    RecordingSamplers &operator=(const RecordingSamplers &) = delete;

    // Opaque, red = x / 256, green = y / 256, blue 0.5 unless replaced.
    void setTexture(TextureFn fn) { texture_ = std::move(fn); }

    std::vector<SampleCall> calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    size_t count() const
    {
        std::lock_guard lock(mutex_);
        return calls_.size();
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

private:
    template <class P>
    static PF_Err sample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB *pb, P *out)
    {
        RecordingSamplers *self = active_;
        constexpr Depth depth = std::is_same_v<P, PF_Pixel>     ? Depth::k8
                                : std::is_same_v<P, PF_Pixel16> ? Depth::k16
                                                                : Depth::kFloat;
        {
            std::lock_guard lock(self->mutex_);
            self->calls_.push_back({depth, ref, x, y, *pb});
        }
        const PF_PixelFloat colour = self->colourAt(x / 65536.0, y / 65536.0, *pb);
        *out = fromPixelF<P>(&colour);
        return PF_Err_NONE;
    }

    // Transparent black when the sampling box misses the source; otherwise
    // the texture at the box centre, moved into the source.
    PF_PixelFloat colourAt(double x, double y, const PF_SampPB &pb) const
    {
        const PF_EffectWorld *src = pb.src;
        const double rx = pb.x_radius / 65536.0, ry = pb.y_radius / 65536.0;
        if (!src || x + rx < 0.0 || y + ry < 0.0 || x - rx >= src->width ||
            y - ry >= src->height)
            return PF_PixelFloat{};
        x = std::clamp(x, 0.0, src->width - 1.0);
        y = std::clamp(y, 0.0, src->height - 1.0);
        if (texture_) return texture_(x, y);
        return PF_PixelFloat{1.0f, static_cast<float>(x / 256.0), static_cast<float>(y / 256.0),
                             0.5f};
    }

    static inline RecordingSamplers *active_ = nullptr;

    headless::Host &host_;
    TextureFn texture_;
    mutable std::mutex mutex_;
    std::vector<SampleCall> calls_;
    PF_SamplingFloatSuite1 floatSuite_{nullptr, nullptr, &sample<PF_PixelFloat>};
    PF_Sampling16Suite1 suite16_{nullptr, nullptr, &sample<PF_Pixel16>};
    PF_Sampling8Suite1 suite8_{nullptr, nullptr, &sample<PF_Pixel>};
};

class TestWorldSuite {
public:
    // Row padding the double adds, so that tests see rowbytes != width * size.
    static constexpr A_long kRowPadding = 12;

    struct Request {
        AEGP_PluginID plugin;
        AEGP_WorldType type;
        A_long width, height;
    };

    explicit TestWorldSuite(headless::Host &host) : host_(host)
    {
        active_ = this;
        host_.suites().add("AEGP World Suite", 3, &table_);
    }
    // Gives the host its own world suites back.
    ~TestWorldSuite()
    {
        headless::installWorldSuites(host_.suites());
        active_ = nullptr;
    }
    TestWorldSuite(const TestWorldSuite &) = delete;
    TestWorldSuite &operator=(const TestWorldSuite &) = delete;

    std::vector<Request> requests() const { return requests_; }
    size_t live() const { return worlds_.size(); }
    // Pixel size the double gives each world type; unknown types get 4 bytes.
    static A_long pixelBytes(AEGP_WorldType type)
    {
        return type == AEGP_WorldType_16 ? 8 : type == AEGP_WorldType_32 ? 16 : 4;
    }

private:
    struct Buffer {
        AEGP_WorldType type;
        A_long width, height, rowbytes;
        std::vector<unsigned char> bytes;
    };

    static PF_Err fault(const char *function)
    {
        return headless::Host::current()->faults().check(headless::service::kAegp, function);
    }
    static Buffer *find(AEGP_WorldH handle)
    {
        auto it = active_->worlds_.find(handle);
        return it == active_->worlds_.end() ? nullptr : it->second.get();
    }

    static A_Err New(AEGP_PluginID plugin, AEGP_WorldType type, A_long width, A_long height,
                     AEGP_WorldH *handle)
    {
        *handle = nullptr;
        active_->requests_.push_back({plugin, type, width, height});
        if (PF_Err err = fault("AEGP_New")) return err;
        if (width < 0 || height < 0) return PF_Err_BAD_CALLBACK_PARAM;
        auto buffer = std::make_unique<Buffer>();
        buffer->type = type;
        buffer->width = width;
        buffer->height = height;
        buffer->rowbytes = width * pixelBytes(type) + kRowPadding;
        buffer->bytes.assign(static_cast<size_t>(buffer->rowbytes) * height, 0);
        *handle = reinterpret_cast<AEGP_WorldH>(buffer.get());
        active_->worlds_[*handle] = std::move(buffer);
        headless::Host::current()->ledger().add(headless::Ledger::kHostWorlds);
        return PF_Err_NONE;
    }
    static A_Err Dispose(AEGP_WorldH handle)
    {
        if (PF_Err err = fault("AEGP_Dispose")) return err;
        if (!active_->worlds_.erase(handle)) {
            headless::Host::current()->ledger().problem("AEGP_Dispose: unknown world");
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        headless::Host::current()->ledger().remove(headless::Ledger::kHostWorlds);
        return PF_Err_NONE;
    }
    static A_Err GetType(AEGP_WorldH handle, AEGP_WorldType *type)
    {
        Buffer *b = find(handle);
        if (!b) return PF_Err_BAD_CALLBACK_PARAM;
        *type = b->type;
        return PF_Err_NONE;
    }
    static A_Err GetSize(AEGP_WorldH handle, A_long *width, A_long *height)
    {
        Buffer *b = find(handle);
        if (!b) return PF_Err_BAD_CALLBACK_PARAM;
        *width = b->width;
        *height = b->height;
        return PF_Err_NONE;
    }
    static A_Err FillOut(AEGP_WorldH handle, PF_EffectWorld *world)
    {
        // A failing host may leave a half-written description behind.
        world->width = 99;
        if (PF_Err err = fault("AEGP_FillOutPFEffectWorld")) return err;
        Buffer *b = find(handle);
        if (!b) return PF_Err_BAD_CALLBACK_PARAM;
        std::memset(world, 0, sizeof *world);
        world->data = b->bytes.data();
        world->rowbytes = b->rowbytes;
        world->width = b->width;
        world->height = b->height;
        return PF_Err_NONE;
    }

    static inline TestWorldSuite *active_ = nullptr;

    headless::Host &host_;
    std::vector<Request> requests_;
    std::map<AEGP_WorldH, std::unique_ptr<Buffer>> worlds_;
    AEGP_WorldSuite3 table_{&New, &Dispose, &GetType, &GetSize, &FillOut};
};

} // namespace texture_test

#include "scene/RenderInfo.h"

namespace texture_test {

using Record = RenderInfoTemplate<Hyperboloid>;

// Final semi-axes a, b, c and their derived values, as scene construction
// stores them.
inline void SetSemiAxes(Hyperboloid &shape, float a, float b, float c)
{
    using Vectormath::Aos::Vector3;
    shape.radii = Vector3(a, b, c);
    shape.radiiSquared = Vector3(a * a, b * b, c * c);
    const float ia = 1.0f / a, ib = 1.0f / b, ic = c > 0.0f ? 1.0f / c : 0.0f;
    shape.invRadii = Vector3(ia, ib, ic);
    shape.invRadiiSquared = Vector3(ia * ia, ib * ib, ic * ic);
}

// A chosen texture layer of the given size. The first pointer marks it as
// chosen; its pixels are whatever the sampler under test provides.
inline PF_LayerDef TextureLayer(A_long width, A_long height, PF_PixelPtr pixels = nullptr,
                                A_long rowbytes = 0)
{
    static int marker;
    PF_LayerDef layer{};
    layer.reserved0 = &marker;
    layer.data = pixels;
    layer.rowbytes = rowbytes;
    layer.width = width;
    layer.height = height;
    return layer;
}

} // namespace texture_test
