// Shared set-up of the shading, per-pixel pass and depth-of-field tests: a
// render record on a headless host, with the host's own worlds for the
// texture, the reflection map and the output, lights made on host memory, and
// passes run through the host's generic iterator (so that its samplers see
// what the effect wrote, as a real host's would).
//
// The default surface has semi-axes a = b = c = 100 in an identity frame, is
// not opened, and one texture height covers 100 units along the axis. The
// material is emission only (emit 1); there are no lights, no texture, no
// reflection map and no depth composite until a test adds them.
//
// Host memory (lights, effect worlds) reaches the one live host, so a test
// keeps at most one Scene alive at a time.
#pragma once

#include "headless/boundary/Host.h"
#include "headless/images/HostWorld.h"
#include "host/aeLibInit.h"
#include "imaging/Pixel.h"
#include "scene/Light.h"
#include "scene/RenderInfo.h"
#include "tracer/PixelCallbacks.h"
#include "tracer/Ray.h"
#include "tracer/SurfacePoint.h"
#include "tracer/TracerTestSupport.h"

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace shading_test {

using tracer_test::Frame;
using tracer_test::Record;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

inline constexpr AEGP_PluginID kPluginID = 11;
inline constexpr float kRadius = 100.0f;
inline constexpr double kTextureHeight = 100.0;

inline constexpr A_long kParallel = 0, kSpot = 1, kPoint = 2, kAmbient = 3;

using ColourFn = std::function<PF_PixelFloat(int x, int y)>;

inline ColourFn Uniform(PF_PixelFloat colour)
{
    return [colour](int, int) { return colour; };
}

template <class P> constexpr PF_PixelFormat FormatOf()
{
    if constexpr (std::is_same_v<P, PF_PixelFloat>)
        return PF_PixelFormat_ARGB128;
    else if constexpr (std::is_same_v<P, PF_Pixel16>)
        return PF_PixelFormat_ARGB64;
    else
        return PF_PixelFormat_ARGB32;
}

class Scene {
public:
    explicit Scene(int threads = 1) : host_(Options(threads))
    {
        context_ = std::make_unique<aeLibInit>(PF_Cmd_SMART_RENDER, kPluginID, host_.inData());
        info_ = std::make_unique<Record>(host_.inData());
        scratch_ = std::make_unique<TraceScratch>(kScratchAsRendered);
        Record &info = *info_;
        tracer_test::SetFullResolution(info);
        tracer_test::SetSemiAxes(info.shape, kRadius, kRadius, kRadius);
        info.shape.objectToWorld = Matrix4::identity();
        info.shape.worldToObject = Matrix4::identity();
        info.openFactor = 1.0;
        info.textureHeight = kTextureHeight;
        info.textureBlur = 1.0;
        info.renderSide = 1;
        info.emit = 1.0f;
        info.shininess = 1.0f;
        info.pixelFormat = PF_PixelFormat_ARGB128;
    }
    ~Scene()
    {
        info_.reset(); // frees the lights while the command context is open
        scratch_.reset();
        publications_.clear();
        worlds_.clear();
        context_.reset();
    }
    Scene(const Scene &) = delete;
    Scene &operator=(const Scene &) = delete;

    headless::Host &host() { return host_; }
    Record &info() { return *info_; }
    Record *operator->() { return info_.get(); }

    // A host world of pixel type P filled by fn, published to the samplers.
    template <class P> headless::HostWorld &world(int width, int height, const ColourFn &fn)
    {
        auto &w = newWorld<P>(width, height, headless::WorldAccess::ReadOnly);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const PF_PixelFloat c = fn(x, y);
                *w.template pixel<P>(x, y) = fromPixelF<P>(&c);
            }
        w.pixelsChanged();
        return w;
    }

    // The layer description a layer parameter gives for `w`.
    static PF_LayerDef LayerOf(const headless::HostWorld &w)
    {
        PF_LayerDef layer = w.effectWorld();
        layer.reserved0 = const_cast<headless::HostWorld *>(&w); // "a layer is chosen"
        return layer;
    }

    template <class P> void setTexture(int width, int height, const ColourFn &fn)
    {
        info_->textureLayer = LayerOf(world<P>(width, height, fn));
    }
    template <class P> void setReflectionMap(int width, int height, const ColourFn &fn)
    {
        info_->reflectionLayer = LayerOf(world<P>(width, height, fn));
    }

    // The output of the passes: a world of type P that starts as garbage.
    template <class P> headless::HostWorld &setOutput(int width, int height)
    {
        auto &w = newWorld<P>(width, height, headless::WorldAccess::EffectWrites,
                              headless::WorldFill::Garbage);
        output_ = w.effectWorld();
        info_->outputWorld = &output_;
        info_->pixelFormat = FormatOf<P>();
        return w;
    }

    vLight &addLight(A_long type, const Vector3 &position, const Vector3 &axis,
                     PF_PixelFloat colour, double intensity)
    {
        vLight *light = new vLight;
        // Host memory needs the one live host: never keep two Scenes at once.
        if (!light) throw std::runtime_error("no host memory for a light");
        light->lightToObject = Matrix4::affine(Vector3(1, 0, 0), Vector3(0, 1, 0), axis, position);
        light->color = colour;
        light->type = type;
        light->intensity = intensity;
        light->coneCos = 0.0;
        light->coneFeather = 1.0;
        light->shadowDarkness = 1.0f;
        light->castsShadows = true;
        info_->lights.append(light);
        return *light;
    }

    // Blocks of per-thread scratch the passes get, as the smart render gives
    // them.
    static constexpr int kScratchAsRendered = 64;

    // Runs fn over every output pixel through the host's generic iterator.
    // The passes share one scratch of kScratchAsRendered blocks, as the
    // passes of one frame do.
    PF_Err iterate(PF_IterateGenericFunc fn) { return iterate(fn, scratch_.get()); }
    // The same with a scratch of its own of `scratchThreads` blocks; none
    // for 0.
    PF_Err iterate(PF_IterateGenericFunc fn, int scratchThreads)
    {
        TraceScratch scratch(scratchThreads);
        return iterate(fn, scratchThreads > 0 ? &scratch : nullptr);
    }

private:
    static headless::HostOptions Options(int threads)
    {
        headless::HostOptions options;
        options.threads = threads;
        return options;
    }

    template <class P>
    headless::HostWorld &newWorld(int width, int height, headless::WorldAccess access,
                                  headless::WorldFill fill = headless::WorldFill::Clear)
    {
        worlds_.push_back(
            std::make_unique<headless::HostWorld>(headless::depthOf<P>(), width, height, fill));
        publications_.push_back(host_.worlds().publish(*worlds_.back(), access));
        return *worlds_.back();
    }

    PF_Err iterate(PF_IterateGenericFunc fn, TraceScratch *scratch)
    {
        const PF_LayerDef *out = info_->outputWorld;
        const A_long count = out->width * out->height;
        info_->traceScratch = scratch;
        info_->beginPass();
        const PF_Err err = host_.run(PF_Cmd_SMART_RENDER, [&] {
            return host_.inData()->utils->iterate_generic(count, info_.get(), fn);
        });
        info_->traceScratch = nullptr;
        return err;
    }

    headless::Host host_;
    std::unique_ptr<aeLibInit> context_;
    std::unique_ptr<TraceScratch> scratch_; // on host memory: goes before the context
    std::vector<std::unique_ptr<headless::HostWorld>> worlds_;
    std::vector<headless::Worlds::Publication> publications_;
    PF_LayerDef output_{};
    std::unique_ptr<Record> info_;
};

// The surface point of texture coordinates (u, v) of the default surface.
inline Vector3 SurfaceAt(const Record &info, double u, double v)
{
    return info.shape.getHitcoordFromUV(info.textureHeight, info.shape.radii, u, v);
}

// The unit normal at p, pointing into the bowls.
inline Vector3 NormalAt(const Record &info, const Vector3 &p)
{
    return SurfaceNormal(info.shape, p);
}

// A ray along `direction` (unit) that reaches p at t = kReach.
inline constexpr double kReach = 10.0;
inline Ray RayTo(const Vector3 &p, const Vector3 &direction)
{
    return Ray{direction, Vector4(p - direction * static_cast<float>(kReach), 1.0f)};
}

inline PF_PixelFloat Pixel(float a, float r, float g, float b) { return PF_PixelFloat{a, r, g, b}; }

} // namespace shading_test
