// The composition model around the effect: cameras, time, parameter values
// over time, points and layer pixels as the effect checks them out.
#include "headless/composition/CompositionEffect.h"
#include "headless/images/AreaTable.h"
#include "headless/boundary/Host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

using namespace headless;

namespace {

// ---- the model on its own -------------------------------------------------------------

TEST(Composition, DefaultCameraDistanceAndTimeScale) {
    Composition comp;
    comp.width = 1920;
    EXPECT_DOUBLE_EQ(defaultCameraDistance(comp), 1920 * 50.0 / 36.0);

    EXPECT_EQ(compositionTimeScale(comp), 30u);
    comp.frameRate = 29.97;
    EXPECT_EQ(compositionTimeScale(comp), 2997u);
    comp.frameRate = 23.976;
    EXPECT_EQ(compositionTimeScale(comp), 23976u);
    comp.frameRate = 0.0;
    EXPECT_EQ(compositionTimeScale(comp), 30u);
}

TEST(Composition, EffectCameraIsTheTopmostActiveCameraWithItsVideoOn) {
    Composition comp;
    EXPECT_EQ(activeCamera(comp, 0.0), -1);
    comp.layers.push_back(makeSolid(comp, "Solid", 10, 10, {}));
    Layer off = makeCamera(comp, "Off");
    off.video = false;
    Layer late = makeCamera(comp, "Late");
    late.inPoint = 1.0;
    late.duration = 2.0;
    comp.layers.push_back(off);
    comp.layers.push_back(late);
    comp.layers.push_back(makeCamera(comp, "Always"));
    EXPECT_EQ(activeCamera(comp, 0.0), 3);
    EXPECT_EQ(activeCamera(comp, 1.0), 2);  // its in point counts
    EXPECT_EQ(activeCamera(comp, 2.99), 2);
    EXPECT_EQ(activeCamera(comp, 3.0), 3);  // its out point does not
    comp.layers.pop_back();
    EXPECT_EQ(activeCamera(comp, 0.5), -1); // a switched-off camera is never chosen
}

TEST(Composition, ValidateNamesWhatIsWrong) {
    Composition comp;
    comp.layers.push_back(makeSolid(comp, "Red", 10, 10, {1, 1, 0, 0}));
    comp.layers.push_back(makeFootage(comp, "Clip", 2, 2, std::vector<float>(16, 0.f)));
    comp.layers.push_back(makeCamera(comp, "Camera"));
    EXPECT_TRUE(validate(comp).empty());

    comp.layers[1].footage.rgba.pop_back();
    comp.layers[0].parent = 2;
    comp.layers[2].parent = 0;
    comp.layers[2].duration = -1.0;
    const std::vector<std::string> problems = validate(comp);
    ASSERT_EQ(problems.size(), 4u);
    EXPECT_NE(problems[0].find("\"Red\": its parents form a loop"), std::string::npos) << problems[0];
    EXPECT_NE(problems[1].find("footage holds 15 samples"), std::string::npos) << problems[1];
    EXPECT_NE(problems[2].find("loop"), std::string::npos) << problems[2];
    EXPECT_NE(problems[3].find("duration is negative"), std::string::npos) << problems[3];
}

// ---- an effect instance on a host without a plug-in ------------------------------------

// A composition of a footage layer (4 x 2 pixels), the effect's solid layer,
// a camera and a light; the effect's layer starts at 1 s.
enum { kFootage, kEffectLayer, kCamera, kLight };

std::vector<float> footagePixels() {
    // red, green, blue, alpha per pixel; rows top first
    return {1, 0, 0, 1,   0, 1, 0, 0.5f, 0.5f, 0.5f, 0.5f, 1, 0, 0, 1, 0,
            0, 0, 1, 1,   1, 1, 1, 1,    0, 0, 0, 0,          0, 0, 0, 0};
}

Composition scene() {
    Composition comp;
    comp.width = 400;
    comp.height = 300;
    Layer footage = makeFootage(comp, "Clip", 4, 2, footagePixels());
    footage.footage.pixelAspect = {2, 1};
    comp.layers.push_back(footage);
    Layer effectLayer = makeSolid(comp, "Effect Solid", 200, 100, {1, 0.2, 0.4, 0.6});
    effectLayer.inPoint = 1.0;
    comp.layers.push_back(effectLayer);
    comp.layers.push_back(makeCamera(comp, "Camera"));
    comp.layers.push_back(makeLight(comp, "Light", LightType::Spot));
    return comp;
}

PF_ParamDef definition(PF_ParamType type) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.param_type = type;
    return def;
}

// Parameter indices of the test effect.
enum {
    kFixed = 1, kAngle, kPopup, kCheckbox, kColor, kPoint, kTexture, kSlider, kFloat, kMyself
};

struct CompEffect : ::testing::Test {
    Host host;
    EffectInstance effect{host, scene(), kEffectLayer};

    void SetUp() override {
        for (PF_ParamType type : {PF_Param_FIX_SLIDER, PF_Param_ANGLE, PF_Param_POPUP,
                                  PF_Param_CHECKBOX, PF_Param_COLOR, PF_Param_POINT, PF_Param_LAYER,
                                  PF_Param_SLIDER, PF_Param_FLOAT_SLIDER, PF_Param_LAYER}) {
            PF_ParamDef def = definition(type);
            if (type == PF_Param_POINT) {
                def.u.td.x_value = def.u.td.x_dephault = 50 << 16; // percent of the layer size
                def.u.td.y_value = def.u.td.y_dephault = 25 << 16;
            }
            ASSERT_EQ(host.params().add(-1, &def), PF_Err_NONE);
        }
        host.params().at(kFixed).u.fd.value = 3 << 16;
        host.params().at(kMyself).u.ld.dephault = PF_LayerDefault_MYSELF;
    }
    void TearDown() override { EXPECT_TRUE(host.ledger().empty()) << host.ledger().report(); }

    // Checks parameter `index` out at composition second t (effect time
    // counts from the effect layer's in point) and back in.
    PF_ParamDef at(PF_ParamIndex index, double t) {
        PF_ParamDef def;
        const A_u_long scale = host.inData()->time_scale;
        const A_long time = A_long(std::lround((t - 1.0) * scale));
        EXPECT_EQ(host.params().checkout(index, time, 1, scale, &def), PF_Err_NONE);
        PF_ParamDef copy = def;
        EXPECT_EQ(host.params().checkin(&def), PF_Err_NONE);
        return copy;
    }
};

TEST_F(CompEffect, InDataDescribesTheEffectLayerAndItsTime) {
    const PF_InData &in = *host.inData();
    EXPECT_EQ(in.width, 200);
    EXPECT_EQ(in.height, 100);
    EXPECT_EQ(in.time_scale, 30u);
    EXPECT_EQ(in.time_step, 1);
    EXPECT_EQ(in.current_time, 0);
    EXPECT_DOUBLE_EQ(effect.currentCompTime(), 1.0); // layer time 0 is the in point

    effect.setCompTime(2.5);
    EXPECT_EQ(in.current_time, 45);
    A_Time comp{};
    ASSERT_TRUE(effect.effectToCompTime(45, 30, comp));
    EXPECT_EQ(comp.value, 75);
    EXPECT_EQ(comp.scale, 30u);
    ASSERT_TRUE(effect.effectToCompTime(90, 60, comp)); // in the caller's scale
    EXPECT_EQ(comp.value, 150);
    EXPECT_EQ(comp.scale, 60u);
    EXPECT_FALSE(effect.effectToCompTime(1, 0, comp));
    EXPECT_FALSE(effect.effectToCompTime(INT32_MAX, 30, comp));
    EXPECT_EQ(EffectInstance::of(&host), &effect);
}

TEST_F(CompEffect, UnanimatedParametersReadTheirStoredRecords) {
    EXPECT_EQ(at(kFixed, 1.0).u.fd.value, 3 << 16);
    EXPECT_EQ(at(kFixed, 7.0).u.fd.value, 3 << 16);
}

TEST_F(CompEffect, KeyframedParametersInterpolateOrHoldByType) {
    effect.param(kFixed).keys = {{1.0, {0}}, {2.0, {10}}};
    effect.param(kAngle).keys = {{1.0, {-90}}, {3.0, {90}}};
    effect.param(kPopup).keys = {{1.0, {1}}, {2.0, {3}}};
    effect.param(kCheckbox).keys = {{1.0, {0}}, {2.0, {1}}};
    effect.param(kColor).keys = {{1.0, {255, 0, 100, 0}}, {2.0, {255, 255, 200, 51}}};
    effect.param(kSlider).keys = {{1.0, {0}}, {2.0, {3}}};
    effect.param(kFloat).keys = {{1.0, {0.25}}, {2.0, {0.75}}};

    EXPECT_EQ(at(kFixed, 1.5).u.fd.value, 5 << 16);
    EXPECT_EQ(at(kFixed, 0.0).u.fd.value, 0);        // before the first key
    EXPECT_EQ(at(kFixed, 9.0).u.fd.value, 10 << 16); // after the last
    EXPECT_EQ(at(kAngle, 2.5).u.ad.value, 45 << 16);
    EXPECT_EQ(at(kPopup, 1.9).u.pd.value, 1); // popups hold
    EXPECT_EQ(at(kPopup, 2.0).u.pd.value, 3);
    EXPECT_EQ(at(kCheckbox, 1.9).u.bd.value, 0);     // so do checkboxes
    EXPECT_EQ(at(kCheckbox, 2.1).u.bd.value, 1);
    const PF_Pixel colour = at(kColor, 1.5).u.cd.value;
    EXPECT_EQ(colour.alpha, 255);
    EXPECT_EQ(colour.red, 128);  // 127.5 rounds up
    EXPECT_EQ(colour.green, 150);
    EXPECT_EQ(colour.blue, 26);  // 25.5 rounds up
    EXPECT_EQ(at(kSlider, 1.5).u.sd.value, 2);       // 1.5 rounds up
    EXPECT_DOUBLE_EQ(at(kFloat, 1.5).u.fs_d.value, 0.5);

    // Dropping the track brings back the stored record.
    effect.clearParam(kFixed);
    EXPECT_EQ(at(kFixed, 1.5).u.fd.value, 3 << 16);
}

TEST_F(CompEffect, PointsDefaultToAShareOfTheLayerAndArriveDownsampled) {
    // 50 % and 25 % of the 200 x 100 effect layer.
    PF_ParamDef full = at(kPoint, 1.0);
    EXPECT_EQ(full.u.td.x_value, 100 << 16);
    EXPECT_EQ(full.u.td.y_value, 25 << 16);

    effect.setDownsample({1, 2}, {1, 4});
    PF_ParamDef down = at(kPoint, 1.0);
    EXPECT_EQ(down.u.td.x_value, 50 << 16);
    EXPECT_EQ(down.u.td.y_value, 25 << 14); // 6.25 px

    effect.param(kPoint).keys = {{1.0, {40, 60}}, {2.0, {80, 100}}};
    PF_ParamDef moving = at(kPoint, 1.5);
    EXPECT_EQ(moving.u.td.x_value, 30 << 16); // 60 px at 1/2
    EXPECT_EQ(moving.u.td.y_value, 20 << 16); // 80 px at 1/4
}

// Reads pixel (x, y) of a checked-out layer as the effect would: base, rowbytes, depth.
template <class Pixel> Pixel pixelAt(const PF_LayerDef &ld, int x, int y) {
    Pixel p;
    std::memcpy(&p, static_cast<const char *>(ld.data) + y * ld.rowbytes + x * A_long(sizeof(Pixel)),
                sizeof p);
    return p;
}

TEST_F(CompEffect, LayerParametersCarryTheChosenLayersSourcePixels) {
    effect.setRenderDepth(32);
    effect.chooseLayer(kTexture, kFootage);
    PF_ParamDef def;
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
    const PF_LayerDef &ld = def.u.ld;
    EXPECT_EQ(ld.reserved0, effect.layerHandle(kFootage));
    ASSERT_NE(ld.data, nullptr);
    EXPECT_EQ(ld.width, 4);
    EXPECT_EQ(ld.height, 2);
    EXPECT_GT(ld.rowbytes, 4 * A_long(sizeof(PF_PixelFloat))); // rows are padded
    EXPECT_EQ(ld.pix_aspect_ratio.num, 2);
    const PF_PixelFloat p10 = pixelAt<PF_PixelFloat>(ld, 1, 0);
    EXPECT_EQ(p10.alpha, 0.5f);
    EXPECT_EQ(p10.green, 1.0f);
    const PF_PixelFloat p01 = pixelAt<PF_PixelFloat>(ld, 0, 1); // second row, through rowbytes
    EXPECT_EQ(p01.alpha, 1.0f);
    EXPECT_EQ(p01.blue, 1.0f);
    EXPECT_EQ(p01.red, 0.0f);
    EXPECT_EQ(host.ledger().count(EffectInstance::kLayerParamPixels), 1);
    ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);
    EXPECT_EQ(host.ledger().count(EffectInstance::kLayerParamPixels), 0);

    // The source image ignores the layer's video switch and transform.
    effect.editComposition().layers[kFootage].video = false;
    effect.editComposition().layers[kFootage].transform.scale = Vec3{10, 10, 10};
    EXPECT_EQ(at(kTexture, 1.0).u.ld.width, 4);
}

TEST_F(CompEffect, CheckedOutLayerPixelsCanBeAreaSampled) {
    // A texture the effect checks out must be reachable by the host's samplers.
    effect.setRenderDepth(32);
    effect.chooseLayer(kTexture, kFootage);
    PF_ParamDef def;
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
    const void *table = nullptr;
    ASSERT_EQ(host.suites().acquire("PF SamplingFloat Suite", 1, &table), kSPNoError);
    const auto *sampling = static_cast<const PF_SamplingFloatSuite1 *>(table);
    PF_SampPB pb{};
    pb.x_radius = pb.y_radius = 1; // the smallest footprint: bilinear
    pb.src = &def.u.ld;
    PF_PixelFloat out{};
    EXPECT_EQ(sampling->area_sample_float(host.effectRef(), 0, 1 << 16, &pb, &out), PF_Err_NONE);
    const PF_PixelFloat expected = pixelAt<PF_PixelFloat>(def.u.ld, 0, 1);
    EXPECT_EQ(out.alpha, expected.alpha);
    EXPECT_EQ(out.blue, expected.blue);
    EXPECT_EQ(host.suites().release("PF SamplingFloat Suite", 1), kSPNoError);
    ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(CompEffect, LargeLayersKeepWholeTablesButFloatFootageRollsInFloat) {
    // A texture's samples land all over it: a layer's table is held whole,
    // where a world of the same size that the effect makes rolls with its
    // samples. Footage kept as floats rolls in a float layer.
    const int side = 1100; // a table of 38.8 MB in 8-byte sums
    FootageSource floats, bytes;
    floats.width = floats.height = bytes.width = bytes.height = side;
    floats.rgba.assign(std::size_t(side) * side * 4, 0.5f);
    bytes.rgba8.assign(std::size_t(side) * side * 4, 128);
    const Composition &comp = effect.composition();
    const Layer layers[] = {makeSolid(comp, "Solid", side, side, {1.0, 0.5, 0.25, 0.75}),
                            makeFootage(comp, "Bytes", bytes), makeFootage(comp, "Floats", floats)};
    effect.chooseLayer(kTexture, kFootage);
    for (const Layer &layer : layers)
        for (int bits : {8, 16, 32}) {
            effect.editComposition().layers[kFootage] = layer; // and the layers' pixels made afresh
            effect.setRenderDepth(bits);
            PF_ParamDef def;
            ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
            const HostWorld *world = host.worlds().find(def.u.ld);
            ASSERT_NE(world, nullptr);
            const bool rolls = bits == 32 && layer.sourceName == "Floats";
            EXPECT_EQ(world->areaTable().rolling(), rolls) << layer.sourceName << " at " << bits << " bits";
            if (!rolls) {
                EXPECT_EQ(world->areaTable().rowsHeld(), std::size_t(side) + 1);
            }
            ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);
        }
    EXPECT_TRUE(HostWorld(PixelDepth::Eight, side, side).areaTable().rolling());
}

TEST_F(CompEffect, CheckoutsOfOneLayerShareItsPixelsUntilTheLastCheckin) {
    // The input and a parameter holding "this layer" name the same pixels.
    effect.setRenderDepth(16);
    PF_ParamDef input, myself, again;
    ASSERT_EQ(host.params().checkout(0, 0, 1, 30, &input), PF_Err_NONE);
    ASSERT_EQ(host.params().checkout(kMyself, 0, 1, 30, &myself), PF_Err_NONE);
    ASSERT_NE(input.u.ld.data, nullptr);
    EXPECT_EQ(myself.u.ld.data, input.u.ld.data);
    EXPECT_EQ(myself.u.ld.reserved0, input.u.ld.reserved0);
    const PF_Pixel16 before = pixelAt<PF_Pixel16>(input.u.ld, 1, 1);

    // One checkin leaves the other's pixels in place (and sampleable).
    ASSERT_EQ(host.params().checkin(&input), PF_Err_NONE);
    EXPECT_FALSE(host.ledger().empty());
    const PF_Pixel16 after = pixelAt<PF_Pixel16>(myself.u.ld, 1, 1);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);

    // Another depth is another copy.
    effect.setRenderDepth(32);
    ASSERT_EQ(host.params().checkout(0, 0, 1, 30, &again), PF_Err_NONE);
    EXPECT_NE(again.u.ld.data, myself.u.ld.data);
    ASSERT_EQ(host.params().checkin(&again), PF_Err_NONE);
    ASSERT_EQ(host.params().checkin(&myself), PF_Err_NONE);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(CompEffect, LayerPixelsAFrameUsedAreKeptForTheNextUntilTheCompositionChanges) {
    effect.chooseLayer(kTexture, kFootage);
    effect.setRenderDepth(32);
    PF_ParamDef def;
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
    const HostWorld *first = host.worlds().find(def.u.ld);
    ASSERT_NE(first, nullptr);
    first->areaTable();
    ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);
    effect.frameEnded();
    // Kept by the host, not held by the effect.
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();

    // The next frame reads the same copy, its area table made once.
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
    EXPECT_EQ(host.worlds().find(def.u.ld), first);
    EXPECT_EQ(first->tableBuilds(), 1);
    ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);
    effect.frameEnded();

    // A frame that does not read the layer lets its copy go.
    effect.frameEnded();
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
    const HostWorld *fresh = host.worlds().find(def.u.ld);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->tableBuilds(), 0);
    ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);
    effect.frameEnded();

    // A changed composition is read anew, also while a copy is out.
    PF_ParamDef held;
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &held), PF_Err_NONE);
    effect.editComposition().layers[kFootage].footage.rgba[0] = 0.25f;
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
    EXPECT_EQ(pixelAt<PF_PixelFloat>(def.u.ld, 0, 0).red, 0.25f);
    EXPECT_EQ(pixelAt<PF_PixelFloat>(held.u.ld, 0, 0).red, 1.0f);
    ASSERT_EQ(host.params().checkin(&held), PF_Err_NONE);
    ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);
    effect.frameEnded();
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
    EXPECT_EQ(pixelAt<PF_PixelFloat>(def.u.ld, 0, 0).red, 0.25f);
    ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(CompEffect, LayerPixelsAt8And16BitsFollowTheOneConversionRule) {
    effect.chooseLayer(kTexture, kFootage);
    effect.setRenderDepth(8);
    PF_ParamDef def;
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
    EXPECT_EQ(def.u.ld.world_flags & PF_WorldFlag_DEEP, 0);
    const PF_Pixel grey = pixelAt<PF_Pixel>(def.u.ld, 2, 0);
    EXPECT_EQ(grey.alpha, 255);
    EXPECT_EQ(grey.red, 127); // 0.5 * 255 = 127.5, truncated
    const PF_Pixel white = pixelAt<PF_Pixel>(def.u.ld, 1, 1);
    EXPECT_EQ(white.green, 255);
    ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);

    effect.setRenderDepth(16);
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
    EXPECT_NE(def.u.ld.world_flags & PF_WorldFlag_DEEP, 0);
    EXPECT_GT(def.u.ld.rowbytes, 4 * A_long(sizeof(PF_Pixel16)));
    const PF_Pixel16 grey16 = pixelAt<PF_Pixel16>(def.u.ld, 2, 0);
    EXPECT_EQ(grey16.alpha, 32768);
    EXPECT_EQ(grey16.blue, 16384);
    const PF_Pixel16 half = pixelAt<PF_Pixel16>(def.u.ld, 1, 0);
    EXPECT_EQ(half.alpha, 16384);
    ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);
}

TEST_F(CompEffect, DownsampledLayerPixelsAverageTheirBlockWeightedByAlpha) {
    effect.chooseLayer(kTexture, kFootage);
    effect.setRenderDepth(32);
    effect.setDownsample({1, 2}, {1, 2});
    PF_ParamDef def;
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
    ASSERT_EQ(def.u.ld.width, 2);
    ASSERT_EQ(def.u.ld.height, 1);
    // Left block: alphas 1, 0.5, 1, 1; colour weighted by them.
    const PF_PixelFloat left = pixelAt<PF_PixelFloat>(def.u.ld, 0, 0);
    EXPECT_FLOAT_EQ(left.alpha, 0.875f);
    EXPECT_FLOAT_EQ(left.red, 2.0f / 3.5f);
    EXPECT_FLOAT_EQ(left.green, 1.5f / 3.5f);
    EXPECT_FLOAT_EQ(left.blue, 2.0f / 3.5f);
    // Right block: one grey pixel and three transparent ones (one of them blue).
    const PF_PixelFloat right = pixelAt<PF_PixelFloat>(def.u.ld, 1, 0);
    EXPECT_FLOAT_EQ(right.alpha, 0.25f);
    EXPECT_FLOAT_EQ(right.blue, 0.5f);
    ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);

    // The same at 8 bits: the average, then the conversion rule.
    effect.setRenderDepth(8);
    ASSERT_EQ(host.params().checkout(kTexture, 0, 1, 30, &def), PF_Err_NONE);
    const PF_Pixel left8 = pixelAt<PF_Pixel>(def.u.ld, 0, 0);
    EXPECT_EQ(left8.alpha, 223); // 0.875 * 255 = 223.1
    EXPECT_EQ(left8.red, 145);   // 0.5714 * 255 = 145.7
    ASSERT_EQ(host.params().checkin(&def), PF_Err_NONE);
}

// Footage kept as a file's 8-bit or 16-bit integers must hand out the bytes
// the same footage as floats does, at every depth and when downsampled.
TEST(LayerPixels, IntegerFootageMatchesItsFloats) {
    const int w = 7, h = 5;
    FootageSource eight, sixteen, eightAsFloats, sixteenAsFloats;
    for (FootageSource *f : {&eight, &sixteen, &eightAsFloats, &sixteenAsFloats}) f->width = w, f->height = h;
    for (int i = 0; i < w * h * 4; ++i) {
        eight.rgba8.push_back(std::uint8_t(i * 37 % 256));
        sixteen.rgba16.push_back(std::uint16_t(i * 4099 % 65536));
        // As image readers make floats of them (not v / 255, which rounds
        // differently for some v).
        eightAsFloats.rgba.push_back(float(eight.rgba8.back()) * (1.0f / 255.0f));
        sixteenAsFloats.rgba.push_back(float(sixteen.rgba16.back()) * (1.0f / 65535.0f));
    }
    Composition comp;
    const std::pair<FootageSource, FootageSource> pairs[] = {{eight, eightAsFloats}, {sixteen, sixteenAsFloats}};
    for (const auto &[integers, floats] : pairs)
        for (int bits : {8, 16, 32})
            for (A_u_long den : {1u, 2u}) {
                const auto a = layerPixels(makeFootage(comp, "I", integers), {1, den}, {1, den}, bits);
                const auto b = layerPixels(makeFootage(comp, "F", floats), {1, den}, {1, den}, bits);
                ASSERT_TRUE(a && b);
                const std::size_t rowBytes = std::size_t(a->width()) * std::size_t(bytesPerPixel(bits));
                for (int y = 0; y < a->height(); ++y)
                    EXPECT_EQ(std::memcmp(static_cast<const char *>(a->data()) + y * a->rowbytes(),
                                          static_cast<const char *>(b->data()) + y * b->rowbytes(), rowBytes),
                              0)
                        << "bits " << bits << " downsample 1/" << den << " row " << y;
            }
}

// The same bytes, row by row (padding left out), in two layer images.
void expectSameBytes(const LayerImage &a, const LayerImage &b, const std::string &what) {
    ASSERT_EQ(a.width(), b.width()) << what;
    ASSERT_EQ(a.height(), b.height()) << what;
    const std::size_t rowBytes = std::size_t(a.width()) * std::size_t(bytesPerPixel(a.bitsPerChannel()));
    for (int y = 0; y < a.height(); ++y)
        ASSERT_EQ(std::memcmp(static_cast<const char *>(a.data()) + y * a.rowbytes(),
                              static_cast<const char *>(b.data()) + y * b.rowbytes(), rowBytes),
                  0)
            << what << " row " << y;
}

// Scales a layer is checked out at: full size, whole reductions (blocks cut
// short at the right and bottom edges), different ones across and down, a
// fraction that is not a whole reduction, and a scale up (pixels seen by
// no output pixel's block take the nearest).
const PF_RationalScale kScales[][2] = {{{1, 1}, {1, 1}}, {{1, 2}, {1, 2}}, {{1, 3}, {1, 3}}, {{1, 4}, {1, 2}},
                                       {{2, 3}, {3, 5}}, {{3, 2}, {1, 1}}, {{1, 16}, {1, 16}}};

// Layers are made without any image of the source's size (solids from their
// colour, footage row by row); they must hand out exactly the bytes the
// general path (float source image, downsampled, then the one conversion
// rule) makes, at every scale and depth: every sample type, floats beyond
// [0, 1] and NaN, footage whose samples do not fit its size (transparent),
// solid colours beyond [0, 1] and NaN, nulls.
TEST(LayerPixels, EveryLayerAtEveryScaleMatchesTheGeneralPath) {
    const int w = 7, h = 5;
    FootageSource floats, bytes, words, broken;
    for (FootageSource *f : {&floats, &bytes, &words, &broken}) f->width = w, f->height = h;
    for (int i = 0; i < w * h * 4; ++i) {
        floats.rgba.push_back(i % 7 == 3 ? std::nanf("") : float(i % 11) * 0.13f - 0.2f);
        bytes.rgba8.push_back(std::uint8_t(i * 53 % 256));
        words.rgba16.push_back(std::uint16_t(i * 7919 % 65536));
    }
    broken.rgba = std::vector<float>(std::size_t(w) * h * 4 - 1, 0.5f);
    Composition comp;
    std::vector<std::pair<std::string, Layer>> layers;
    const char *footageNames[] = {"float footage", "8-bit footage", "16-bit footage", "broken footage"};
    const FootageSource *sources[] = {&floats, &bytes, &words, &broken};
    for (int k = 0; k < 4; ++k) layers.push_back({footageNames[k], makeFootage(comp, "Clip", *sources[k])});
    const double nan = std::nan("");
    const ColorValue colours[] = {{1.0, 0.5, 0.25, 0.999}, {0.3, 1.7, -0.2, nan}, {0.1, 0.7, 0.2, 0.3}};
    for (const ColorValue &colour : colours) layers.push_back({"solid", makeSolid(comp, "Solid", w, h, colour)});
    Layer null = makeSolid(comp, "Null", w, h, colours[0]);
    null.type = LayerType::Null;
    layers.push_back({"null", null});

    for (const auto &[name, layer] : layers)
        for (const auto &scale : kScales)
            for (int bits : {8, 16, 32}) {
                const std::string what = name + " at " + std::to_string(scale[0].num) + "/" +
                                         std::to_string(scale[0].den) + " x " + std::to_string(scale[1].num) + "/" +
                                         std::to_string(scale[1].den) + ", " + std::to_string(bits) + " bits";
                const auto direct = layerPixels(layer, scale[0], scale[1], bits);
                const auto general =
                    LayerImage::fromSource(downsampleImage(layerSourceImage(layer), scale[0], scale[1]), bits);
                ASSERT_TRUE(direct && general) << what;
                expectSameBytes(*direct, *general, what);
            }

    Layer empty;
    empty.type = LayerType::Solid;
    empty.solid = {0, 4, {}};
    Layer camera;
    camera.type = LayerType::Camera;
    for (const auto &scale : kScales) {
        EXPECT_EQ(layerPixels(empty, scale[0], scale[1], 8), nullptr);
        EXPECT_EQ(layerPixels(camera, scale[0], scale[1], 8), nullptr);
    }
}

TEST_F(CompEffect, WhichLayerALayerParameterHolds) {
    // No choice: none, with every field clear.
    PF_ParamDef none = at(kTexture, 1.0);
    EXPECT_EQ(none.u.ld.reserved0, nullptr);
    EXPECT_EQ(none.u.ld.data, nullptr);
    EXPECT_EQ(none.u.ld.width, 0);
    // The input and a parameter whose default is the effect's own layer: that layer.
    PF_ParamDef input;
    ASSERT_EQ(host.params().checkout(0, 0, 1, 30, &input), PF_Err_NONE);
    EXPECT_EQ(input.u.ld.reserved0, effect.layerHandle(kEffectLayer));
    EXPECT_EQ(input.u.ld.width, 200);
    const PF_Pixel solid = pixelAt<PF_Pixel>(input.u.ld, 199, 99);
    EXPECT_EQ(solid.alpha, 255);
    EXPECT_EQ(solid.red, 51); // 0.2 * 255 = 51.000001 in single precision
    ASSERT_EQ(host.params().checkin(&input), PF_Err_NONE);
    EXPECT_EQ(at(kMyself, 1.0).u.ld.reserved0, effect.layerHandle(kEffectLayer));
    // A camera or a light is no image: none.
    effect.chooseLayer(kTexture, kCamera);
    EXPECT_EQ(at(kTexture, 1.0).u.ld.reserved0, nullptr);
    // Layer choices hold between keys; a key naming no layer is none.
    effect.param(kTexture).keys = {{1.0, {kFootage}}, {2.0, {-1}}, {3.0, {kEffectLayer}}};
    EXPECT_EQ(at(kTexture, 1.9).u.ld.reserved0, effect.layerHandle(kFootage));
    EXPECT_EQ(at(kTexture, 2.5).u.ld.reserved0, nullptr);
    EXPECT_EQ(at(kTexture, 3.0).u.ld.reserved0, effect.layerHandle(kEffectLayer));
    effect.chooseLayer(kTexture, 99);
    EXPECT_EQ(at(kTexture, 1.0).u.ld.reserved0, nullptr);
}

// What the effect saw in the parameter array of the last command.
struct Published {
    void *texture = nullptr;
    PF_Fixed pointX = 0;
    PF_Fixed fixed = 0;
} g_published;

PF_Err RecordingEntryPoint(PF_Cmd, PF_InData *, PF_OutData *, PF_ParamDef *params[], PF_LayerDef *,
                           void *) {
    g_published = {params[kTexture]->u.ld.reserved0, params[kPoint]->u.td.x_value,
                   params[kFixed]->u.fd.value};
    return PF_Err_NONE;
}

TEST(CompEffectCommands, EveryCommandSeesTheValuesOfTheCurrentTime) {
    Host host(RecordingEntryPoint);
    {
        EffectInstance effect(host, scene(), kEffectLayer);
        for (PF_ParamType type : {PF_Param_FIX_SLIDER, PF_Param_ANGLE, PF_Param_POPUP,
                                  PF_Param_CHECKBOX, PF_Param_COLOR, PF_Param_POINT, PF_Param_LAYER}) {
            PF_ParamDef def = definition(type);
            if (type == PF_Param_POINT) def.u.td.x_dephault = 10 << 16;
            ASSERT_EQ(host.params().add(-1, &def), PF_Err_NONE);
        }
        effect.param(kFixed).keys = {{1.0, {0}}, {3.0, {20}}};
        effect.chooseLayer(kTexture, kFootage);
        effect.setDownsample({1, 2}, {1, 2});
        effect.setCompTime(2.0);
        EXPECT_EQ(host.updateParamsUI(), PF_Err_NONE);
        EXPECT_EQ(g_published.texture, effect.layerHandle(kFootage));
        EXPECT_EQ(g_published.pointX, 10 << 16); // 10 % of 200 px at half size
        EXPECT_EQ(g_published.fixed, 10 << 16);

        effect.chooseLayer(kTexture, -1);
        effect.setCompTime(3.0);
        EXPECT_EQ(host.updateParamsUI(), PF_Err_NONE);
        EXPECT_EQ(g_published.texture, nullptr);
        EXPECT_EQ(g_published.fixed, 20 << 16);
    }
    // Without the instance the host is back to its plain self.
    EXPECT_EQ(EffectInstance::of(&host), nullptr);
    EXPECT_FALSE(host.suites().contains("AEGP Layer Suite", 12));
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST(CompEffectCommands, OneInstancePerHost) {
    Host host;
    EffectInstance first(host, scene(), kEffectLayer);
    EXPECT_THROW({ EffectInstance second(host, scene(), kEffectLayer); }, std::invalid_argument);
    EXPECT_EQ(EffectInstance::of(&host), &first);
}

} // namespace
