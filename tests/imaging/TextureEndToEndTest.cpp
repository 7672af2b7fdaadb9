// Texture lookups against the headless host's own worlds and area samplers:
// a checker texture in an effect world, sampled from the host's render
// threads the way the per-pixel callbacks do.
#include "imaging/TextureSampling.h"
#include "imaging/World.h"

#include "TextureTestHost.h"

#include "host/aeLibInit.h"

#include <gtest/gtest.h>

#include <vector>

using namespace texture_test;
using AEO::World;
using Vectormath::Aos::Vector3;

namespace {

const Vector3 kTail(0.5f, 0.0f, 2.0f);
constexpr int kSide = 32; // texture size; checker cells of 4 x 4 pixels
constexpr PF_PixelFloat kRed{1.0f, 1.0f, 0.0f, 0.0f};
constexpr PF_PixelFloat kBlue{1.0f, 0.0f, 0.0f, 1.0f};

// Red where the cell's column plus row is even, blue elsewhere.
PF_PixelFloat CheckerAt(int x, int y) { return (x / 4 + y / 4) % 2 == 0 ? kRed : kBlue; }

template <class P> void PaintChecker(World &world)
{
    for (int y = 0; y < world.height(); ++y)
        for (int x = 0; x < world.width(); ++x) {
            const PF_PixelFloat c = CheckerAt(x, y);
            *static_cast<P *>(world.data(x, y)) = fromPixelF<P>(&c);
        }
}

struct Lookup {
    double u, v, rx, ry;
    PF_PixelFloat out{-1.0f, -1.0f, -1.0f, -1.0f};
    int err = -1;
};

struct Pass {
    const Record *info;
    Lookup *lookups;
};

template <class P> PF_Err LookupCallback(void *refcon, A_long, A_long i, A_long)
{
    const Pass &pass = *static_cast<const Pass *>(refcon);
    Lookup &l = pass.lookups[i];
    l.err = TopologycalSampling<P>(*pass.info, kTail, l.u, l.v, l.rx, l.ry,
                                   &pass.info->textureLayer, l.out);
    return PF_Err_NONE;
}

class TextureEndToEndTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(host.ledger().count(headless::Ledger::kHostWorlds), 0);
        EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
    }

    // In one render command: a checker texture world of pixel type P, a
    // record textured with it (adjusted by `setUp`), and one pass of the
    // host's generic iterator making the lookups.
    template <class P, class SetUp = void (*)(Record &)>
    void run(World::WorldType type, std::vector<Lookup> &lookups,
             SetUp setUp = [](Record &) {})
    {
        const PF_Err err = host.run(PF_Cmd_SMART_RENDER, [&] {
            aeLibInit context(PF_Cmd_SMART_RENDER, 1, host.inData());
            Record info(host.inData());
            SetSemiAxes(info.shape, 100.0f, 100.0f, 100.0f);
            info.openFactor = 1.0;
            setUp(info);

            World texture(type, kSide, kSide);
            ASSERT_EQ(texture.err(), PF_Err_NONE);
            EXPECT_EQ(host.ledger().count(headless::Ledger::kHostWorlds), 1);
            PaintChecker<P>(texture);
            info.textureLayer = *texture.effectWorld();

            Pass pass{&info, lookups.data()};
            EXPECT_EQ(host.inData()->utils->iterate_generic(static_cast<A_long>(lookups.size()),
                                                            &pass, &LookupCallback<P>),
                      PF_Err_NONE);
        });
        EXPECT_EQ(err, PF_Err_NONE);
    }

    headless::Host host;
};

void ExpectPixel(const PF_PixelFloat &actual, const PF_PixelFloat &expected)
{
    EXPECT_NEAR(actual.alpha, expected.alpha, 1e-6);
    EXPECT_NEAR(actual.red, expected.red, 1e-6);
    EXPECT_NEAR(actual.green, expected.green, 1e-6);
    EXPECT_NEAR(actual.blue, expected.blue, 1e-6);
}

// Texture coordinate of the centre of pixel i.
double At(int i) { return i / double(kSide); }

TEST_F(TextureEndToEndTest, AHitShowsTheCheckerCellItFallsOnInEveryDepth)
{
    struct Depth {
        World::WorldType type;
        void (TextureEndToEndTest::*run)(World::WorldType, std::vector<Lookup> &,
                                         void (*)(Record &));
    };
    const Depth depths[] = {
        {World::WorldType_32, &TextureEndToEndTest::run<PF_PixelFloat>},
        {World::WorldType_16, &TextureEndToEndTest::run<PF_Pixel16>},
        {World::WorldType_8, &TextureEndToEndTest::run<PF_Pixel>},
    };
    for (const Depth &depth : depths) {
        SCOPED_TRACE(depth.type);
        std::vector<Lookup> lookups{{At(6), At(1), 0, 0}, {At(10), At(1), 0, 0},
                                    {At(14), At(21), 0, 0}, {At(1), At(30), 0.25, 0.25}};
        (this->*depth.run)(depth.type, lookups, [](Record &) {});
        for (const Lookup &l : lookups) EXPECT_EQ(l.err, PF_Err_NONE);
        ExpectPixel(lookups[0].out, CheckerAt(6, 1));
        ExpectPixel(lookups[1].out, CheckerAt(10, 1));
        ExpectPixel(lookups[2].out, CheckerAt(14, 21));
        ExpectPixel(lookups[3].out, CheckerAt(1, 30));
    }
}

TEST_F(TextureEndToEndTest, TheTextureWrapsAroundTheSeamWithoutACrack)
{
    // At the last column, two pixels wide: 2.5 of the 4-pixel box lie on the
    // texture's right edge (blue cells in row 1), the wrapped fetch finds the
    // missing 1.5 on its left edge (red cells). Together they are opaque.
    std::vector<Lookup> lookups{{At(31), At(1), 2.0, 0.0}};
    run<PF_PixelFloat>(World::WorldType_32, lookups);
    ExpectPixel(lookups[0].out, PF_PixelFloat{1.0f, 0.375f, 0.0f, 0.625f});
}

TEST_F(TextureEndToEndTest, FlippedRepetitionsShowTheMirroredRow)
{
    std::vector<Lookup> lookups{{At(2), At(1), 0, 0}, {At(2), 1.0 + At(1), 0, 0}};
    run<PF_PixelFloat>(World::WorldType_32, lookups, [](Record &info) {
        info.extension.tailExtensions = 1;
        info.extension.flipVertical = true;
    });
    ExpectPixel(lookups[0].out, CheckerAt(2, 1));  // repetition 0: row 1
    ExpectPixel(lookups[1].out, CheckerAt(2, 30)); // repetition 1: row 32 - 1 - 1
}

TEST_F(TextureEndToEndTest, TheHostRefusesAnUnknownWorldType)
{
    host.run(PF_Cmd_SMART_RENDER, [&] {
        aeLibInit context(PF_Cmd_SMART_RENDER, 1, host.inData());
        World odd(static_cast<World::WorldType>(7), 4, 4);
        EXPECT_NE(odd.err(), PF_Err_NONE);
        EXPECT_EQ(odd.bytesPerPixel(), 0);
        EXPECT_EQ(odd.data(0, 0), nullptr);
    });
}

} // namespace
