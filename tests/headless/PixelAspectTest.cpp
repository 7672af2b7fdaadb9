// Non-square pixels, checked against square ones: a composition whose pixels
// are r times as wide as tall shows its 3D scene as a square-pixel
// composition r times as wide would, squeezed horizontally by r. A solid
// takes its composition's pixel aspect; one given its own square pixels in
// such a composition reads the composition's grid pixel for pixel, so it shows
// the middle of the wide picture, unsqueezed.
#include "SmartRenderSupport.h"

#include <algorithm>
#include <optional>

using namespace smart_render_test;

namespace {

constexpr int kHeight = 64;

// Surface settings shared by every picture here: both bowls in view, tilted,
// so the silhouette has curved edges in x and y.
void placeSurface(EffectInstance &effect, double radiusScale) {
    effect.setParam(PARAM_DIST_FROM_CENTER, {8.0});
    effect.setParam(PARAM_ROTATION_X, {-70.0});
    effect.setParam(PARAM_ROTATION_Y, {20.0});
    effect.setParam(PARAM_RADIUS_SCALE, {radiusScale});
}

// Coverage (alpha) of every output pixel, rows top first.
struct Coverage {
    int width = 0, height = 0;
    std::vector<float> alpha;
    float at(int x, int y) const { return alpha[std::size_t(y) * width + x]; }
};

Coverage render(Composition comp, double radiusScale) {
    LoadedEffect fx(std::move(comp));
    EXPECT_EQ(fx.setupErr, PF_Err_NONE);
    placeSurface(*fx.effect, radiusScale);
    const RenderResult frame = fx.render(32);
    EXPECT_TRUE(frame.ok());
    Coverage c;
    if (!frame.ok()) return c;
    c.width = frame.output->width();
    c.height = frame.output->height();
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) c.alpha.push_back(frame.pixel(x, y).alpha);
    return c;
}

// The average of row y of `c` over the columns [from, to), partial columns
// weighted by the part inside.
float boxAverage(const Coverage &c, int y, double from, double to) {
    double sum = 0.0;
    for (int x = std::max(0, int(std::floor(from))); x < c.width && x < to; ++x)
        sum += c.at(x, y) * (std::min<double>(x + 1, to) - std::max<double>(x, from));
    return float(sum / (to - from));
}

struct AspectCase {
    const char *name;
    Ratio compAspect;
    std::optional<Ratio> solidAspect; // the effect solid's own, when given
    int width;                        // of the composition and its solid
    double radiusScale;
    // The square-pixel composition showing the whole scene: its width (the
    // composition's in square pixels), and the radius scale that makes the
    // same surface on its wider solid (the surface's size follows the width
    // of the layer carrying it).
    int squareWidth;
    double squareRadiusScale;
    // Output column x shows the square picture's columns
    // offset + scale * [x, x + 1).
    double columnOffset, columnScale;
};

// The composition under test: the effect on a solid filling it, seen by the
// default camera.
Composition underTest(const AspectCase &c) {
    Composition comp;
    comp.width = c.width;
    comp.height = kHeight;
    comp.pixelAspect = c.compAspect;
    comp.layers.push_back(makeSolid(comp, "Canvas", c.width, kHeight, {1.0, 0.5, 0.5, 0.5}));
    comp.layers.back().pixelAspect = c.solidAspect;
    return comp;
}

// The square-pixel composition of the same scene: the same camera (the
// default camera of the composition under test, now an explicit layer over
// the wider frame's centre, at the same distance) and the same surface.
Composition squareReference(const AspectCase &c) {
    Composition comp;
    comp.width = c.squareWidth;
    comp.height = kHeight;
    comp.layers.push_back(makeSolid(comp, "Canvas", c.squareWidth, kHeight, {1.0, 0.5, 0.5, 0.5}));
    const double distance = defaultCameraDistance(underTest(c));
    Layer camera = makeCamera(comp, "Camera");
    camera.transform.position = Vec3{c.squareWidth * 0.5, kHeight * 0.5, -distance};
    camera.transform.pointOfInterest = Vec3{c.squareWidth * 0.5, kHeight * 0.5, 0.0};
    camera.camera.zoom = distance;
    comp.layers.push_back(camera);
    return comp;
}

TEST(PixelAspect, NonSquarePixelsShowTheSquarePictureResampled) {
    const AspectCase cases[] = {
        {"anamorphic, aspect 2", {2, 1}, std::nullopt, 96, 200.0, 192, 100.0, 0.0, 2.0},
        {"aspect 0.9", {9, 10}, std::nullopt, 200, 180.0, 180, 200.0, 0.0, 0.9},
        // Square pixels in a composition of 2: the composition still spreads
        // the scene over 2 * 96 square pixels, and each output pixel is one
        // of them, from the centre line out.
        {"own aspect 1 in a composition of 2", {2, 1}, Ratio{1, 1}, 96, 200.0, 192, 100.0, 48.0,
         1.0},
    };
    for (const AspectCase &c : cases) {
        SCOPED_TRACE(c.name);
        const Coverage subject = render(underTest(c), c.radiusScale);
        const Coverage square = render(squareReference(c), c.squareRadiusScale);
        ASSERT_EQ(subject.width, c.width);
        ASSERT_EQ(square.width, c.squareWidth);

        long agreeing = 0, covered = 0, empty = 0;
        double worst = 0.0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < c.width; ++x) {
                const double from = c.columnOffset + c.columnScale * x;
                const float expected = boxAverage(square, y, from, from + c.columnScale);
                const double difference = std::abs(subject.at(x, y) - expected);
                worst = std::max(worst, difference);
                agreeing += difference <= 0.25; // within two of the nine coverage samples
                covered += subject.at(x, y) == 1.0f;
                empty += subject.at(x, y) == 0.0f;
            }
        const long pixels = long(c.width) * kHeight;
        // A picture with inside, outside and edges, not a blank one.
        EXPECT_GT(covered, pixels / 20);
        EXPECT_GT(empty, pixels / 20);
        // Nine-point coverage of a stretched pixel against the box average
        // of square ones differs only along the silhouette, and by little.
        EXPECT_GE(double(agreeing) / double(pixels), 0.99)
            << agreeing << " of " << pixels << " pixels agree, worst difference " << worst;
    }
}

// The effect layer's aspect reaches the effect: in_data, its input layer
// record and the output world.
TEST(PixelAspect, TheEffectSeesItsLayersAspect) {
    const AspectCase c{"", {2, 1}, std::nullopt, 96, 100.0, 0, 0.0, 0.0, 0.0};
    LoadedEffect fx(underTest(c));
    ASSERT_EQ(fx.setupErr, PF_Err_NONE);
    const RenderResult frame = fx.render(8);
    ASSERT_TRUE(frame.ok());
    EXPECT_EQ(fx.host.inData()->pixel_aspect_ratio.num, 2);
    EXPECT_EQ(fx.host.params().at(0).u.ld.pix_aspect_ratio.num, 2);
    EXPECT_EQ(frame.output->effectWorld().pix_aspect_ratio.num, 2);
}

} // namespace
