#include "imaging/World.h"

#include "host/aeLibInit.h"

#include <cstring>

namespace AEO {

int BytesPerPixel(World::WorldType type)
{
    switch (type) {
    case World::WorldType_8: return 4;
    case World::WorldType_16: return 8;
    case World::WorldType_32: return 16;
    default: return 0;
    }
}

World::World(WorldType type, int width, int height)
    : _world{}, _worldH(nullptr), _type(type), _bytesPerPixel(0)
{
    setErr(PF_Err_NONE);
    _init(type, width, height);
}

World::~World() { _clear(); }

const AEGP_WorldSuite3 *World::worldSuite()
{
    const aeLibInit *context = aeLibInit::_current;
    AEGP_SuiteHandler *suites = context ? context->getSuiteHandler() : nullptr;
    if (!suites) {
        setErr(PF_Err_BAD_CALLBACK_PARAM);
        return nullptr;
    }
    try {
        return suites->WorldSuite3();
    } catch (PF_Err err) {
        // The cache throws when the host lacks the suite; a world only keeps
        // the error.
        setErr(err);
        return nullptr;
    }
}

void World::_init(WorldType type, int width, int height)
{
    _clear();
    std::memset(&_world, 0, sizeof _world);
    _type = type;
    _bytesPerPixel = BytesPerPixel(type);
    if (err() != PF_Err_NONE) return;

    const AEGP_WorldSuite3 *suite = worldSuite();
    if (!suite) return;
    if (!suite->AEGP_New) {
        setErr(PF_Err_BAD_CALLBACK_PARAM);
        return;
    }
    AEGP_WorldH handle = nullptr;
    setErr(suite->AEGP_New(g_PluginID, type, width, height, &handle));
    _worldH = handle;
    if (_worldH && err() == PF_Err_NONE) describe(suite);
}

void World::describe(const AEGP_WorldSuite3 *suite)
{
    setErr(suite->AEGP_FillOutPFEffectWorld
               ? suite->AEGP_FillOutPFEffectWorld(_worldH, &_world)
               : PF_Err_BAD_CALLBACK_PARAM);
    // A half-filled description must not hand out pixel addresses.
    if (err() != PF_Err_NONE) std::memset(&_world, 0, sizeof _world);
}

void World::_clear()
{
    if (!_worldH) return;
    const AEGP_WorldSuite3 *suite = worldSuite();
    if (suite && suite->AEGP_Dispose)
        setErr(suite->AEGP_Dispose(_worldH));
    else if (suite)
        setErr(PF_Err_BAD_CALLBACK_PARAM);
    // The handle is given up whatever the host answered: asking again could
    // only dispose of it twice.
    _worldH = nullptr;
    std::memset(&_world, 0, sizeof _world);
}

const void *World::data(int x, int y) const
{
    if (x < 0 || x >= _world.width || y < 0 || y >= _world.height || !_world.data)
        return nullptr;
    const auto *base = static_cast<const char *>(static_cast<const void *>(_world.data));
    return base + static_cast<std::ptrdiff_t>(y) * _world.rowbytes +
           static_cast<std::ptrdiff_t>(x) * _bytesPerPixel;
}

void *World::data(int x, int y)
{
    return const_cast<void *>(static_cast<const World *>(this)->data(x, y));
}

} // namespace AEO
