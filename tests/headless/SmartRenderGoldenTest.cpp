// Golden frames: small renders of the loaded plug-in, one per capability,
// compared bit for bit in float with the references in tests/golden/.
// tests/golden/GoldenImage.h says how to regenerate them (on purpose only).
#include "SmartRenderSupport.h"
#include "golden/GoldenImage.h"

#include <cstdio>
#include <functional>
#include <string>

using namespace smart_render_test;

namespace {

constexpr int kWidth = 96, kHeight = 64;

// An equirectangular map for reflections: a sky that brightens toward the top
// (the map's top row is what the surface reflects from the world's -y) over
// a dark warm ground, with a bright stripe every eighth of a turn.
std::vector<float> skyMap(int width, int height) {
    std::vector<float> rgba;
    rgba.reserve(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const float up = 1.0f - float(y) / float(height - 1);
            const bool stripe = (x * 8 / width) % 2 == 0 && y % 8 < 2;
            const float sky[4] = {0.3f + 0.6f * up, 0.5f + 0.4f * up, 0.9f, 1.0f};
            const float ground[4] = {0.35f, 0.2f, 0.1f, 1.0f};
            const float *c = y < height / 2 ? sky : ground;
            const float s = stripe ? 1.0f : 0.0f;
            rgba.insert(rgba.end(), {c[0] + s * (1 - c[0]), c[1] + s * (1 - c[1]),
                                     c[2] + s * (1 - c[2]), c[3]});
        }
    return rgba;
}

// The composition every golden starts from, top first: a camera, the
// checker texture and the sky map (both switched off, they only feed the
// effect) and the solid that carries the effect. Lights come in per scene
// above the camera, so the layer indices below stay.
struct Stage {
    Composition comp;
    int effectLayer = 0, camera = 0, texture = 0, sky = 0;

    explicit Stage(bool withCamera = false, std::vector<Layer> lights = {}) {
        comp.width = kWidth;
        comp.height = kHeight;
        for (Layer &light : lights) comp.layers.push_back(std::move(light));
        camera = withCamera ? int(comp.layers.size()) : -1;
        if (withCamera) comp.layers.push_back(makeCamera(comp, "Camera"));
        texture = int(comp.layers.size());
        comp.layers.push_back(makeFootage(comp, "Checker", 64, 32, checker(64, 32, 8)));
        comp.layers.back().video = false;
        sky = int(comp.layers.size());
        comp.layers.push_back(makeFootage(comp, "Sky", 64, 32, skyMap(64, 32)));
        comp.layers.back().video = false;
        effectLayer = int(comp.layers.size());
        comp.layers.push_back(makeSolid(comp, "Canvas", kWidth, kHeight, {1.0, 0.2, 0.2, 0.2}));
    }
};

// Both bowls in view, tilted so that the camera sees into one and onto the other.
void placeSurface(EffectInstance &effect) {
    effect.setParam(PARAM_DIST_FROM_CENTER, {8.0});
    effect.setParam(PARAM_ROTATION_X, {-70.0});
    effect.setParam(PARAM_ROTATION_Y, {20.0});
}

struct Golden {
    const char *name;
    std::function<Stage()> stage;
    std::function<void(EffectInstance &, const Stage &)> params;
};

Layer light(const Composition &comp, const char *name, LightType type, Vec3 position,
            ColorValue colour, double intensity) {
    Layer l = makeLight(comp, name, type);
    l.transform.position = position;
    l.light.color = colour;
    l.light.intensity = intensity;
    return l;
}

const Golden kGoldens[] = {
    {"textured", [] { return Stage(); },
     [](EffectInstance &e, const Stage &s) { e.chooseLayer(PARAM_TEXTURE, s.texture); }},

    {"lit",
     [] {
         Composition c;
         c.width = kWidth;
         c.height = kHeight;
         std::vector<Layer> lights;
         lights.push_back(light(c, "Key", LightType::Point, {10.0, -20.0, -60.0}, {1, 1.0, 0.9, 0.8}, 120.0));
         lights.push_back(light(c, "Rim", LightType::Parallel, {90.0, 60.0, 40.0}, {1, 0.4, 0.6, 1.0}, 80.0));
         lights.push_back(light(c, "Fill", LightType::Ambient, {0, 0, 0}, {1, 1, 1, 1}, 30.0));
         return Stage(false, std::move(lights));
     },
     [](EffectInstance &e, const Stage &s) {
         e.chooseLayer(PARAM_TEXTURE, s.texture);
         e.setParam(PARAM_EMIT, {10.0});
         e.setParam(PARAM_SPECULAR, {80.0});
         e.setParam(PARAM_ROUGHNESS, {0.3});
         e.setParam(PARAM_SELF_SHADOW, {1.0});
         e.setParam(PARAM_LIGHT_TRANSMISSION, {40.0});
         e.setParam(PARAM_FALLOFF, {2.0});
         e.setParam(PARAM_FALLOFF_RADIUS, {50.0});
         e.setParam(PARAM_FALLOFF_DISTANCE, {300.0});
     }},

    {"reflection", [] { return Stage(); },
     [](EffectInstance &e, const Stage &s) {
         e.chooseLayer(PARAM_TEXTURE, s.texture);
         e.chooseLayer(PARAM_REFLECTION_MAP, s.sky);
         e.setParam(PARAM_EMIT, {40.0});
         e.setParam(PARAM_METAL, {60.0});
         e.setParam(PARAM_REFLECTION_ROLLOFF, {20.0});
     }},

    {"opened", [] { return Stage(); },
     [](EffectInstance &e, const Stage &) {
         e.setParam(PARAM_OPEN_PARAMETER, {1.5});
         e.setParam(PARAM_FIXED_POINT_V, {0.3});
         e.setParam(PARAM_SHOW_PIVOT, {1.0});
     }},

    {"extended", [] { return Stage(); },
     [](EffectInstance &e, const Stage &s) {
         e.chooseLayer(PARAM_TEXTURE, s.texture);
         e.setParam(PARAM_HEIGHT_SCALE, {40.0});
         e.setParam(PARAM_EXTENSIONS, {3.0});
         e.setParam(PARAM_INTERVAL, {4.0});
         e.setParam(PARAM_FLIP_VERTICAL, {1.0});
         e.setParam(PARAM_SCREW, {30.0});
     }},

    {"fog", [] { return Stage(); },
     [](EffectInstance &e, const Stage &s) {
         e.chooseLayer(PARAM_TEXTURE, s.texture);
         e.setParam(PARAM_DEPTH_COMPOSITE_MODE, {2.0});
         e.setParam(PARAM_START_DEPTH, {110.0});
         e.setParam(PARAM_END_DEPTH, {170.0});
         e.setParam(PARAM_FOG_COLOR, {255.0, 200.0, 40.0, 120.0});
     }},

    {"depth_of_field", [] { return Stage(true); },
     [](EffectInstance &e, const Stage &s) {
         e.chooseLayer(PARAM_TEXTURE, s.texture);
         e.setParam(PARAM_DEPTH_OF_FIELD, {3.0});
         e.setParam(PARAM_BOOST_DOF_BLUR, {1500.0});
     }},
};

std::string goldenPath(const char *name) {
    return std::string(VELTRIX_SOURCE_DIR) + "/tests/golden/" + name + ".golden";
}

golden::Image toImage(const HostWorld &world) {
    golden::Image image;
    image.width = std::uint32_t(world.width());
    image.height = std::uint32_t(world.height());
    image.rgba.resize(std::size_t(image.width) * image.height * 4);
    for (A_long y = 0; y < world.height(); ++y)
        for (A_long x = 0; x < world.width(); ++x) {
            const PF_PixelFloat &p = *world.pixel<PF_PixelFloat>(x, y);
            float *out = image.at(std::uint32_t(x), std::uint32_t(y));
            out[0] = p.red;
            out[1] = p.green;
            out[2] = p.blue;
            out[3] = p.alpha;
        }
    return image;
}

class SmartRenderGolden : public ::testing::TestWithParam<Golden> {};

TEST_P(SmartRenderGolden, MatchesItsReferenceBitForBit) {
    const Golden &g = GetParam();
    const Stage stage = g.stage();
    LoadedEffect fx(stage.comp, stage.effectLayer);
    ASSERT_EQ(fx.setupErr, PF_Err_NONE);
    placeSurface(*fx.effect);
    g.params(*fx.effect, stage);
    const RenderResult frame = fx.render(32);
    ASSERT_TRUE(frame.ok()) << "error " << frame.err;
    ASSERT_EQ(heldBeyondGlobalData(fx.host.ledger()), "");
    const golden::Image actual = toImage(*frame.output);

    const std::string path = goldenPath(g.name);
    if (golden::updateRequested()) {
        ASSERT_TRUE(golden::write(path, actual)) << "cannot write " << path;
        GTEST_SKIP() << "rewrote " << path;
    }
    golden::Image expected;
    ASSERT_TRUE(golden::read(path, expected))
        << path << " is missing or damaged; see tests/golden/GoldenImage.h";
    ASSERT_EQ(expected.width, actual.width);
    ASSERT_EQ(expected.height, actual.height);

    long differing = 0;
    std::string first;
    for (std::size_t i = 0; i < actual.rgba.size(); ++i) {
        if (std::memcmp(&actual.rgba[i], &expected.rgba[i], sizeof(float)) == 0) continue;
        if (differing++ == 0) {
            const std::size_t pixel = i / 4;
            first = "first at (" + std::to_string(pixel % actual.width) + ", " +
                    std::to_string(pixel / actual.width) + ") channel " + "RGBA"[i % 4] +
                    ": expected " + std::to_string(expected.rgba[i]) + ", got " +
                    std::to_string(actual.rgba[i]);
        }
    }
    if (differing) {
        const std::string actualPath = ::testing::TempDir() + g.name + ".actual.golden";
        golden::write(actualPath, actual);
        ADD_FAILURE() << differing << " channels differ from " << path << ", " << first
                      << "; this render is in " << actualPath;
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, SmartRenderGolden, ::testing::ValuesIn(kGoldens),
                         [](const ::testing::TestParamInfo<Golden> &info) {
                             return std::string(info.param.name);
                         });

// The reference files themselves: the reader refuses what it did not write.
TEST(GoldenImage, ReadsWhatItWritesAndRefusesDamagedFiles) {
    golden::Image image;
    image.width = 3;
    image.height = 2;
    for (int i = 0; i < 24; ++i) image.rgba.push_back(float(i) * 0.25f - 1.0f);
    image.rgba[5] = std::nanf("");
    const std::string path = ::testing::TempDir() + "veltrix_golden_roundtrip.golden";
    ASSERT_TRUE(golden::write(path, image));
    golden::Image back;
    ASSERT_TRUE(golden::read(path, back));
    EXPECT_EQ(back.width, 3u);
    EXPECT_EQ(back.height, 2u);
    EXPECT_EQ(std::memcmp(back.rgba.data(), image.rgba.data(), 24 * sizeof(float)), 0);

    std::FILE *file = std::fopen(path.c_str(), "ab");
    ASSERT_NE(file, nullptr);
    std::fputc(0, file); // one byte more than the header promises
    std::fclose(file);
    EXPECT_FALSE(golden::read(path, back));
    EXPECT_TRUE(back.rgba.empty());
    EXPECT_FALSE(golden::read(path + ".missing", back));
    std::remove(path.c_str());
}

} // namespace
