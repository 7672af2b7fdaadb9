// The render record: everything one frame's ray trace needs.
//
// Lifecycle: the smart render constructs one RenderInfoTemplate<Hyperboloid>
// per render call on its own stack, stores the downsample factors, pixel
// aspect and pixel format, lets ConstructRenderInfo fill the rest from the
// parameters and the composition, copies the layer descriptions in, and then
// hands the record to the host's per-pixel iteration. It dies at the end of
// the render call.
//
// Thread safety: written only by the thread that handles the render call,
// before the iteration starts; read-only, without locks, on the render threads
// afterwards. The one exception is the sampling-suite slots of `suites`, which
// are safe to fill from several render threads at once.
//
// Ownership: the record owns its lights and the list that holds them. It does
// not own inData, outputWorld or the four depth-of-field buffers, and the two
// PF_LayerDef copies are plain copies whose pixels remain the host's.
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "host/AEGP_SuiteHandler.h"
#include "host/SDK.h"
#include "scene/Hyperboloid.h"
#include "scene/Light.h"
#include "scene/Vectormath.h"

#include <atomic>
#include <bit>
#include <cstdint>

namespace AEO {
class World;
}

class TraceScratch;
class DofSideBuffers;

// Per-shape settings that go with the render record.
// "Falloff" choices (the record's falloffMode).
inline constexpr int kFalloffNone = 1;
inline constexpr int kFalloffSmooth = 2;
inline constexpr int kFalloffInverseSquareClamped = 3;

template <class Shape> struct ExtraRenderInfo;

template <> struct ExtraRenderInfo<Hyperboloid> {
    // Repetition of the texture along the axis ("Extend Hyperboloid"). The
    // operations are defined with the surface geometry in tracer/.
    struct ExtensionInfo {
        // Extra copies on the head sheet (local z <= 0).
        int headExtensions = 0;
        // Extra copies on the tail sheet (local z > 0).
        int tailExtensions = 0;
        // Odd copies are mirrored vertically.
        bool flipVertical = false;
        // Turns of u added per copy.
        double screwTurns = 0.0;
        // Gap between copies, in units of v.
        double interval = 0.0;
        // Whether the head (z <= 0) and the tail (z > 0) sheet carry texture.
        bool renderHead = true;
        bool renderTail = true;

        // Maps (u, v) into the copy the normalised point pn lies on; returns
        // the copy's index.
        int modifyUVByExtendedCylinder(const Vectormath::Aos::Vector3 &pn,
                                       const RenderInfoTemplate<Hyperboloid> &info, double &u,
                                       double &v) const;
        // Whether copy n exists on the sheet of the normalised point pn.
        bool isTextureInExtension(int n, const Vectormath::Aos::Vector3 &pn) const;
        // The copies on the sheet of pn, first to last (none when first >
        // last): copy n exists there exactly when first <= n <= last.
        struct Copies {
            long long first, last;
            bool holds(long long n) const { return first <= n && n <= last; }
        };
        Copies copiesOn(const Vectormath::Aos::Vector3 &pn) const;
    };
};

// Growable array of owned lights, stored on host memory. Capacity starts at
// one element and doubles when full.
class vLightList {
public:
    vLightList() = default;
    ~vLightList() { clear(); }
    vLightList(const vLightList &) = delete;
    vLightList &operator=(const vLightList &) = delete;

    // Appends a light and takes ownership of it. A null light is not stored.
    // When the storage cannot grow the light is destroyed at once, so a caller
    // never has to clean up; false then tells that it was not stored.
    bool append(vLight *light);
    // Destroys every light and returns the storage to the host.
    void clear();

    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    vLight *operator[](size_t i) const { return items_[i]; }
    vLight *const *begin() const { return items_; }
    vLight *const *end() const { return items_ + size_; }

private:
    vLight **items_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Quotients of record values that every textured hit would otherwise divide
// by, worked out once per pass (the record's beginPass): the reciprocals of
// the open factor k and of the texture's rows, 1 - 1/k, and the axial scale
// textureHeight k / c. A division takes the processor as long as a dozen
// multiplications, and a hit makes enough of them to be held up by them.
// Each quotient is the very value the hit's own division would give. They
// hold only for the values they were made from, which they keep bit for bit:
// a record changed after beginPass (tools and tests set fields directly)
// fails holdsFor, and the caller divides as before.
struct SurfaceQuotients {
    std::uint64_t openFactorBits = 0, textureHeightBits = 0;
    std::uint32_t cBits = 0;
    int rows = 0;
    bool made = false;
    double inverseOpen = 0.0, openBlend = 0.0, axialPerC = 0.0, inverseRows = 0.0;

    void make(double k, double textureHeight, float c, int textureRows)
    {
        openFactorBits = std::bit_cast<std::uint64_t>(k);
        textureHeightBits = std::bit_cast<std::uint64_t>(textureHeight);
        cBits = std::bit_cast<std::uint32_t>(c);
        rows = textureRows;
        inverseOpen = 1.0 / k;
        openBlend = 1.0 - 1.0 / k;
        axialPerC = textureHeight * k / c;
        inverseRows = textureRows != 0 ? 1.0 / textureRows : 0.0;
        made = true;
    }
    bool holdsFor(double k, double textureHeight, float c, int textureRows) const
    {
        return made && std::bit_cast<std::uint64_t>(k) == openFactorBits &&
               std::bit_cast<std::uint64_t>(textureHeight) == textureHeightBits &&
               std::bit_cast<std::uint32_t>(c) == cBits && textureRows == rows;
    }

    // What the surface metric divides by: 1/k, 1 - 1/k and textureHeight k / c,
    // the pass's where they hold for these values, otherwise divided here.
    struct Metric {
        double inverseOpen, openBlend, axialPerC;
    };
    Metric metricFor(double k, double textureHeight, float c, int textureRows) const
    {
        if (holdsFor(k, textureHeight, c, textureRows)) return {inverseOpen, openBlend, axialPerC};
        return {1.0 / k, 1.0 - 1.0 / k, textureHeight * k / c};
    }
};

template <class Shape> class RenderInfoTemplate {
public:
    // Distance fog and fade-out ("Depth Composite").
    struct DepthCompositeInfo {
        // 1 Off, 2 Fog, 3 Fade Out.
        int mode = 1;
        // End depth minus start depth; may be zero or negative.
        double range = 1.0;
        double start = 0.0;
        // Alpha 1 and the fog colour / 255.
        PF_PixelFloat fogColor{0.0f, 0.0f, 0.0f, 0.0f};
    };

    // Stores the in-data and builds the suite cache from its basic suite
    // (throws PF_Err_BAD_CALLBACK_PARAM when there is none).
    explicit RenderInfoTemplate(PF_InData *inData);
    // Destroys the lights, frees their list, then releases the suites.
    ~RenderInfoTemplate();
    RenderInfoTemplate(const RenderInfoTemplate &) = delete;
    RenderInfoTemplate &operator=(const RenderInfoTemplate &) = delete;

    PF_InData *inData;
    AEGP_SuiteHandler suites;
    double downsampleX = 0.0;
    double downsampleY = 0.0;
    double pixelAspect = 0.0;
    Shape shape;
    bool isOpen = false;
    // Texture slide in turns.
    double textureSlide = 0.0;
    // Copy of the "Texture" layer; a texture is present when its first pointer is set.
    PF_LayerDef textureLayer;
    // Texture width in full-resolution pixels.
    double textureWidth = 0.0;
    // Axial length, in object units, that one texture height covers.
    double textureHeight = 0.0;
    PF_LayerDef *outputWorld = nullptr;
    PF_PixelFormat pixelFormat = 0;
    // (composition width / 2, composition height / 2, -zoom), pixels.
    Vectormath::Aos::Vector3 imagePlane;
    Vectormath::Aos::Matrix4 cameraToWorld;
    Vectormath::Aos::Matrix4 cameraToObject;
    bool showPivot = false;
    double openFactor = 0.0;
    double fixedPointU = 0.0;
    double fixedPointV = 0.0;
    // In composition layer order.
    vLightList lights;
    // 1 None, 2 Smooth, 3 Inverse Square Clamped.
    int falloffMode = 1; // kFalloffNone, kFalloffSmooth, kFalloffInverseSquareClamped
    double falloffRadius = 1.0;
    double falloffDistance = 1.0;
    bool selfShadow = false;
    // Material values as fractions; shininess is the specular exponent.
    float lightTransmission = 0.0f;
    float emit = 0.0f;
    float ambient = 0.0f;
    float diffuse = 0.0f;
    float specular = 0.0f;
    float shininess = 0.0f;
    float metal = 0.0f;
    // Copy of the "Reflection Map" layer; all zero (no map) unless one is chosen.
    PF_LayerDef reflectionLayer;
    float reflectionIntensity = 0.0f;
    float reflectionRolloff = 0.0f;
    // The eye in object space and the quadric's value there.
    double eyeX = 0.0;
    double eyeY = 0.0;
    double eyeZ = 0.0;
    double eyeImplicit = 0.0;
    // 1 Full, 2 Inside, 3 Outside.
    int renderSide = 0;
    // 1 Off, 2 Camera Settings, 3 On.
    int dofMode = 0;
    bool perspective = false;
    bool dofEnabled = false;
    double focusDistance = 0.0;
    double dofBlurScale = 0.0;
    // Depth-of-field buffers, owned by the smart render; set only when dofEnabled.
    AEO::World *nearColorWorld = nullptr;
    AEO::World *farColorWorld = nullptr;
    AEO::World *nearDepthWorld = nullptr;
    AEO::World *farDepthWorld = nullptr;
    // What the smart render learnt of those four buffers between the depth
    // pass and the depth-of-field pass (imaging/DofComposite.h); null where it
    // learnt nothing, and the depth-of-field pass then checks every pixel.
    const DofSideBuffers *dofSideBuffers = nullptr;
    // 1 - sharpness; scales the texture footprint.
    double textureBlur = 1.0;
    typename ExtraRenderInfo<Shape>::ExtensionInfo extension;
    DepthCompositeInfo depthComposite;

    // Tells the pixel passes apart: no two passes of this process, over this
    // record or any other, share a serial. The pixel callbacks keep per-thread
    // work (the coverage of the pixels ahead) only within one pass, over a
    // record that does not change during it. A record starts with a serial of
    // its own; call beginPass before each further pass, so that a record
    // changed between passes is never served work of the one before.
    std::uint64_t passSerial;
    // Each render thread's working memory over the pixel passes, owned by
    // the smart render while they run (see tracer/PixelCallbacks.h); null
    // outside them, where the passes work without it.
    TraceScratch *traceScratch = nullptr;
    // The texture footprint's bound factor of this pass (footprintBoundScale),
    // 0 (no bound) until beginPass.
    double footprintBound = 0.0;
    // This pass's quotients of the surface and texture values (see
    // SurfaceQuotients), none until beginPass.
    SurfaceQuotients quotients;
    // Starts a pass: a new serial, and the values the passes derive from the
    // record as it now is.
    void beginPass();

    // The first error a host sampler answered during the pixel passes. The
    // shading goes on with a transparent sample (it has no error path of its
    // own); the render handler reports this error once a pass is over, so a
    // frame with a failed sample is never taken for a finished one. Written
    // from the render threads, hence atomic.
    mutable std::atomic<PF_Err> samplingErr{PF_Err_NONE};
    void noteSamplingErr(PF_Err err) const {
        PF_Err none = PF_Err_NONE;
        if (err != PF_Err_NONE) samplingErr.compare_exchange_strong(none, err);
    }
};

extern template class RenderInfoTemplate<Hyperboloid>;

// Fills the record from the effect's parameters and the composition (scene
// construction). Returns the first parameter checkout the host refused;
// errors of the host-object wrappers are absorbed (their defaults are used).
PF_Err ConstructRenderInfo(const PF_InData *inData, RenderInfoTemplate<Hyperboloid> &info);
