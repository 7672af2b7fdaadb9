// The effect's own image buffer: a host-allocated world of one pixel depth
// and size, owned by one object and returned to the host when it dies.
//
// The depth-of-field path keeps four per frame: two colour worlds of the
// output's depth and two depth worlds, 8-bit worlds whose four-byte pixel
// slots each hold one 32-bit float.
//
// Pixels lie at data() + y * rowBytes() + x * bytesPerPixel(); rows may be
// padded, so step rows by rowBytes(), never by width times pixel size.
//
// Errors: a world keeps the error of its last host call (err()). A world that
// could not be created has width and height 0 and every data(x, y) is null;
// nothing throws.
//
// Thread safety: create and destroy on the thread that handles the command
// (the host calls go through the current command context's suite cache).
// While a pass runs, any number of render threads may read and write
// different pixels of one world at once; the world takes no locks.
#pragma once

#include <cstddef> // the SDK headers use size_t without including it

#include "host/SDK.h"
#include "scene/AEO_ObjectBase.h"

namespace AEO {

class World : public ObjectBase {
public:
    // The host's world-type numbering. Other values are accepted and give a
    // world with 0 bytes per pixel.
    enum WorldType : A_long {
        WorldType_NONE = AEGP_WorldType_NONE,
        WorldType_8 = AEGP_WorldType_8,   // four 8-bit channels, 4 bytes
        WorldType_16 = AEGP_WorldType_16, // four 16-bit channels, 8 bytes
        WorldType_32 = AEGP_WorldType_32, // four float channels, 16 bytes
    };

    // Asks the host for a world of `type`, `width` by `height` pixels, on
    // behalf of the effect (g_PluginID). Its contents are whatever the host
    // provides.
    World(WorldType type, int width, int height);
    // Returns the world to the host.
    ~World() override;

    // Size in pixels; 0 when the world does not exist.
    int width() const { return _world.width; }
    int height() const { return _world.height; }
    // Bytes from one row to the next.
    int rowBytes() const { return _world.rowbytes; }
    int bytesPerPixel() const { return _bytesPerPixel; }
    WorldType type() const { return _type; }

    // Base address of the pixels; null when the world does not exist.
    void *data() { return _world.data; }
    const void *data() const { return _world.data; }
    // Address of pixel (x, y), or null outside [0, width) x [0, height).
    void *data(int x, int y);
    const void *data(int x, int y) const;

    // The host's description of the world, for handing it to a host sampler
    // as the source world.
    PF_EffectWorld *effectWorld() { return &_world; }
    const PF_EffectWorld *effectWorld() const { return &_world; }

    // Releases any world held, then asks the host for a new one (see above).
    // A failed release leaves the error stored and creates nothing.
    void _init(WorldType type, int width, int height);
    // Returns the world to the host, if there is one, and stores the host's
    // answer as the error.
    void _clear();

private:
    // The host's "AEGP World Suite" 3 from the current command context, or
    // null (with the error stored) when there is none.
    const AEGP_WorldSuite3 *worldSuite();
    // Asks the host to describe the new world; zeroes the description again
    // when it cannot.
    void describe(const AEGP_WorldSuite3 *suite);

    PF_LayerDef _world;        // the host's description; all zero until the world exists
    AEGP_WorldH _worldH;       // the host world; null until created
    WorldType _type;
    int _bytesPerPixel;
};

// Bytes per pixel of a world type: 4, 8 or 16; 0 for an unknown type.
int BytesPerPixel(World::WorldType type);

} // namespace AEO
