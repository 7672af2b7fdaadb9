// Texture repetition along the axis ("Extend Hyperboloid"): which copies
// exist on which sheet, and how u and v map into a copy.
#include "TracerTestSupport.h"

#include "tracer/TextureRepetition.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>
#include <limits>

using namespace tracer_test;

namespace {

using Extension = ExtraRenderInfo<Hyperboloid>::ExtensionInfo;

const Vector3 kTail(0.5f, 0.0f, 2.0f); // normalised points on either sheet
const Vector3 kHead(0.5f, 0.0f, -2.0f);

TEST(TextureRepetition, IndexOfDegenerateRowsStaysInRange)
{
    EXPECT_EQ(RepetitionIndex(std::numeric_limits<double>::quiet_NaN(), 0.0), 0);
    EXPECT_EQ(RepetitionIndex(std::numeric_limits<double>::infinity(), 0.0), INT_MAX - 1);
    EXPECT_EQ(RepetitionIndex(-1e300, 0.0), INT_MIN + 1);
}

TEST(TextureRepetition, TailSheetCarriesBaseAndItsExtensions)
{
    Extension ext;
    ext.tailExtensions = 2;
    ext.headExtensions = 5;
    EXPECT_TRUE(ext.isTextureInExtension(0, kTail));
    EXPECT_TRUE(ext.isTextureInExtension(1, kTail));
    EXPECT_TRUE(ext.isTextureInExtension(2, kTail));
    EXPECT_FALSE(ext.isTextureInExtension(3, kTail));
    EXPECT_FALSE(ext.isTextureInExtension(-1, kTail));
    EXPECT_FALSE(ext.isTextureInExtension(INT_MAX, kTail));
    ext.tailExtensions = 0;
    EXPECT_TRUE(ext.isTextureInExtension(0, kTail));
    EXPECT_FALSE(ext.isTextureInExtension(1, kTail));
}

TEST(TextureRepetition, HeadSheetCountsItsBaseAsMinusOne)
{
    Extension ext;
    ext.headExtensions = 2;
    ext.tailExtensions = 7;
    EXPECT_FALSE(ext.isTextureInExtension(0, kHead));
    EXPECT_FALSE(ext.isTextureInExtension(1, kHead));
    EXPECT_TRUE(ext.isTextureInExtension(-1, kHead));
    EXPECT_TRUE(ext.isTextureInExtension(-2, kHead));
    EXPECT_TRUE(ext.isTextureInExtension(-3, kHead));
    EXPECT_FALSE(ext.isTextureInExtension(-4, kHead));
    EXPECT_FALSE(ext.isTextureInExtension(INT_MIN, kHead));
    ext.headExtensions = 0;
    EXPECT_TRUE(ext.isTextureInExtension(-1, kHead));
    EXPECT_FALSE(ext.isTextureInExtension(-2, kHead));
    // The vertex plane z = 0 belongs to the head sheet.
    EXPECT_TRUE(ext.isTextureInExtension(-1, Vector3(0.0f, 0.0f, 0.0f)));
    EXPECT_FALSE(ext.isTextureInExtension(0, Vector3(0.0f, 0.0f, 0.0f)));
}

TEST(TextureRepetition, RenderSide2SwitchesOffAWholeSheet)
{
    Extension ext;
    ext.headExtensions = 3;
    ext.tailExtensions = 3;
    ext.renderTail = false;
    for (int n : {0, 1, 3})
        EXPECT_FALSE(ext.isTextureInExtension(n, kTail)) << n;
    EXPECT_TRUE(ext.isTextureInExtension(-1, kHead));
    ext.renderTail = true;
    ext.renderHead = false;
    for (int n : {-1, -2, -4})
        EXPECT_FALSE(ext.isTextureInExtension(n, kHead)) << n;
    EXPECT_TRUE(ext.isTextureInExtension(0, kTail));
}

class ExtendedCylinder : public ::testing::Test {
protected:
    void SetUp() override
    {
        info->openFactor = 1.0;
        ext().headExtensions = 4;
        ext().tailExtensions = 4;
        ext().interval = 0.5;
        ext().screwTurns = 0.125;
    }
    Extension &ext() { return info->extension; }
    int remap(const Vector3 &pn, double &u, double &v)
    {
        return info.get().extension.modifyUVByExtendedCylinder(pn, info.get(), u, v);
    }

    TestRecord info;
};

TEST_F(ExtendedCylinder, BaseCopyOfTheTailIsUntouched)
{
    ext().flipVertical = true;
    double u = 0.25, v = 0.75;
    EXPECT_EQ(remap(kTail, u, v), 0);
    EXPECT_EQ(u, 0.25);
    EXPECT_EQ(v, 0.75);
    // A hit in the gap after copy 0 keeps its v and so shows nothing.
    u = 0.25, v = 1.25;
    EXPECT_EQ(remap(kTail, u, v), 0);
    EXPECT_EQ(v, 1.25);
}

TEST_F(ExtendedCylinder, TailCopiesShiftTwistAndFlip)
{
    // Pitch 1.5: copy 1 covers [1.5, 2.5], copy 2 [3, 4].
    double u = 0.25, v = 1.75;
    EXPECT_EQ(remap(kTail, u, v), 1);
    EXPECT_EQ(u, 0.375);
    EXPECT_EQ(v, 0.25);

    u = 0.875, v = 3.5;
    EXPECT_EQ(remap(kTail, u, v), 2);
    EXPECT_EQ(u, 0.125); // 0.875 + 2 turns/8, wrapped
    EXPECT_EQ(v, 0.5);

    ext().flipVertical = true;
    u = 0.25, v = 1.75;
    remap(kTail, u, v);
    EXPECT_EQ(v, 0.75); // odd copies are mirrored
    u = 0.25, v = 3.25;
    remap(kTail, u, v);
    EXPECT_EQ(v, 0.25); // even copies are not
}

TEST_F(ExtendedCylinder, HeadCopiesPutTheGapOnTheVertexSide)
{
    // Copy -1 covers [-1, 0] (no twist), copy -2 [-2.5, -1.5].
    double u = 0.25, v = -0.25;
    EXPECT_EQ(remap(kHead, u, v), -1);
    EXPECT_EQ(u, 0.25);
    EXPECT_EQ(v, 0.75);

    u = 0.0625, v = -1.75;
    EXPECT_EQ(remap(kHead, u, v), -2);
    EXPECT_EQ(u, 0.9375); // one turn/8 back, wrapped
    EXPECT_EQ(v, 0.75);

    ext().flipVertical = true;
    u = 0.25, v = -0.25;
    remap(kHead, u, v);
    EXPECT_EQ(v, 0.25); // the head's base copy is odd and so mirrored
    u = 0.25, v = -1.75;
    remap(kHead, u, v);
    EXPECT_EQ(v, 0.75);
}

TEST_F(ExtendedCylinder, MissingCopiesLeaveUVUnchanged)
{
    ext().tailExtensions = 0;
    double u = 0.25, v = 1.75;
    EXPECT_EQ(remap(kTail, u, v), 1);
    EXPECT_EQ(u, 0.25);
    EXPECT_EQ(v, 1.75);

    ext().renderHead = false;
    u = 0.25, v = -0.25;
    EXPECT_EQ(remap(kHead, u, v), -1);
    EXPECT_EQ(v, -0.25);
}

TEST_F(ExtendedCylinder, OpenedSurfaceWrapsUByTheRingPeriod)
{
    info->openFactor = 3.0;
    // pn.z = 3: period (3 - 1) sqrt(8) + 1.
    const double period = 2.0 * std::sqrt(8.0) + 1.0;
    double u = period - 0.0625, v = 1.75;
    EXPECT_EQ(remap(Vector3(0.0f, 0.0f, 3.0f), u, v), 1);
    EXPECT_NEAR(u, 0.0625, 1e-12);
}

TEST_F(ExtendedCylinder, HitsARoundingErrorInsideTheVertexKeepTheirU)
{
    info->openFactor = 1.0;
    double u = 0.25, v = 1.75;
    remap(Vector3(0.0f, 0.0f, 0.9999999f), u, v);
    EXPECT_EQ(u, 0.375);
    u = 0.25, v = -0.25;
    remap(Vector3(0.0f, 0.0f, -0.9999999f), u, v);
    EXPECT_EQ(u, 0.25);
}

TEST_F(ExtendedCylinder, RowsThatAreNotANumberStayUntouched)
{
    double u = 0.25, v = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(remap(kTail, u, v), 0);
    EXPECT_EQ(u, 0.25);
    EXPECT_TRUE(std::isnan(v));
}

} // namespace

namespace {

// The general formulas, with a period the compiler cannot see is 1.
double GeneralWrap(double u, double period)
{
    volatile double p = period;
    return u - p * std::floor(u / p);
}
int GeneralIndex(double v, double interval)
{
    volatile double pitch = interval + 1.0;
    const double n = std::floor(v / pitch);
    if (std::isnan(n)) return 0;
    if (n <= static_cast<double>(INT_MIN + 1)) return INT_MIN + 1;
    if (n >= static_cast<double>(INT_MAX - 1)) return INT_MAX - 1;
    return static_cast<int>(n);
}

} // namespace

// Unopened surfaces without gaps skip the divisions of the wrap and of the
// repetition index: the shortcut must give the general formula's bits,
// signed zeros, huge, tiny and non-finite values included.
TEST(TextureRepetition, PeriodOneShortcutsGiveTheGeneralFormulasBits)
{
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 1e-310, -1e-310, 1e300, -1e300,
                                  0.9999999999999999, -1e-17, inf, -inf,
                                  std::numeric_limits<double>::quiet_NaN()};
    std::mt19937 random(3);
    std::uniform_real_distribution<double> spread(-40.0, 40.0);
    for (int i = 0; i < 2000; ++i) values.push_back(spread(random));
    for (const double x : values) {
        const double got = WrapIntoPeriod(x, 1.0), want = GeneralWrap(x, 1.0);
        EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << x;
        EXPECT_EQ(RepetitionIndex(x, 0.0), GeneralIndex(x, 0.0)) << x;
    }
}
