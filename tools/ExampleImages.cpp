// Makes the images the example scenes use, from nothing but arithmetic, so
// that the examples need no downloaded files:
//
//   veltrix-example-images FOLDER
//
// writes into FOLDER (examples/images in the repository):
//   checker.png  256 x 128  a coloured checker with a fine grid, for textures
//   lace.png     256 x 128  a warm pattern with round holes (transparent), to
//                           show light passing through a textured surface
//   sky.png      512 x 256  an equirectangular sky and ground with a sun and
//                           a ring of towers, as a reflection map
// The output is the same on every run and machine (8-bit PNG, straight alpha).
#include "headless/render/ImageIO.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgba {
    double r, g, b, a;
};

using Pattern = std::function<Rgba(double u, double v)>; // u, v in [0, 1), v down

std::uint8_t byteOf(double v) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

veltrix_render::Image draw(int width, int height, const Pattern &pattern) {
    veltrix_render::Image image = veltrix_render::Image::transparent(width, height, 8);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgba c = pattern((x + 0.5) / width, (y + 0.5) / height);
            std::uint8_t *p = &image.u8[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4];
            p[0] = byteOf(c.r);
            p[1] = byteOf(c.g);
            p[2] = byteOf(c.b);
            p[3] = byteOf(c.a);
        }
    }
    return image;
}

// A hue in [0, 1) as a saturated colour.
Rgba hue(double h) {
    auto channel = [h](double offset) {
        const double t = std::fabs(std::fmod(h * 6.0 + offset, 6.0) - 3.0);
        return std::clamp(t - 1.0, 0.0, 1.0);
    };
    return {channel(0.0), channel(4.0), channel(2.0), 1.0};
}

Rgba mix(const Rgba &a, const Rgba &b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
            a.a + (b.a - a.a) * t};
}

Rgba checker(double u, double v) {
    const int cx = static_cast<int>(u * 16.0), cy = static_cast<int>(v * 8.0);
    Rgba c = hue(u);
    if ((cx + cy) % 2) c = mix(c, Rgba{1, 1, 1, 1}, 0.75);
    // A thin dark grid every eighth of a square shows how the texture bends.
    const double fu = std::fmod(u * 128.0, 1.0), fv = std::fmod(v * 64.0, 1.0);
    if (fu < 0.08 || fv < 0.08) c = mix(c, Rgba{0, 0, 0, 1}, 0.35);
    return c;
}

Rgba lace(double u, double v) {
    const double cu = std::fmod(u * 12.0, 1.0) - 0.5, cv = std::fmod(v * 6.0, 1.0) - 0.5;
    const double r = std::sqrt(cu * cu + cv * cv);
    const Rgba warm = mix(Rgba{0.95, 0.55, 0.15, 1}, Rgba{0.85, 0.2, 0.35, 1}, v);
    // Soft-edged holes: alpha falls from 1 to 0 across the rim.
    const double alpha = std::clamp((r - 0.28) / 0.06, 0.0, 1.0);
    return {warm.r, warm.g, warm.b, alpha};
}

Rgba sky(double u, double v) {
    const double elevation = (0.5 - v) * kPi; // +pi/2 straight up
    const double azimuth = u * 2.0 * kPi;
    Rgba c;
    if (elevation >= 0.0) {
        c = mix(Rgba{0.95, 0.9, 0.8, 1}, Rgba{0.15, 0.35, 0.8, 1}, std::pow(elevation / (kPi / 2), 0.5));
        // Towers around the horizon, each its own height.
        const double slot = azimuth / (2.0 * kPi) * 24.0;
        const double within = std::fmod(slot, 1.0);
        const double height = 0.08 + 0.12 * std::fabs(std::sin(std::floor(slot) * 2.3));
        if (within > 0.25 && within < 0.75 && elevation < height)
            c = mix(Rgba{0.2, 0.22, 0.28, 1}, Rgba{0.9, 0.85, 0.6, 1},
                    std::fmod(std::floor(elevation * 80.0), 2.0) * 0.3);
    } else {
        c = mix(Rgba{0.45, 0.38, 0.3, 1}, Rgba{0.12, 0.1, 0.08, 1}, -elevation / (kPi / 2));
    }
    // The sun, high in the south-west.
    const double sunU = 0.62, sunV = 0.22;
    const double d = std::hypot((u - sunU) * 2.0, v - sunV);
    if (d < 0.03) c = Rgba{1, 1, 0.95, 1};
    else if (d < 0.09) c = mix(Rgba{1, 0.95, 0.8, 1}, c, (d - 0.03) / 0.06);
    return c;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: veltrix-example-images FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    struct Job {
        const char *name;
        int width, height;
        Pattern pattern;
    };
    const Job jobs[] = {{"checker.png", 256, 128, checker},
                        {"lace.png", 256, 128, lace},
                        {"sky.png", 512, 256, sky}};
    for (const Job &job : jobs) {
        std::string error;
        const std::string path = (folder / job.name).string();
        if (!veltrix_render::writeImage(draw(job.width, job.height, job.pattern), path, error)) {
            std::fprintf(stderr, "veltrix-example-images: %s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
    }
    return 0;
}
