// What each wrapper operation passes to the host and what it makes of the answer.
#include "AEO_FakeAegp.h"

#include "scene/AEO_CameraLayer.h"
#include "scene/AEO_Composition.h"
#include "scene/AEO_Effect.h"
#include "scene/AEO_Interface.h"
#include "scene/AEO_Item.h"
#include "scene/AEO_LightLayer.h"
#include "scene/AEO_Stream.h"

#include <cmath>
#include <limits>
#include <string>

namespace aeo_test {
namespace {

const A_Time kTime = {48, 24};
const auto kLayer = FakeHandle<AEGP_LayerH>(9);

AEGP_StreamVal2 OneD(double v) {
    AEGP_StreamVal2 value{};
    value.one_d = v;
    return value;
}

std::u16string ToU16(const aeUTF16String &s) { return std::u16string(s.begin(), s.end()); }

TEST_F(AEOTest, CameraGettersReadTheirLayerStreamsAtTheGivenTime) {
    fake.streamValues = {{AEGP_LayerStream_ZOOM, OneD(1777.7)},
                         {AEGP_LayerStream_DEPTH_OF_FIELD, OneD(1.0)},
                         {AEGP_LayerStream_FOCUS_DISTANCE, OneD(900.5)},
                         {AEGP_LayerStream_APERTURE, OneD(25.3)},
                         {AEGP_LayerStream_BLUR_LEVEL, OneD(80.0)}};
    inCommand([&] {
        AEO::CameraLayer camera(kLayer);
        EXPECT_EQ(camera.GetZoom(kTime), 1777.7);
        EXPECT_TRUE(camera.GetDepthOfField(kTime));
        EXPECT_EQ(camera.GetFocusDistance(kTime), 900.5);
        EXPECT_EQ(camera.GetAperture(kTime), 25.3);
        EXPECT_EQ(camera.GetBlurLevel(kTime), 80.0);
        EXPECT_EQ(camera.GetCameraType(), AEGP_CameraType_ORTHOGRAPHIC);
        EXPECT_EQ(camera.err(), PF_Err_NONE);
    });
    const AEGP_LayerStream expected[] = {11, 12, 13, 14, 15};
    ASSERT_EQ(fake.streamReads.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        const auto &read = fake.streamReads[i];
        EXPECT_EQ(read.stream, expected[i]);
        EXPECT_EQ(read.layer, kLayer);
        EXPECT_EQ(read.mode, AEGP_LTimeMode_CompTime);
        EXPECT_EQ(read.time.value, kTime.value);
        EXPECT_EQ(read.time.scale, kTime.scale);
        EXPECT_FALSE(read.preExpression);
    }
}

TEST_F(AEOTest, TimeModeAndPreExpressionReachTheHostUnchanged) {
    fake.streamValues[AEGP_LayerStream_ZOOM] = OneD(2.0);
    inCommand([&] {
        AEO::CameraLayer camera(kLayer);
        camera.GetZoom(kTime, AEGP_LTimeMode_LayerTime, true);
        AEGP_StreamType type = AEGP_StreamType_NO_DATA;
        camera.GetStreamValue(AEGP_LayerStream_ZOOM, AEGP_LTimeMode_CompTime, kTime, false, &type);
        EXPECT_EQ(type, AEGP_StreamType_OneD);
    });
    ASSERT_EQ(fake.streamReads.size(), 2u);
    EXPECT_EQ(fake.streamReads[0].mode, AEGP_LTimeMode_LayerTime);
    EXPECT_TRUE(fake.streamReads[0].preExpression);
}

TEST_F(AEOTest, DepthOfFieldIsOnWhenTheLowByteOfItsIntegerValueIsSet) {
    const struct {
        double value;
        bool on;
    } cases[] = {{0.0, false}, {1.0, true},  {0.9, false},  {256.0, false},
                 {257.0, true}, {-1.0, true}, {1e300, false}, {std::nan(""), false}};
    for (const auto &c : cases) {
        fake.streamValues[AEGP_LayerStream_DEPTH_OF_FIELD] = OneD(c.value);
        inCommand([&] {
            AEO::CameraLayer camera(kLayer);
            EXPECT_EQ(camera.GetDepthOfField(kTime), c.on) << c.value;
        });
    }
}

TEST_F(AEOTest, LightGettersReadTheirLayerStreams) {
    AEGP_StreamVal2 colour{};
    colour.color = {1.0, 0.25, 0.5, 0.75};
    fake.streamValues = {{AEGP_LayerStream_INTENSITY, OneD(150.0)},
                         {AEGP_LayerStream_COLOR, colour},
                         {AEGP_LayerStream_CONE_ANGLE, OneD(90.0)},
                         {AEGP_LayerStream_CONE_FEATHER, OneD(50.0)},
                         {AEGP_LayerStream_SHADOW_DARKNESS, OneD(100.0)},
                         {AEGP_LayerStream_SHADOW_DIFFUSION, OneD(3.0)},
                         {AEGP_LayerStream_CASTS_SHADOWS, OneD(2.0)}};
    inCommand([&] {
        AEO::LightLayer light(kLayer);
        EXPECT_EQ(light.GetIntensity(kTime), 150.0);
        const AEGP_ColorVal c = light.GetColor(kTime);
        EXPECT_EQ(c.alphaF, 1.0);
        EXPECT_EQ(c.redF, 0.25);
        EXPECT_EQ(c.greenF, 0.5);
        EXPECT_EQ(c.blueF, 0.75);
        EXPECT_EQ(light.GetConeAngle(kTime), 90.0);
        EXPECT_EQ(light.GetConeFeather(kTime), 50.0);
        EXPECT_EQ(light.GetShadowDarkenss(kTime), 100.0);
        EXPECT_EQ(light.GetShadowDiffusion(kTime), 3.0);
        EXPECT_TRUE(light.GetCastsShadows(kTime)); // "only shadows" counts too
        EXPECT_EQ(light.GetLightType(), AEGP_LightType_SPOT);
        EXPECT_EQ(light.err(), PF_Err_NONE);
    });
    const AEGP_LayerStream expected[] = {16, 17, 18, 19, 20, 21, 28};
    ASSERT_EQ(fake.streamReads.size(), 7u);
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(fake.streamReads[i].stream, expected[i]);

    fake.streamValues[AEGP_LayerStream_CASTS_SHADOWS] = OneD(0.0);
    inCommand([&] { EXPECT_FALSE(AEO::LightLayer(kLayer).GetCastsShadows(kTime)); });
}

TEST_F(AEOTest, LayerReadsPassTheLayerAndReturnTheHostsAnswers) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) fake.toWorld.mat[r][c] = r * 4 + c + 0.5;
    inCommand([&] {
        AEO::Layer layer(kLayer);
        EXPECT_EQ(layer.GetParentComp(), fake.parentComp);
        EXPECT_EQ(fake.lastHandle, kLayer);
        EXPECT_EQ(layer.GetSourceItem(), fake.sourceItem);
        const A_Matrix4 m = layer.GetToWorldXform(kTime);
        EXPECT_EQ(fake.lastCompTime.value, kTime.value);
        EXPECT_EQ(m.mat[3][1], 13.5);
        EXPECT_EQ(m.mat[0][0], 0.5);
        const A_Time in = layer.GetInPoint(AEGP_LTimeMode_LayerTime);
        EXPECT_EQ(fake.lastTimeMode, AEGP_LTimeMode_LayerTime);
        EXPECT_EQ(in.value, 30);
        EXPECT_EQ(layer.GetDuration().value, 300);
        EXPECT_EQ(fake.lastTimeMode, AEGP_LTimeMode_CompTime);
        EXPECT_EQ(layer.GetObjectType(), AEGP_ObjectType_LIGHT);
        EXPECT_EQ(layer.GetFlags(), AEGP_LayerFlag_VIDEO_ACTIVE);
        EXPECT_EQ(layer.err(), PF_Err_NONE);
    });
}

TEST_F(AEOTest, LayerNamesComeBackAsUtf16AndTheirMemoryIsFreed) {
    fake.layerName = u"Controller Null";
    fake.sourceName = u"Null 1";
    inCommand([&] {
        AEO::Layer layer(kLayer);
        EXPECT_EQ(ToU16(layer.getLayerName()), u"Controller Null");
        EXPECT_EQ(fake.lastPluginId, kPluginId);
        EXPECT_EQ(ToU16(layer.getSourceName()), u"Null 1");
        EXPECT_TRUE(fake.memory.empty());
        EXPECT_EQ(outstanding("AEGP Memory Suite", 1), 0);

        fake.layerName = u"";
        EXPECT_TRUE(layer.getLayerName().empty());
        EXPECT_EQ(layer.err(), PF_Err_NONE);
    });
}

TEST_F(AEOTest, AnUnterminatedNameEndsWithItsMemoryHandle) {
    fake.terminateUtf16 = false;
    fake.layerName = u"Spot";
    inCommand([&] { EXPECT_EQ(ToU16(AEO::Layer(kLayer).getLayerName()), u"Spot"); });
}

TEST_F(AEOTest, SetNameHandsTheTextToTheHost) {
    inCommand([&] {
        AEO::Layer layer(kLayer);
        const aeUTF16String name = layer.getSourceName();
        layer.SetName(name);
        EXPECT_EQ(fake.lastNewName, u"Solid 1");
        EXPECT_EQ(fake.lastHandle, kLayer);
        layer.SetName(static_cast<const A_UTF16Char *>(nullptr));
        EXPECT_EQ(fake.count("AEGP_SetLayerName"), 1);
        EXPECT_EQ(layer.err(), PF_Err_BAD_CALLBACK_PARAM);
    });
}

TEST_F(AEOTest, TheLocalizedNameUsesTheOlderLayerSuiteForTheCallOnly) {
    fake.localizedName = std::string(40, 'n'); // longer than the host's buffer
    inCommand([&] {
        AEO::Layer layer(kLayer);
        const aeString name = layer.getLayerNameLocalized();
        EXPECT_EQ(name.size(), AEGP_MAX_LAYER_NAME_SIZE - 1u);
        EXPECT_EQ(fake.layerSuite11WhileNaming, 1);
        EXPECT_EQ(outstanding("AEGP Layer Suite", 11), 0);
        EXPECT_EQ(layer.err(), PF_Err_NONE);
    });
}

TEST_F(AEOTest, CompositionReadsAndTheDefaultCameraDistance) {
    fake.layers = {FakeHandle<AEGP_LayerH>(20), FakeHandle<AEGP_LayerH>(21)};
    const auto comp = FakeHandle<AEGP_CompH>(1);
    inCommand([&] {
        AEO::Composition composition(comp);
        EXPECT_EQ(composition.GetItem(), fake.compItem);
        EXPECT_EQ(fake.lastHandle, comp);
        EXPECT_EQ(composition.GetNumLayers(), 2);
        EXPECT_EQ(composition.GetLayerByIndex(1), FakeHandle<AEGP_LayerH>(21));
        EXPECT_EQ(composition.GetDefaultCameraDistanceToImagePlane(), 1866.6);
        EXPECT_EQ(fake.cameraSuiteWhileMeasuring, 1);
        EXPECT_EQ(outstanding("AEGP Camera Suite", 2), 0);
        EXPECT_EQ(composition.err(), PF_Err_NONE);
        // An index the host rejects is the composition's first error.
        EXPECT_EQ(composition.GetLayerByIndex(5), nullptr);
        EXPECT_EQ(composition.err(), A_Err_PARAMETER);
        EXPECT_EQ(composition.GetNumLayers(), 0);
    });
}

TEST_F(AEOTest, ItemSizeIsReadAtConstruction) {
    inCommand([&] {
        AEO::Item item(FakeHandle<AEGP_ItemH>(2));
        EXPECT_EQ(fake.count("AEGP_GetItemDimensions"), 1);
        EXPECT_EQ(item.GetWidth(), 1920);
        EXPECT_EQ(item.GetHeight(), 1080);
        const A_Ratio par = item.GetPixelAspectRatio();
        EXPECT_EQ(par.num, 10);
        EXPECT_EQ(par.den, 11u);
    });
}

TEST_F(AEOTest, InterfaceCallsCarryTheCommandsEffectReferenceAndPluginId) {
    host.setTime(120, 1, 24);
    inCommand([&] {
        AEO::Interface iface;
        EXPECT_EQ(iface.GetEffectLayer(), fake.effectLayer);
        EXPECT_EQ(fake.lastEffectRef, host.effectRef());
        const A_Time t = iface.ConvertEffectToCompTime(host.inData()->current_time,
                                                       host.inData()->time_scale);
        EXPECT_EQ(fake.lastTimeValue, 120);
        EXPECT_EQ(fake.lastTimeScale, 24u);
        EXPECT_EQ(t.value, fake.compTime.value);
        EXPECT_EQ(iface.GetEffectCamera(t), fake.cameraLayer);
        EXPECT_EQ(fake.lastCompTime.value, fake.compTime.value);
        EXPECT_EQ(iface.GetNewEffectForEffect(), fake.newEffect);
        EXPECT_EQ(fake.lastPluginId, kPluginId);
        EXPECT_EQ(iface.err(), PF_Err_NONE);
        EXPECT_EQ(outstanding("AEGP PF Interface Suite", 1), 1);
    });
}

TEST_F(AEOTest, InterfaceFallsBackOnTheCommandsSuiteCache) {
    // The wrapper's own acquisition fails; the cache's (the second) succeeds.
    host.faults().arm(headless::service::kAcquireSuite, 1, A_Err_GENERIC,
                      "AEGP PF Interface Suite");
    inCommand([&] {
        AEO::Interface iface;
        EXPECT_EQ(iface.GetEffectLayer(), fake.effectLayer);
        EXPECT_EQ(iface.err(), PF_Err_NONE);
        EXPECT_EQ(acquisitions("AEGP PF Interface Suite"), 2);
    });
}

TEST_F(AEOTest, InterfaceWithoutTheSuiteRecordsTheErrorAndDoesNotThrow) {
    host.suites().remove("AEGP PF Interface Suite", 1);
    inCommand([&] {
        AEO::Interface iface;
        EXPECT_EQ(iface.GetEffectLayer(), nullptr);
        EXPECT_EQ(iface.err(), PF_Err_BAD_CALLBACK_PARAM);
        const A_Time t = iface.ConvertEffectToCompTime(10, 30);
        EXPECT_EQ(t.value, 0);
        EXPECT_EQ(t.scale, 1u);
    });
}

TEST_F(AEOTest, EffectAndStreamEditTheEffectsOwnParameterStream) {
    inCommand([&] {
        AEO::Interface iface;
        AEO::Effect effect(iface.GetNewEffectForEffect());
        AEO::Stream stream(effect.GetNewStreamByIndex(58));
        EXPECT_EQ(fake.lastHandle, fake.newEffect);
        EXPECT_EQ(fake.lastParamIndex, 58);
        EXPECT_EQ(fake.lastPluginId, kPluginId);

        stream.SetExpression("thisComp.layer(\"Null 1\")");
        EXPECT_EQ(fake.lastExpression, "thisComp.layer(\"Null 1\")");
        EXPECT_EQ(fake.lastHandle, fake.newStream);
        stream.SetDynamicsStreamFlag(AEGP_DynStreamFlag_HIDDEN, false, true);
        EXPECT_EQ(fake.lastFlag, AEGP_DynStreamFlag_HIDDEN);
        EXPECT_EQ(fake.lastUndoable, 0);
        EXPECT_EQ(fake.lastSet, 1);
        EXPECT_EQ(stream.err(), PF_Err_NONE);
        EXPECT_EQ(effect.err(), PF_Err_NONE);
    });
    ASSERT_EQ(fake.disposedStreams.size(), 1u);
    EXPECT_EQ(fake.disposedStreams[0], fake.newStream);
    ASSERT_EQ(fake.disposedEffects.size(), 1u);
    EXPECT_EQ(fake.disposedEffects[0], fake.newEffect);
}

} // namespace
} // namespace aeo_test
