// A live scene for the scene-construction tests: the effect (linked into the
// test) set up on a headless host whose composition model serves the AEGP
// suites, with helpers to build the render record inside a render command.
#pragma once

#include "headless/composition/Composition.h"
#include "headless/composition/CompositionEffect.h"
#include "headless/boundary/Host.h"
#include "headless/composition/LayerTransform.h"
#include "host/GlobalData.h"
#include "host/Handlers.h"
#include "host/ParamIds.h"
#include "host/aeLibInit.h"
#include "scene/RenderInfo.h"

#include <gtest/gtest.h>

#include <memory>

namespace scenetest {

using Info = RenderInfoTemplate<Hyperboloid>;
using Vectormath::Aos::Matrix4;
using Vectormath::Aos::Vector3;
using Vectormath::Aos::Vector4;

// A 640 x 480 composition with square pixels whose layer 0, a solid of the
// composition's size, carries the effect.
inline headless::Composition BasicComposition() {
    headless::Composition comp;
    comp.layers.push_back(
        headless::makeSolid(comp, "Surface", comp.width, comp.height, {1.0, 1.0, 1.0, 1.0}));
    return comp;
}

class Scene {
public:
    explicit Scene(headless::Composition comp = BasicComposition(), int effectLayer = 0)
        : effect_(std::make_unique<headless::EffectInstance>(host_, std::move(comp), effectLayer)) {
        EXPECT_EQ(host_.globalSetup(), PF_Err_NONE) << host_.last().thrown;
        EXPECT_EQ(host_.paramsSetup(), PF_Err_NONE) << host_.last().thrown;
    }

    ~Scene() {
        EXPECT_EQ(host_.globalSetdown(), PF_Err_NONE);
        effect_.reset();
        EXPECT_TRUE(host_.ledger().empty()) << host_.ledger().report();
    }

    headless::Host &host() { return host_; }
    headless::EffectInstance &effect() { return *effect_; }
    headless::Composition &comp() { return effect_->editComposition(); }

    // The id under which global set-up registered the effect.
    AEGP_PluginID pluginID() {
        const GlobalData *global = GlobalData::fromHandle(host_.inData()->global_data);
        return global ? global->pluginID : 0;
    }

    void set(PF_ParamIndex index, double value) { effect_->setParam(index, {value}); }

    // Runs `body` inside a render command with an open command context, the
    // way the smart render runs; fails the test when anything escapes it.
    template <class F> void inRender(F &&body) {
        const PF_Err err = host_.run(PF_Cmd_SMART_RENDER, [&] {
            aeLibInit context(PF_Cmd_SMART_RENDER, pluginID(), host_.inData());
            body();
        });
        EXPECT_EQ(err, PF_Err_NONE) << host_.last().thrown;
    }

    // Builds a render record at the current time and hands it to `check`.
    template <class F> void construct(F &&check) {
        inRender([&] {
            Info info(host_.inData());
            info.downsampleX = 1.0;
            info.downsampleY = 1.0;
            info.pixelAspect = 1.0;
            EXPECT_EQ(ConstructRenderInfo(host_.inData(), info), PF_Err_NONE);
            check(info);
        });
    }

private:
    headless::Host host_{&EntryPointFunc};
    std::unique_ptr<headless::EffectInstance> effect_;
};

// ---- comparisons -------------------------------------------------------------------

inline void ExpectNear(const Vector3 &actual, const Vector3 &expected, float tolerance,
                       const char *what = "") {
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << what << " lane " << i;
}

inline void ExpectNear(const Vector4 &actual, const Vector4 &expected, float tolerance,
                       const char *what = "") {
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << what << " lane " << i;
}

inline void ExpectNear(const Matrix4 &actual, const Matrix4 &expected, float tolerance) {
    for (int c = 0; c < 4; ++c)
        ExpectNear(actual.getCol(c), expected.getCol(c), tolerance, c == 3 ? "col3" : "axis");
}

inline Vector3 ToVector3(const headless::Vec3 &v) {
    return Vector3(static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z));
}

} // namespace scenetest
