// Shading of single hits: base colour (ramp or texture), emission, lights
// (front, back, ambient), self shadow, reflection map, pivot marker, and the
// light power and obstruction helpers.
#include "tracer/Shading.h"
#include "tracer/ShadingTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

using namespace shading_test;

namespace {

constexpr float kTol = 1e-5f;

void ExpectPixel(const PF_PixelFloat &p, float a, float r, float g, float b, float tol = kTol)
{
    EXPECT_NEAR(p.alpha, a, tol);
    EXPECT_NEAR(p.red, r, tol);
    EXPECT_NEAR(p.green, g, tol);
    EXPECT_NEAR(p.blue, b, tol);
}

template <class P = PF_PixelFloat> PF_PixelFloat Shade(Scene &s, const Ray &ray)
{
    PF_PixelFloat out{-9.0f, -9.0f, -9.0f, -9.0f};
    EXPECT_EQ(Ray_GetColor<P>(ray, kReach, s.info(), out), 0);
    return out;
}

// A hit at (u, v) seen along minus its normal, so that the face turned into
// the bowl faces the viewer.
struct View {
    Vector3 p, n;
    Ray ray;
};

View HeadOn(const Record &info, double u, double v)
{
    const Vector3 p = SurfaceAt(info, u, v);
    const Vector3 n = NormalAt(info, p);
    return {p, n, RayTo(p, -n)};
}

// The same hit seen at about 35 degrees off its normal.
View Oblique(const Record &info, double u, double v)
{
    View view = HeadOn(info, u, v);
    const Vector3 across =
        Vectormath::Aos::normalize(Vectormath::Aos::cross(view.n, Vector3(0, 0, 1)));
    view.ray = RayTo(view.p, Vectormath::Aos::normalize(-view.n + across * 0.7f));
    return view;
}

const PF_PixelFloat kWhite = Pixel(1, 1, 1, 1);

} // namespace

// ---- base colour and emission --------------------------------------------------------

TEST(ShadingTest, WithoutLightsTheColourIsTheBaseColourTimesEmission)
{
    Scene s;
    const View view = HeadOn(s.info(), 0.3, 0.4);
    ExpectPixel(Shade(s, view.ray), 1, 0.3f, 0.4f, 0, 1e-4f); // the u/v ramp
    s->emit = 0.5f;
    ExpectPixel(Shade(s, view.ray), 1, 0.15f, 0.2f, 0, 1e-4f);
    s->emit = 0.0f;
    ExpectPixel(Shade(s, view.ray), 1, 0, 0, 0);

    // A texture: its colour at its alpha; black at its alpha without emission.
    s.setTexture<PF_PixelFloat>(32, 32, Uniform(Pixel(0.5f, 0.8f, 0.4f, 0.2f)));
    ExpectPixel(Shade(s, view.ray), 0.5f, 0, 0, 0);
    s->emit = 1.0f;
    ExpectPixel(Shade(s, view.ray), 0.5f, 0.8f, 0.4f, 0.2f);
}

TEST(ShadingTest, TransparentTexelIsNotLitButStillFogged)
{
    Scene s;
    s.setTexture<PF_PixelFloat>(32, 32, Uniform(Pixel(0, 0, 0, 0)));
    const View view = HeadOn(s.info(), 0.3, 0.4);
    s.addLight(kPoint, view.p + view.n * 500.0f, Vector3(0, 0, 1), kWhite, 1.0);
    s->diffuse = 1.0f;
    s->ambient = 1.0f;
    ExpectPixel(Shade(s, view.ray), 0, 0, 0, 0);

    s->depthComposite.mode = 2; // fog from depth 0 to 5: the hit at 10 is all fog
    s->depthComposite.start = 0.0;
    s->depthComposite.range = 5.0;
    s->depthComposite.fogColor = Pixel(1, 0.2f, 0.3f, 0.4f);
    ExpectPixel(Shade(s, view.ray), 0, 0.2f, 0.3f, 0.4f);
}

TEST(ShadingTest, RampShowsOnlyOnRepetitionsThatExist)
{
    Scene s;
    const Ray tail = HeadOn(s.info(), 0.3, 0.4).ray;
    const Ray head = HeadOn(s.info(), 0.3, -0.6).ray; // the head's base copy, local v 0.4
    const Ray tailCopy1 = HeadOn(s.info(), 0.3, 1.4).ray;
    ExpectPixel(Shade(s, tail), 1, 0.3f, 0.4f, 0, 1e-4f);
    ExpectPixel(Shade(s, head), 1, 0.3f, 0.4f, 0, 1e-4f);
    ExpectPixel(Shade(s, tailCopy1), 0, 0, 0, 0); // no extensions: nothing there

    s->extension.tailExtensions = 1;
    ExpectPixel(Shade(s, tailCopy1), 1, 0.3f, 0.4f, 0, 1e-4f);
    s->extension.flipVertical = true;
    ExpectPixel(Shade(s, tailCopy1), 1, 0.3f, 0.6f, 0, 1e-4f);
    ExpectPixel(Shade(s, head), 1, 0.3f, 0.6f, 0, 1e-4f); // copy -1 is odd too

    // "Render Side2" "Head Side": the tail's base copy is as transparent as it
    // is with a texture, and vice versa.
    s->extension.flipVertical = false;
    s->extension.renderTail = false;
    ExpectPixel(Shade(s, tail), 0, 0, 0, 0);
    ExpectPixel(Shade(s, tailCopy1), 0, 0, 0, 0);
    ExpectPixel(Shade(s, head), 1, 0.3f, 0.4f, 0, 1e-4f);
    s.setTexture<PF_PixelFloat>(32, 32, Uniform(Pixel(1, 1, 1, 1)));
    ExpectPixel(Shade(s, tail), 0, 0, 0, 0);

    s->textureLayer = PF_LayerDef{};
    s->extension.renderTail = true;
    s->extension.renderHead = false;
    ExpectPixel(Shade(s, head), 0, 0, 0, 0);
    ExpectPixel(Shade(s, tail), 1, 0.3f, 0.4f, 0, 1e-4f);
}

// ---- lights ---------------------------------------------------------------------------

// Material of the lighting tests and the colour it gives a hit whose light
// falls straight onto the visible face: emission, diffuse, and a full
// specular highlight tinted by the metal.
struct Material {
    float emit = 0.2f, diffuse = 0.7f, specular = 0.4f, metal = 0.25f;
    double intensity = 0.8;
    PF_PixelFloat light = Pixel(1, 0.9f, 0.6f, 0.3f);

    void apply(Record &info) const
    {
        info.emit = emit;
        info.diffuse = diffuse;
        info.specular = specular;
        info.metal = metal;
        info.shininess = 8.0f;
    }
    float channel(float base, float lightColour, float diffuseShare, bool highlight) const
    {
        const float E = static_cast<float>(intensity);
        const float tint = base * metal + (1.0f - metal);
        return base * emit + lightColour * base * diffuse * E * diffuseShare +
               (highlight ? tint * lightColour * E * specular : 0.0f);
    }
};

TEST(ShadingTest, FrontLightAddsDiffuseAndMetalTintedSpecular)
{
    Scene s;
    const Material m;
    m.apply(s.info());
    const View view = HeadOn(s.info(), 0.3, 0.4);
    s.addLight(kPoint, view.p + view.n * 500.0f, Vector3(0, 0, 1), m.light, m.intensity);
    const float u = 0.3f, v = 0.4f;
    const PF_PixelFloat out = Shade(s, view.ray);
    ExpectPixel(out, 1, m.channel(u, 0.9f, 1, true), m.channel(v, 0.6f, 1, true),
                m.channel(0, 0.3f, 1, true), 2e-4f);
}

TEST(ShadingTest, BackLightShinesThroughOnlyByTransmission)
{
    Scene s;
    const Material m;
    m.apply(s.info());
    const View view = HeadOn(s.info(), 0.3, 0.4);
    s.addLight(kPoint, view.p - view.n * 500.0f, Vector3(0, 0, 1), m.light, m.intensity);

    ExpectPixel(Shade(s, view.ray), 1, 0.3f * m.emit, 0.4f * m.emit, 0, 1e-4f);

    s->lightTransmission = 0.5f;
    const PF_PixelFloat out = Shade(s, view.ray);
    ExpectPixel(out, 1, m.channel(0.3f, 0.9f, 0.5f, false), m.channel(0.4f, 0.6f, 0.5f, false), 0,
                2e-4f);
    EXPECT_EQ(out.blue, 0.0f); // no highlight from behind, whatever the transmission
}

TEST(ShadingTest, AmbientLightIgnoresTheViewAndAddsNoHighlightOrShadow)
{
    Scene s;
    s.setTexture<PF_PixelFloat>(32, 32, Uniform(Pixel(1, 0.5f, 0.25f, 0)));
    s->emit = 0.0f;
    s->ambient = 0.6f;
    s->diffuse = 0.9f;  // not the ambient's
    s->specular = 1.0f; // not for ambient light
    s->selfShadow = true;
    s.addLight(kAmbient, Vector3(0, 5000, 150), Vector3(0, 0, 1), Pixel(1, 1, 0.5f, 0.25f), 0.5);

    const float r = 0.5f * 0.6f * 0.5f, g = 0.25f * 0.5f * 0.6f * 0.5f;
    for (const View &view :
         {HeadOn(s.info(), 0.25, 0.5), Oblique(s.info(), 0.3, 0.4), HeadOn(s.info(), 0.6, -0.5)})
        ExpectPixel(Shade(s, view.ray), 1, r, g, 0, 1e-5f);
}

// A light of a type the host may add later adds neither diffuse light nor a
// highlight, from in front or behind, whatever the transmission: the hit
// keeps its emission.
TEST(ShadingTest, LightOfUnknownTypeAddsNothing)
{
    Scene s;
    const Material m;
    m.apply(s.info());
    s->lightTransmission = 0.5f;
    const View view = HeadOn(s.info(), 0.3, 0.4);
    constexpr A_long kUnknownType = 7;
    for (const float side : {500.0f, -500.0f})
        s.addLight(kUnknownType, view.p + view.n * side, Vector3(0, 0, 1), m.light, m.intensity);
    for (const View &seen : {view, Oblique(s.info(), 0.3, 0.4)})
        ExpectPixel(Shade(s, seen.ray), 1, 0.3f * m.emit, 0.4f * m.emit, 0, 1e-4f);
}

// A hit on the tail wall at u = 0.25 whose line toward a light at +y crosses
// the opposite wall (u = 0.75) first.
struct ShadowScene {
    Scene s;
    View view;
    ShadowScene()
    {
        s.setTexture<PF_PixelFloat>(32, 32, Uniform(Pixel(0.5f, 0.8f, 0.4f, 0.2f)));
        s->emit = 0.0f;
        s->diffuse = 1.0f;
        view = HeadOn(s.info(), 0.25, 0.5);
    }
    vLight &light(A_long type, const Vector3 &position)
    {
        return s.addLight(type, position, Vector3(0, -1, 0), kWhite, 1.0);
    }
};

TEST(ShadingTest, SelfShadowFiltersLightThroughTheTexture)
{
    ShadowScene scene;
    vLight &light = scene.light(kPoint, Vector3(0, 400, 150));
    const PF_PixelFloat lit = Shade(scene.s, scene.view.ray);
    ASSERT_GT(lit.red, 0.1f);
    scene.s->selfShadow = true;
    auto expectFilter = [&](float r, float g, float b) {
        const PF_PixelFloat out = Shade(scene.s, scene.view.ray);
        ExpectPixel(out, 0.5f, lit.red * r, lit.green * g, lit.blue * b, 1e-5f);
    };
    expectFilter(0.5f, 0.5f, 0.5f);    // a half-transparent texel passes half the light
    scene.s->lightTransmission = 1.0f; // and, transmitted, its colour times its alpha
    expectFilter(0.9f, 0.7f, 0.6f);
    scene.s->lightTransmission = 0.0f;
    light.shadowDarkness = 0.5f;
    expectFilter(0.75f, 0.75f, 0.75f);
    light.castsShadows = false;
    expectFilter(1, 1, 1);
}

TEST(ShadingTest, SelfShadowOnlyBetweenHitAndLight)
{
    // A point light inside the bowl, before the opposite wall: no shadow.
    ShadowScene scene;
    vLight &light = scene.light(kPoint, Vector3(0, 0, 150));
    const PF_PixelFloat free = Shade(scene.s, scene.view.ray);
    ASSERT_GT(free.red, 0.1f);
    scene.s->selfShadow = true;
    ExpectPixel(Shade(scene.s, scene.view.ray), free.alpha, free.red, free.green, free.blue);

    // A parallel light from there has no position to stop at: the wall
    // shadows it.
    light.type = kParallel;
    scene.s->selfShadow = false;
    const PF_PixelFloat lit = Shade(scene.s, scene.view.ray);
    ASSERT_GT(lit.red, 0.1f);
    scene.s->selfShadow = true;
    ExpectPixel(Shade(scene.s, scene.view.ray), 0.5f, lit.red * 0.5f, lit.green * 0.5f,
                lit.blue * 0.5f);
}

// ---- reflection map --------------------------------------------------------------------

// The map's column from bounds of the longitude is the column of the
// longitude itself wherever the bounds settle it: seeded unit directions
// (single precision, as reflected rays are), anywhere, near the seam where
// the longitude wraps (toward +z) and near the poles, on maps of several
// widths. Nearly every direction is settled.
TEST(ShadingTest, ReflectionMapColumnFromBoundsIsTheLongitudesColumn)
{
    std::mt19937 random(5813);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    int settled = 0, open = 0;
    PF_LayerDef map{};
    for (int trial = 0; trial < 80000; ++trial) {
        map.width = std::array{7, 1024, 4096, 20000}[trial / 20000];
        Vector3 w(unit(random), unit(random), unit(random));
        if (trial % 4 == 1) w.setX(w.getX() * 1e-6f); // the seam, and the opposite longitude
        if (trial % 4 == 2) w = Vector3(w.getX() * 1e-4f, 1.0f, w.getZ() * 1e-4f); // a pole
        w = Vectormath::Aos::normalize(w);
        PF_Fixed column = 0;
        const bool placed = MapColumnFromBounds(map, w, column);
        (placed ? settled : open) += 1;
        if (placed) {
            ASSERT_EQ(column, MapColumn(map, w)) << w.getX() << " " << w.getY() << " " << w.getZ();
        }
    }
    EXPECT_GT(settled, 75000);
    EXPECT_GT(open, 0);
}

TEST(ShadingTest, ReflectionMapTopRowIsSeenTowardMinusY)
{
    Scene s;
    s->emit = 0.0f;
    s->reflectionIntensity = 1.0f;
    s->reflectionRolloff = 0.0f;
    // Object z is world -y.
    s->shape.objectToWorld =
        Matrix4::affine(Vector3(1, 0, 0), Vector3(0, 0, 1), Vector3(0, -1, 0), Vector3(0, 0, 0));
    s->shape.worldToObject = Vectormath::Aos::transpose(s->shape.objectToWorld);
    s.setReflectionMap<PF_PixelFloat>(
        16, 8, [](int, int y) { return y < 4 ? Pixel(1, 1, 0, 0) : Pixel(1, 0, 0, 1); });

    // Seen head-on, a hit reflects along its normal: near the tail vertex
    // that is object +z, world -y; near the head vertex world +y.
    ExpectPixel(Shade(s, HeadOn(s.info(), 0.5, 0.01).ray), 1, 1, 0, 0, 1e-4f);
    ExpectPixel(Shade(s, HeadOn(s.info(), 0.5, -0.01).ray), 1, 0, 0, 1, 1e-4f);

    // Without the map, or at zero intensity, there is no reflection.
    s->reflectionIntensity = 0.0f;
    ExpectPixel(Shade(s, HeadOn(s.info(), 0.5, 0.01).ray), 1, 0, 0, 0);
}

// ---- pivot marker ----------------------------------------------------------------------

TEST(ShadingTest, PivotMarkerDrawsDotLineAndRingOverEverything)
{
    Scene s;
    s->showPivot = true;
    s->fixedPointU = 0.3;
    s->fixedPointV = 0.4;
    const PF_PixelFloat blue = Pixel(1, 0, 0, 1), green = Pixel(1, 0, 1, 0),
                        red = Pixel(1, 1, 0, 0);
    auto expectAt = [&](double u, double v, const PF_PixelFloat &want) {
        SCOPED_TRACE(testing::Message() << "u " << u << " v " << v);
        const PF_PixelFloat out = Shade(s, HeadOn(s.info(), u, v).ray);
        ExpectPixel(out, want.alpha, want.red, want.green, want.blue, 1e-4f);
    };
    expectAt(0.3, 0.4, blue);
    expectAt(0.3, 0.8, green);
    expectAt(0.7, 0.4, red);
    expectAt(0.7, 0.8, Pixel(1, 0.7f, 0.8f, 0));

    // After fading out and on a sheet without texture the marker still shows.
    s->depthComposite.mode = 3;
    s->depthComposite.start = 0.0;
    s->depthComposite.range = 1.0;
    expectAt(0.3, 0.4, blue);
    expectAt(0.7, 0.8, Pixel(0, 0.7f, 0.8f, 0));
    s->extension.renderTail = false;
    expectAt(0.7, 0.4, red);
}

// ---- pixel types -------------------------------------------------------------------------

TEST(ShadingTest, IntegerInstancesReadTheirOwnTextureDepth)
{
    // Values every depth holds exactly (multiples of 1/255 and 1/32768 alike
    // are only 0 and 1), with a light and a reflection in play.
    auto render = [](auto pixelTag) {
        using P = decltype(pixelTag);
        Scene s;
        s.setTexture<P>(32, 32, Uniform(Pixel(1, 1, 0, 1)));
        s.setReflectionMap<P>(16, 8, Uniform(Pixel(1, 0, 1, 1)));
        s->reflectionIntensity = 0.25f;
        s->diffuse = 0.5f;
        const View view = Oblique(s.info(), 0.3, 0.4);
        s.addLight(kPoint, view.p + view.n * 300.0f, Vector3(0, 0, 1), kWhite, 1.0);
        return Shade<P>(s, view.ray);
    };
    const PF_PixelFloat f = render(PF_PixelFloat{});
    for (const PF_PixelFloat &other : {render(PF_Pixel16{}), render(PF_Pixel{})})
        ExpectPixel(other, f.alpha, f.red, f.green, f.blue, 0.0f);
    EXPECT_GT(f.green, 0.0f); // the reflection arrived
}

// ---- light power -------------------------------------------------------------------------

TEST(LightPowerTest, FalloffFromTheLightsPosition)
{
    Scene s;
    vLight &light = s.addLight(kPoint, Vector3(0, 0, 0), Vector3(0, 0, 1), kWhite, 1.0);
    double power = -1.0;
    Vector3 L;
    auto powerAt = [&](float x, float y) {
        GetLightPower(s.info(), &light, Vector4(x, y, 0, 1), power, L);
        return power;
    };

    EXPECT_DOUBLE_EQ(powerAt(30, 40), 1.0); // "None"
    EXPECT_NEAR(L.getX(), 0.6f, 1e-6f);
    EXPECT_NEAR(L.getY(), 0.8f, 1e-6f);

    s->falloffMode = 2; // Smooth: full to 20, none beyond 80
    s->falloffRadius = 20.0;
    s->falloffDistance = 60.0;
    EXPECT_DOUBLE_EQ(powerAt(6, 8), 1.0);
    EXPECT_NEAR(powerAt(30, 40), 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(powerAt(60, 80), 0.0);

    s->falloffMode = 3; // Inverse Square Clamped
    s->falloffRadius = 25.0;
    EXPECT_NEAR(powerAt(30, 40), 0.25, 1e-12);
    EXPECT_DOUBLE_EQ(powerAt(6, 8), 1.0);
    EXPECT_DOUBLE_EQ(powerAt(0, 0), 1.0); // at the light itself
    EXPECT_EQ(Vectormath::Aos::length(L), 0.0f);

    // A parallel light travels along its axis but fades with distance too.
    light.type = kParallel;
    light.lightToObject.setCol2(Vector4(0, 0, 2, 0));
    EXPECT_NEAR(powerAt(30, 40), 0.25, 1e-12);
    EXPECT_EQ(L.getZ(), 1.0f);

    // Ambient light: no direction, no falloff.
    light.type = kAmbient;
    EXPECT_DOUBLE_EQ(powerAt(300, 400), 1.0);
    EXPECT_EQ(Vectormath::Aos::length(L), 0.0f);

    // A type the effect does not know: full power, direction untouched.
    light.type = -1;
    L = Vector3(7, 7, 7);
    EXPECT_DOUBLE_EQ(powerAt(30, 40), 1.0);
    EXPECT_EQ(L.getX(), 7.0f);
}

TEST(LightPowerTest, SpotConeWithAndWithoutFeather)
{
    Scene s;
    vLight &light = s.addLight(kSpot, Vector3(0, 0, 0), Vector3(1, 0, 0), kWhite, 1.0);
    light.coneCos = 0.8;
    light.coneFeather = 0.5;
    double power = -1.0;
    Vector3 L;
    auto powerAtCos = [&](double cosine) {
        const double sine = std::sqrt(1.0 - cosine * cosine);
        GetLightPower(s.info(), &light,
                      Vector4(static_cast<float>(50 * cosine), static_cast<float>(50 * sine), 0, 1),
                      power, L);
        return power;
    };
    EXPECT_DOUBLE_EQ(powerAtCos(1.0), 1.0);
    EXPECT_NEAR(powerAtCos(0.85), 0.5, 1e-5);
    EXPECT_DOUBLE_EQ(powerAtCos(0.7), 0.0);

    light.coneFeather = 0.0; // a hard edge, never a NaN
    EXPECT_DOUBLE_EQ(powerAtCos(0.81), 1.0);
    EXPECT_DOUBLE_EQ(powerAtCos(0.79), 0.0);
    light.coneCos = 1.0; // a zero cone angle: 0/0 on the axis
    EXPECT_DOUBLE_EQ(powerAtCos(1.0), 0.0);
}

// ---- obstruction -------------------------------------------------------------------------

TEST(ObstructionTest, OnlyTheTexturedSurfaceObstructs)
{
    ShadowScene scene;
    const Ray towardLight{Vector3(0, 1, 0), Vector4(scene.view.p, 1.0f)};
    const Vector4 f = GetObstColor<PF_PixelFloat>(scene.s.info(), towardLight, nullptr);
    EXPECT_NEAR(f.getX(), 0.5f, 1e-6f);
    EXPECT_NEAR(f.getY(), 0.5f, 1e-6f);

    // Away from the surface, or without a texture, nothing is in the way.
    const Ray away{Vector3(0, -1, 0), Vector4(scene.view.p, 1.0f)};
    const Vector4 clear = GetObstColor<PF_PixelFloat>(scene.s.info(), away, nullptr);
    EXPECT_EQ(clear.getX(), 1.0f);
    EXPECT_EQ(clear.getW(), 1.0f);
    scene.s->textureLayer = PF_LayerDef{};
    const Vector4 bare = GetObstColor<PF_PixelFloat>(scene.s.info(), towardLight, nullptr);
    EXPECT_EQ(bare.getY(), 1.0f);
}
