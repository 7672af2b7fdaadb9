// The AEGP suites of the headless host, asked through the effect's own
// wrappers (as the effect asks them) and directly (for misuse and faults).
#include "headless/composition/AegpSuites.h"
#include "headless/composition/AegpText.h"
#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Host.h"
#include "headless/composition/LayerTransform.h"
#include "headless/boundary/Plugin.h"

#include "host/aeLibInit.h"
#include "scene/AEO_CameraLayer.h"
#include "scene/AEO_Composition.h"
#include "scene/AEO_Effect.h"
#include "scene/AEO_Interface.h"
#include "scene/AEO_Item.h"
#include "scene/AEO_LightLayer.h"
#include "scene/AEO_Stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace headless;

namespace {

enum { kFootage, kEffectLayer, kCamera, kLight, kLateCamera };

Composition scene() {
    Composition comp;
    comp.width = 720;
    comp.height = 480;
    comp.pixelAspect = {10, 11};
    comp.frameRate = 25.0;
    Layer footage = makeFootage(comp, "Clip", 2, 2, std::vector<float>(16, 1.f));
    footage.footage.pixelAspect = {2, 1};
    footage.transform.rotationZ = 30.0;
    comp.layers.push_back(footage);
    Layer solid = makeSolid(comp, "Solid", 320, 200, {});
    solid.name = "Surface";
    solid.inPoint = 2.0;
    solid.duration = 4.0;
    comp.layers.push_back(solid);
    Layer camera = makeCamera(comp, "Camera 1");
    camera.camera.type = CameraType::Orthographic;
    camera.camera.depthOfField = 1.0;
    camera.camera.aperture = 40.0;
    camera.camera.blurLevel = 150.0;
    camera.camera.focusDistance.keys = {{0.0, 100.0}, {4.0, 500.0}};
    comp.layers.push_back(camera);
    Layer light = makeLight(comp, "Key", LightType::Spot);
    light.video = false;
    light.light.color = ColorValue{1.0, 0.5, 0.25, 0.125};
    light.light.intensity.keys = {{2.0, 100.0}, {4.0, 300.0}};
    light.light.coneAngle = 60.0;
    light.light.shadowDarkness = 150.0;
    light.light.castsShadows = 1.0;
    comp.layers.push_back(light);
    Layer late = makeCamera(comp, "Later");
    late.inPoint = 5.0;
    comp.layers.push_back(late);
    return comp;
}

// Runs `body` inside a command context of `host`, as the effect's handlers run.
template <class Body> void asEffect(Host &host, A_long pluginId, Body body) {
    const PF_Err err = host.run(PF_Cmd_UPDATE_PARAMS_UI, [&] {
        aeLibInit context(PF_Cmd_UPDATE_PARAMS_UI, pluginId, host.inData());
        body();
    });
    EXPECT_EQ(err, PF_Err_NONE) << host.last().thrown;
}

std::u16string utf16(const aeUTF16String &text) { return std::u16string(text.begin(), text.end()); }

struct Aegp : ::testing::Test {
    Host host;
    EffectInstance effect{host, scene(), kEffectLayer};
    A_long pluginId = effect.registerPlugin("Veltrix");

    void SetUp() override {
        PF_ParamDef def;
        std::memset(&def, 0, sizeof def);
        def.param_type = PF_Param_FIX_SLIDER;
        for (int i = 0; i < 3; ++i) ASSERT_EQ(host.params().add(-1, &def), PF_Err_NONE);
    }

    // A suite table straight from the registry, released at the end of the test.
    template <class Suite> const Suite *suite(const char *name, A_long version) {
        const void *table = nullptr;
        EXPECT_EQ(host.suites().acquire(name, version, &table), kSPNoError) << name;
        acquired.emplace_back(name, version);
        return static_cast<const Suite *>(table);
    }
    void releaseSuites() {
        for (auto &[name, version] : acquired) host.suites().release(name.c_str(), version);
        acquired.clear();
    }
    void TearDown() override { releaseSuites(); }
    std::vector<std::pair<std::string, A_long>> acquired;
};

TEST_F(Aegp, TheEffectFindsItsLayerCompositionAndCamera) {
    asEffect(host, pluginId, [&] {
        AEO::Interface self;
        AEGP_LayerH layer = self.GetEffectLayer();
        EXPECT_EQ(layer, effect.layerHandle(kEffectLayer));
        // Effect time 15/25 s is 0.6 s after the layer's in point at 2 s.
        const A_Time compTime = self.ConvertEffectToCompTime(15, 25);
        EXPECT_EQ(compTime.value, 65);
        EXPECT_EQ(compTime.scale, 25u);
        EXPECT_EQ(self.GetEffectCamera(compTime), effect.layerHandle(kCamera));
        EXPECT_EQ(self.GetEffectCamera(A_Time{6, 1}), effect.layerHandle(kCamera)); // topmost wins
        EXPECT_EQ(self.err(), PF_Err_NONE);

        AEO::Layer effectLayer(layer);
        AEO::Composition comp(effectLayer.GetParentComp());
        EXPECT_EQ(comp.handle(), effect.compHandle());
        EXPECT_EQ(comp.GetNumLayers(), 5);
        EXPECT_EQ(comp.GetLayerByIndex(3), effect.layerHandle(kLight));
        EXPECT_DOUBLE_EQ(comp.GetDefaultCameraDistanceToImagePlane(), 720 * 50.0 / 36.0);
        AEO::Item item(comp.GetItem());
        EXPECT_EQ(item.GetWidth(), 720);
        EXPECT_EQ(item.GetHeight(), 480);
        const A_Ratio par = item.GetPixelAspectRatio();
        EXPECT_EQ(par.num, 10);
        EXPECT_EQ(par.den, 11u);
        EXPECT_EQ(comp.err(), PF_Err_NONE);
        EXPECT_EQ(item.err(), PF_Err_NONE);
        EXPECT_EQ(effectLayer.err(), PF_Err_NONE);
    });
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(Aegp, LayersReportTimingTypeFlagsSourceAndTransform) {
    asEffect(host, pluginId, [&] {
        AEO::Layer solid(effect.layerHandle(kEffectLayer));
        A_Time in = solid.GetInPoint();
        EXPECT_EQ(in.value, 50); // 2 s at 25 ticks a second
        EXPECT_EQ(in.scale, 25u);
        EXPECT_EQ(solid.GetInPoint(AEGP_LTimeMode_LayerTime).value, 0);
        EXPECT_EQ(solid.GetDuration().value, 100);
        EXPECT_EQ(solid.GetObjectType(), AEGP_ObjectType_AV);
        EXPECT_NE(solid.GetFlags() & AEGP_LayerFlag_VIDEO_ACTIVE, 0);
        EXPECT_EQ(solid.err(), PF_Err_NONE);

        AEO::Layer footage(effect.layerHandle(kFootage));
        AEO::Item source(footage.GetSourceItem());
        EXPECT_EQ(source.GetWidth(), 2);
        EXPECT_EQ(source.GetPixelAspectRatio().num, 2);
        const A_Matrix4 m = footage.GetToWorldXform(A_Time{0, 1});
        const A_Matrix4 expected = layerToWorld(effect.composition(), kFootage, 0.0);
        EXPECT_EQ(std::memcmp(&m, &expected, sizeof m), 0);
        EXPECT_EQ(footage.err(), PF_Err_NONE);

        AEO::LightLayer light(effect.layerHandle(kLight));
        EXPECT_EQ(light.GetObjectType(), AEGP_ObjectType_LIGHT);
        EXPECT_EQ(light.GetFlags() & AEGP_LayerFlag_VIDEO_ACTIVE, 0); // switched off
        EXPECT_EQ(light.GetSourceItem(), nullptr);                   // lights have no source
        EXPECT_EQ(light.err(), PF_Err_NONE);
    });
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(Aegp, CameraAndLightStreamsAtCompositionTime) {
    asEffect(host, pluginId, [&] {
        AEO::CameraLayer camera(effect.layerHandle(kCamera));
        const A_Time t1 = {1, 1};
        EXPECT_DOUBLE_EQ(camera.GetZoom(t1), 720 * 50.0 / 36.0);
        EXPECT_TRUE(camera.GetDepthOfField(t1));
        EXPECT_DOUBLE_EQ(camera.GetFocusDistance(t1), 200.0);
        EXPECT_DOUBLE_EQ(camera.GetAperture(t1), 40.0);
        EXPECT_DOUBLE_EQ(camera.GetBlurLevel(t1), 150.0);
        EXPECT_EQ(camera.GetCameraType(), AEGP_CameraType_ORTHOGRAPHIC);
        EXPECT_EQ(camera.err(), PF_Err_NONE);

        AEO::LightLayer light(effect.layerHandle(kLight));
        const AEGP_ColorVal colour = light.GetColor(t1);
        EXPECT_EQ(colour.alphaF, 1.0);
        EXPECT_EQ(colour.redF, 0.5);
        EXPECT_EQ(colour.greenF, 0.25);
        EXPECT_EQ(colour.blueF, 0.125);
        EXPECT_DOUBLE_EQ(light.GetIntensity(A_Time{3, 1}), 200.0);
        // In layer time the light's time counts from its in point (0 here).
        EXPECT_DOUBLE_EQ(light.GetIntensity(A_Time{3, 1}, AEGP_LTimeMode_LayerTime), 200.0);
        EXPECT_DOUBLE_EQ(light.GetConeAngle(t1), 60.0);
        EXPECT_DOUBLE_EQ(light.GetConeFeather(t1), 50.0);
        EXPECT_DOUBLE_EQ(light.GetShadowDarkenss(t1), 150.0);
        EXPECT_DOUBLE_EQ(light.GetShadowDiffusion(t1), 0.0);
        EXPECT_TRUE(light.GetCastsShadows(t1));
        EXPECT_EQ(light.GetLightType(), AEGP_LightType_SPOT);
        EXPECT_EQ(light.err(), PF_Err_NONE);
    });
    // Stream types, and a stream the layer does not have.
    auto *streams = suite<AEGP_StreamSuite4>("AEGP Stream Suite", 9);
    AEGP_StreamVal2 value;
    AEGP_StreamType type = AEGP_StreamType_NO_DATA;
    const A_Time t = {0, 1};
    AEGP_LayerH light = effect.layerHandle(kLight), camera = effect.layerHandle(kCamera);
    ASSERT_EQ(streams->AEGP_GetLayerStreamValue(light, AEGP_LayerStream_COLOR, 1, &t, 0, &value, &type), A_Err_NONE);
    EXPECT_EQ(type, AEGP_StreamType_COLOR);
    ASSERT_EQ(streams->AEGP_GetLayerStreamValue(camera, AEGP_LayerStream_POSITION, 1, &t, 0, &value, &type), A_Err_NONE);
    EXPECT_EQ(type, AEGP_StreamType_ThreeD_SPATIAL);
    EXPECT_DOUBLE_EQ(value.three_d.z, -720 * 50.0 / 36.0);
    ASSERT_EQ(streams->AEGP_GetLayerStreamValue(camera, AEGP_LayerStream_ZOOM, 1, &t, 0, &value, &type), A_Err_NONE);
    EXPECT_EQ(type, AEGP_StreamType_OneD);
    EXPECT_EQ(streams->AEGP_GetLayerStreamValue(camera, AEGP_LayerStream_INTENSITY, 1, &t, 0, &value, &type), A_Err_PARAMETER);
    EXPECT_EQ(streams->AEGP_GetLayerStreamValue(light, AEGP_LayerStream_ZOOM, 1, &t, 0, &value, nullptr), A_Err_PARAMETER);
    EXPECT_TRUE(host.ledger().problems().empty()) << host.ledger().report();
}

TEST_F(Aegp, NamesReadAndRenameInUtf16AndEightBits) {
    asEffect(host, pluginId, [&] {
        AEO::Layer footage(effect.layerHandle(kFootage));
        EXPECT_TRUE(footage.getLayerName().empty()); // shows its source's name
        EXPECT_EQ(utf16(footage.getSourceName()), u"Clip");
        EXPECT_EQ(std::string(footage.getLayerNameLocalized().c_str()), "");
        const std::u16string name = u"Gr\u00fcn \U0001F600 Clip";
        footage.SetName(reinterpret_cast<const A_UTF16Char *>(name.c_str()));
        EXPECT_EQ(utf16(footage.getLayerName()), name);
        EXPECT_EQ(std::string(footage.getLayerNameLocalized().c_str()),
                  "Gr\xc3\xbcn \xf0\x9f\x98\x80 Clip");
        EXPECT_EQ(footage.err(), PF_Err_NONE);
    });
    EXPECT_EQ(effect.composition().layers[kFootage].name, "Gr\xc3\xbcn \xf0\x9f\x98\x80 Clip");

    // The 8-bit call cuts long names at 31 bytes, never inside a character.
    effect.editComposition().layers[kFootage].name = std::string(30, 'a') + "\xc3\xbc";
    auto *old = suite<AEGP_LayerSuite5>("AEGP Layer Suite", 11);
    A_char layerName[AEGP_MAX_LAYER_NAME_SIZE], sourceName[AEGP_MAX_LAYER_NAME_SIZE];
    ASSERT_EQ(old->AEGP_GetLayerName(effect.layerHandle(kFootage), layerName, sourceName), A_Err_NONE);
    EXPECT_EQ(std::string(layerName), std::string(30, 'a'));
    EXPECT_EQ(std::string(sourceName), "Clip");
    releaseSuites();
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(Aegp, EffectStreamsKeepExpressionsAndFlagsAndAreCounted) {
    asEffect(host, pluginId, [&] {
        AEO::Interface self;
        AEO::Effect me(self.GetNewEffectForEffect());
        EXPECT_EQ(host.ledger().count(aegp::kEffectRefs), 1);
        {
            AEO::Stream hidden(me.GetNewStreamByIndex(3));
            EXPECT_EQ(host.ledger().count(aegp::kStreams), 1);
            hidden.SetExpression("length(thisComp.layer(\"Surface\").toWorld([1,1,1]));\n");
            hidden.SetDynamicsStreamFlag(AEGP_DynStreamFlag_HIDDEN, false, true);
            EXPECT_EQ(hidden.err(), PF_Err_NONE);
        }
        EXPECT_EQ(host.ledger().count(aegp::kStreams), 0);
        EXPECT_EQ(effect.expression(3).value_or(""),
                  "length(thisComp.layer(\"Surface\").toWorld([1,1,1]));\n");
        EXPECT_EQ(effect.streamFlags(3), AEGP_DynStreamFlag_HIDDEN);
        {
            AEO::Stream again(me.GetNewStreamByIndex(3));
            again.SetExpression(""); // removes it
            again.SetDynamicsStreamFlag(AEGP_DynStreamFlag_HIDDEN, false, false);
        }
        EXPECT_FALSE(effect.expression(3).has_value());
        EXPECT_EQ(effect.streamFlags(3), 0);
        EXPECT_EQ(me.err(), PF_Err_NONE);
    });
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();

    // The stream suite hands an expression back as text in a memory handle.
    effect.setExpression(2, "value * 2");
    auto *pf = suite<AEGP_PFInterfaceSuite1>("AEGP PF Interface Suite", 1);
    auto *streams = suite<AEGP_StreamSuite4>("AEGP Stream Suite", 9);
    auto *memory = suite<AEGP_MemorySuite1>("AEGP Memory Suite", 1);
    auto *effects = suite<AEGP_EffectSuite3>("AEGP Effect Suite", 3);
    AEGP_EffectRefH me = nullptr;
    AEGP_StreamRefH stream = nullptr;
    AEGP_MemHandle text = nullptr;
    ASSERT_EQ(pf->AEGP_GetNewEffectForEffect(pluginId, host.effectRef(), &me), A_Err_NONE);
    ASSERT_EQ(streams->AEGP_GetNewEffectStreamByIndex(pluginId, me, 2, &stream), A_Err_NONE);
    ASSERT_EQ(streams->AEGP_GetExpression(pluginId, stream, &text), A_Err_NONE);
    void *chars = nullptr;
    ASSERT_EQ(memory->AEGP_LockMemHandle(text, &chars), A_Err_NONE);
    EXPECT_STREQ(static_cast<const char *>(chars), "value * 2");
    EXPECT_EQ(host.ledger().count(aegp::kMemoryHandles), 1);
    EXPECT_EQ(memory->AEGP_UnlockMemHandle(text), A_Err_NONE);
    EXPECT_EQ(memory->AEGP_FreeMemHandle(text), A_Err_NONE);
    EXPECT_EQ(streams->AEGP_DisposeStream(stream), A_Err_NONE);
    EXPECT_EQ(effects->AEGP_DisposeEffect(me), A_Err_NONE);
    releaseSuites();
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(Aegp, MemoryHandlesLockUnlockAndSize) {
    auto *memory = suite<AEGP_MemorySuite1>("AEGP Memory Suite", 1);
    AEGP_MemHandle block = nullptr;
    ASSERT_EQ(memory->AEGP_NewMemHandle(pluginId, "test", 24, AEGP_MemFlag_CLEAR, &block), A_Err_NONE);
    AEGP_MemSize size = 0;
    EXPECT_EQ(memory->AEGP_GetMemHandleSize(block, &size), A_Err_NONE);
    EXPECT_EQ(size, 24u);
    void *first = nullptr, *second = nullptr;
    EXPECT_EQ(memory->AEGP_LockMemHandle(block, &first), A_Err_NONE);
    EXPECT_EQ(memory->AEGP_LockMemHandle(block, &second), A_Err_NONE); // locks nest
    EXPECT_EQ(first, second);
    EXPECT_EQ(static_cast<unsigned char *>(first)[23], 0); // cleared on request
    EXPECT_EQ(memory->AEGP_UnlockMemHandle(block), A_Err_NONE);
    EXPECT_EQ(memory->AEGP_UnlockMemHandle(block), A_Err_NONE);
    EXPECT_EQ(memory->AEGP_UnlockMemHandle(block), A_Err_PARAMETER); // not locked any more
    EXPECT_EQ(memory->AEGP_FreeMemHandle(block), A_Err_NONE);
    EXPECT_EQ(memory->AEGP_FreeMemHandle(block), A_Err_PARAMETER); // freed twice
    EXPECT_EQ(host.ledger().count(aegp::kMemoryHandles), 0);
    EXPECT_EQ(host.ledger().problems().size(), 2u) << host.ledger().report();
}

TEST_F(Aegp, BadHandlesIndicesAndIdsAreErrorsOnTheLedger) {
    auto *layers = suite<AEGP_LayerSuite6>("AEGP Layer Suite", 12);
    auto *streams = suite<AEGP_StreamSuite4>("AEGP Stream Suite", 9);
    auto *pf = suite<AEGP_PFInterfaceSuite1>("AEGP PF Interface Suite", 1);
    AEGP_LayerFlags flags = 0;
    int stranger = 0;
    A_long count = 0;
    EXPECT_EQ(layers->AEGP_GetLayerFlags(nullptr, &flags), A_Err_PARAMETER);
    EXPECT_EQ(layers->AEGP_GetLayerFlags(reinterpret_cast<AEGP_LayerH>(&stranger), &flags), A_Err_PARAMETER);
    // A composition handle is no layer handle, and the other way round.
    EXPECT_EQ(layers->AEGP_GetLayerFlags(reinterpret_cast<AEGP_LayerH>(effect.compHandle()), &flags), A_Err_PARAMETER);
    EXPECT_EQ(layers->AEGP_GetCompNumLayers(reinterpret_cast<AEGP_CompH>(effect.layerHandle(0)), &count), A_Err_PARAMETER);
    EXPECT_EQ(layers->AEGP_GetLayerFlags(effect.layerHandle(0), nullptr), A_Err_PARAMETER);
    AEGP_LayerH layer = nullptr;
    EXPECT_EQ(layers->AEGP_GetCompLayerByIndex(effect.compHandle(), 5, &layer), A_Err_PARAMETER);
    EXPECT_EQ(layer, nullptr);
    // A plug-in id this host did not hand out.
    AEGP_EffectRefH me = nullptr;
    EXPECT_EQ(pf->AEGP_GetNewEffectForEffect(pluginId + 1000, host.effectRef(), &me), A_Err_PARAMETER);
    EXPECT_EQ(me, nullptr);
    // A stream used after it was disposed of.
    ASSERT_EQ(pf->AEGP_GetNewEffectForEffect(pluginId, host.effectRef(), &me), A_Err_NONE);
    AEGP_StreamRefH stream = nullptr;
    EXPECT_EQ(streams->AEGP_GetNewEffectStreamByIndex(pluginId, me, 4, &stream), A_Err_PARAMETER); // 4 params
    ASSERT_EQ(streams->AEGP_GetNewEffectStreamByIndex(pluginId, me, 1, &stream), A_Err_NONE);
    EXPECT_EQ(streams->AEGP_DisposeStream(stream), A_Err_NONE);
    EXPECT_EQ(streams->AEGP_SetExpression(pluginId, stream, "1"), A_Err_PARAMETER);
    EXPECT_FALSE(effect.expression(1).has_value());
    // A layer handle whose layer was removed from the model.
    AEGP_LayerH last = effect.layerHandle(kLateCamera);
    effect.editComposition().layers.pop_back();
    EXPECT_EQ(layers->AEGP_GetLayerFlags(last, &flags), A_Err_PARAMETER);
    // The effect reference still has to be given back.
    EXPECT_EQ(host.ledger().count(aegp::kEffectRefs), 1);
    EXPECT_EQ(suite<AEGP_EffectSuite3>("AEGP Effect Suite", 3)->AEGP_DisposeEffect(me), A_Err_NONE);

    EXPECT_EQ(host.ledger().problems().size(), 10u) << host.ledger().report();
    EXPECT_EQ(host.ledger().count(aegp::kEffectRefs), 0);
    EXPECT_EQ(host.ledger().count(aegp::kStreams), 0);
}

TEST_F(Aegp, AnArmedFaultFailsTheNamedCallAndTheWrapperFallsBackToItsDefault) {
    host.faults().arm(service::kAegp, 2, PF_Err_OUT_OF_MEMORY, "AEGP_GetLayerFlags");
    asEffect(host, pluginId, [&] {
        AEO::Layer first(effect.layerHandle(kEffectLayer));
        EXPECT_NE(first.GetFlags(), 0);
        AEO::Layer second(effect.layerHandle(kEffectLayer));
        EXPECT_EQ(second.GetFlags(), 0);
        EXPECT_EQ(second.err(), PF_Err_OUT_OF_MEMORY);
        EXPECT_EQ(second.GetObjectType(), AEGP_ObjectType_NONE); // no call after an error
    });
    EXPECT_EQ(host.faults().calls(service::kAegp, "AEGP_GetLayerFlags"), 2);
    EXPECT_EQ(host.faults().calls(service::kAegp, "AEGP_GetLayerObjectType"), 0);
    EXPECT_EQ(host.faults().fired(), 1);
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

TEST_F(Aegp, UpdateParamUIStoresFlagsAndNameAndCounts) {
    auto *utils = suite<PF_ParamUtilsSuite2>("PF Param Utils Suite", 2);
    PF_ParamDef def = host.params().at(2);
    def.ui_flags = PF_PUI_DISABLED;
    std::strcpy(def.name, "Greyed");
    def.u.fd.value = 12345; // a value handed back is not a change of value
    EXPECT_EQ(utils->PF_UpdateParamUI(host.effectRef(), 2, &def), PF_Err_NONE);
    EXPECT_EQ(host.params().at(2).ui_flags, PF_PUI_DISABLED);
    EXPECT_STREQ(host.params().at(2).name, "Greyed");
    EXPECT_EQ(host.params().at(2).u.fd.value, 0);
    EXPECT_EQ(effect.paramUIUpdates(), 1);

    EXPECT_EQ(utils->PF_UpdateParamUI(host.effectRef(), 9, &def), PF_Err_INVALID_INDEX);
    def.param_type = PF_Param_CHECKBOX;
    EXPECT_EQ(utils->PF_UpdateParamUI(host.effectRef(), 2, &def), PF_Err_BAD_CALLBACK_PARAM);
    host.faults().arm(service::kUpdateParamUI, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(utils->PF_UpdateParamUI(host.effectRef(), 1, &def), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(effect.paramUIUpdates(), 1);
    EXPECT_EQ(host.ledger().problems().size(), 2u) << host.ledger().report();
}

TEST(AegpText, MalformedTextBecomesReplacementCharactersNotGarbage) {
    EXPECT_EQ(toUtf16("a\xc3"), u"a\ufffd");                 // cut short
    EXPECT_EQ(toUtf16("\xc0\x80z"), u"\ufffd\ufffdz");        // overlong NUL
    EXPECT_EQ(toUtf16("\xed\xa0\x80"), u"\ufffd\ufffd\ufffd"); // a surrogate in UTF-8
    const A_UTF16Char lone[] = {0xD800, 'x', 0};
    EXPECT_EQ(fromUtf16(lone), "\xef\xbf\xbdx");
    const A_UTF16Char unterminated[] = {'a', 'b', 'c'};
    EXPECT_EQ(fromUtf16(unterminated, 3), "abc");
    A_char field[AEGP_MAX_LAYER_NAME_SIZE];
    copyName(std::string(40, 'n'), field);
    EXPECT_EQ(std::string(field), std::string(31, 'n'));
}

// ---- the built effect on a composition ---------------------------------------------

TEST(AegpPlugin, TheBuiltEffectRegistersAndReadsItsPointInDownsampledPixels) {
    Plugin plugin(VELTRIX_PLUGIN_PATH);
    Host host(plugin);
    {
        EffectInstance effect(host, scene(), kEffectLayer);
        ASSERT_EQ(host.globalSetup(), PF_Err_NONE);
        EXPECT_EQ(host.faults().calls(service::kAegp, "AEGP_RegisterWithAEGP"), 1);
        ASSERT_EQ(host.paramsSetup(), PF_Err_NONE);
        ASSERT_EQ(host.params().count(), 59);

        // "Position XY" (index 9) defaults to the centre of the 320 x 200 layer.
        effect.setDownsample({1, 2}, {1, 2});
        PF_ParamDef point;
        ASSERT_EQ(host.params().checkout(9, 0, 1, 25, &point), PF_Err_NONE);
        EXPECT_EQ(point.u.td.x_value, 80 << 16);
        EXPECT_EQ(point.u.td.y_value, 50 << 16);
        EXPECT_EQ(host.params().checkin(&point), PF_Err_NONE);

        EXPECT_EQ(host.userChangedParam(4), PF_Err_NONE);
        EXPECT_EQ(host.updateParamsUI(), PF_Err_NONE);
        EXPECT_EQ(host.globalSetdown(), PF_Err_NONE);
    }
    EXPECT_TRUE(host.ledger().empty()) << host.ledger().report();
}

} // namespace
