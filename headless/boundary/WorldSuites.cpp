#include "headless/boundary/WorldSuites.h"

#include "headless/boundary/Host.h"
#include "headless/images/HostWorld.h"
#include "headless/boundary/Worlds.h"

#include <cstring>
#include <sstream>

namespace headless {

namespace {

// The suites' names are the ones the effect asks for.
constexpr const char *kAegpWorldSuiteName = "AEGP World Suite";
constexpr A_long kAegpWorldSuiteVersion = 3;

A_Err toAegpError(PF_Err err) {
    switch (err) {
    case PF_Err_NONE: return A_Err_NONE;
    case PF_Err_BAD_CALLBACK_PARAM: return A_Err_PARAMETER;
    case PF_Err_OUT_OF_MEMORY: return A_Err_ALLOC;
    default: return err;
    }
}

void nullArgument(Host &host, const char *function, const char *argument) {
    host.ledger().problem(std::string(function) + ": null " + argument);
}

// ---- "AEGP World Suite" 3: no effect reference, so the current host ------------

A_Err aegpNew(AEGP_PluginID, AEGP_WorldType type, A_long widthL, A_long heightL, AEGP_WorldH *worldPH) {
    Host *host = Host::current();
    if (!host) return A_Err_GENERIC;
    if (!worldPH) {
        nullArgument(*host, "AEGP_New", "world handle pointer");
        return A_Err_PARAMETER;
    }
    *worldPH = nullptr;
    if (PF_Err err = host->faults().check(service::kNewWorld, "AEGP_New")) return err;
    PixelDepth depth;
    if (!depthFromWorldType(type, depth)) return A_Err_PARAMETER;
    HostWorld *world = nullptr;
    return toAegpError(host->worlds().create(Worlds::Maker::AegpWorldSuite, depth, widthL, heightL,
                                             WorldFill::Garbage, world, *worldPH, host->rowRanges()));
}

A_Err aegpDispose(AEGP_WorldH worldH) {
    Host *host = Host::current();
    if (!host) return A_Err_GENERIC;
    return host->worlds().dispose(worldH, "AEGP_Dispose") ? A_Err_NONE : A_Err_PARAMETER;
}

A_Err aegpGetType(AEGP_WorldH worldH, AEGP_WorldType *typeP) {
    Host *host = Host::current();
    if (!host) return A_Err_GENERIC;
    if (!typeP) {
        nullArgument(*host, "AEGP_GetType", "type pointer");
        return A_Err_PARAMETER;
    }
    *typeP = AEGP_WorldType_NONE;
    const HostWorld *world = host->worlds().byHandle(worldH, "AEGP_GetType");
    if (!world) return A_Err_PARAMETER;
    *typeP = static_cast<AEGP_WorldType>(world->depth());
    return A_Err_NONE;
}

A_Err aegpGetSize(AEGP_WorldH worldH, A_long *widthPL, A_long *heightPL) {
    Host *host = Host::current();
    if (!host) return A_Err_GENERIC;
    if (!widthPL || !heightPL) {
        nullArgument(*host, "AEGP_GetSize", "size pointer");
        return A_Err_PARAMETER;
    }
    *widthPL = *heightPL = 0;
    const HostWorld *world = host->worlds().byHandle(worldH, "AEGP_GetSize");
    if (!world) return A_Err_PARAMETER;
    *widthPL = world->width();
    *heightPL = world->height();
    return A_Err_NONE;
}

A_Err aegpFillOutPFEffectWorld(AEGP_WorldH worldH, PF_EffectWorld *pf_worldP) {
    Host *host = Host::current();
    if (!host) return A_Err_GENERIC;
    if (!pf_worldP) {
        nullArgument(*host, "AEGP_FillOutPFEffectWorld", "world description pointer");
        return A_Err_PARAMETER;
    }
    std::memset(pf_worldP, 0, sizeof *pf_worldP);
    const HostWorld *world = host->worlds().byHandle(worldH, "AEGP_FillOutPFEffectWorld");
    if (!world) return A_Err_PARAMETER;
    *pf_worldP = world->effectWorld();
    return A_Err_NONE;
}

// ---- "PF World Suite" 2 ------------------------------------------------------------

PF_Err pfNewWorld(PF_ProgPtr effect_ref, A_long widthL, A_long heightL, PF_Boolean clear_pixB,
                  PF_PixelFormat pixel_format, PF_EffectWorld *worldP) {
    Host *host = Host::fromEffectRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    if (!worldP) {
        nullArgument(*host, "PF_NewWorld", "world description pointer");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    std::memset(worldP, 0, sizeof *worldP);
    if (PF_Err err = host->faults().check(service::kNewWorld, "PF_NewWorld")) return err;
    PixelDepth depth;
    if (!depthFromPixelFormat(pixel_format, depth)) return PF_Err_BAD_CALLBACK_PARAM;
    HostWorld *world = nullptr;
    AEGP_WorldH unused = nullptr;
    const WorldFill fill = clear_pixB ? WorldFill::Clear : WorldFill::Garbage;
    if (PF_Err err = host->worlds().create(Worlds::Maker::PfWorldSuite, depth, widthL, heightL, fill, world, unused,
                                           host->rowRanges()))
        return err;
    *worldP = world->effectWorld();
    return PF_Err_NONE;
}

PF_Err pfDisposeWorld(PF_ProgPtr effect_ref, PF_EffectWorld *worldP) {
    Host *host = Host::fromEffectRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    if (!worldP) {
        nullArgument(*host, "PF_DisposeWorld", "world description pointer");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (!host->worlds().dispose(*worldP, "PF_DisposeWorld")) return PF_Err_BAD_CALLBACK_PARAM;
    // What the description pointed at is gone; make a later use of it fail
    // plainly rather than read freed pixels.
    std::memset(worldP, 0, sizeof *worldP);
    return PF_Err_NONE;
}

PF_Err pfGetPixelFormat(const PF_EffectWorld *worldP, PF_PixelFormat *pixel_formatP) {
    Host *host = Host::current();
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    if (!worldP || !pixel_formatP) {
        nullArgument(*host, "PF_GetPixelFormat", worldP ? "pixel format pointer" : "world description pointer");
        if (pixel_formatP) *pixel_formatP = PF_PixelFormat_INVALID;
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *pixel_formatP = PF_PixelFormat_INVALID;
    if (PF_Err err = host->faults().check(service::kGetPixelFormat)) return err;
    const HostWorld *world = host->worlds().find(*worldP);
    if (!world) {
        std::ostringstream text;
        text << "PF_GetPixelFormat: no world of the host has pixels at " << worldP->data << " of size "
             << worldP->width << " x " << worldP->height << ", rowbytes " << worldP->rowbytes;
        host->ledger().problem(text.str());
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    *pixel_formatP = pixelFormatOf(world->depth());
    return PF_Err_NONE;
}

const AEGP_WorldSuite3 kAegpWorldSuite3 = {aegpNew, aegpDispose, aegpGetType, aegpGetSize, aegpFillOutPFEffectWorld};
const PF_WorldSuite2 kPfWorldSuite2 = {pfNewWorld, pfDisposeWorld, pfGetPixelFormat};

} // namespace

const AEGP_WorldSuite3 &aegpWorldSuite3() { return kAegpWorldSuite3; }
const PF_WorldSuite2 &pfWorldSuite2() { return kPfWorldSuite2; }

void installWorldSuites(SuiteRegistry &suites) {
    suites.add(kAegpWorldSuiteName, kAegpWorldSuiteVersion, &kAegpWorldSuite3);
    suites.add(kPFWorldSuite, kPFWorldSuiteVersion2, &kPfWorldSuite2);
}

} // namespace headless
