// Compares two folders of rendered frames pixel by pixel: every image file in
// REFERENCE with the file of the same name in OTHER (the Windows build's
// frames under Wine against this build's, tests/windows).
//
//   veltrix-render-compare REFERENCE OTHER [--min-within PERCENT] [--max-bias VALUE]
//
// Samples are compared as floats (8 and 16-bit files scaled to 0..1), red,
// green, blue and alpha as stored (straight alpha). For each frame and for
// all together it prints the share of identical pixels (every channel
// equal), the share of pixels whose channels all differ by at most 1/255,
// the largest difference of any channel, and the mean signed difference
// (OTHER - REFERENCE) of each channel, which stays near zero unless one side
// is off in one direction.
//
// A frame passes when at least PERCENT of its pixels (default 99.9) are
// within 1/255 and every channel's mean signed difference is at most VALUE
// in size (default 1.5e-5: less than one step of a 16-bit file, 1/65535, so
// that on average neither side is lighter or darker by anything an output
// file could show; rounding differences of single pixels, which go either
// way, stay far below it). Exit codes: 0 all pass, 1 a frame fails, 2 the
// folders cannot be compared (missing or unreadable files, different sizes,
// nothing to compare, a reference frame with no visible pixel).
#include "headless/render/ImageIO.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using veltrix_render::Image;

constexpr double kStep8 = 1.0 / 255.0;

struct Figures {
    std::size_t pixels = 0;
    std::size_t identical = 0;
    std::size_t within = 0;
    std::size_t covered = 0; // reference pixels with alpha above zero
    double largest = 0.0;
    std::array<double, 4> signedSum{};

    void add(const Figures &o) {
        pixels += o.pixels, identical += o.identical, within += o.within, covered += o.covered;
        largest = std::max(largest, o.largest);
        for (int c = 0; c < 4; ++c) signedSum[c] += o.signedSum[c];
    }
    double share(std::size_t n) const { return pixels ? 100.0 * double(n) / double(pixels) : 0.0; }
    double bias(int c) const { return pixels ? signedSum[c] / double(pixels) : 0.0; }
    double largestBias() const {
        double b = 0.0;
        for (int c = 0; c < 4; ++c) b = std::max(b, std::fabs(bias(c)));
        return b;
    }
};

float sampleAt(const Image &image, std::size_t i) {
    switch (image.bits) {
    case 8: return float(image.u8[i]) / 255.0f;
    case 16: return float(image.u16[i]) / 65535.0f;
    default: return image.f32[i];
    }
}

Figures compare(const Image &reference, const Image &other) {
    Figures f;
    f.pixels = std::size_t(reference.width) * std::size_t(reference.height);
    for (std::size_t p = 0; p < f.pixels; ++p) {
        bool same = true;
        double worst = 0.0;
        for (int c = 0; c < 4; ++c) {
            const float a = sampleAt(reference, p * 4 + std::size_t(c));
            const float b = sampleAt(other, p * 4 + std::size_t(c));
            const double d = double(b) - double(a);
            same = same && (a == b || (std::isnan(a) && std::isnan(b)));
            worst = std::isnan(d) && !same ? INFINITY : std::max(worst, std::fabs(d));
            if (std::isfinite(d)) f.signedSum[std::size_t(c)] += d;
        }
        if (sampleAt(reference, p * 4 + 3) > 0.0f) ++f.covered;
        f.identical += same;
        f.within += worst <= kStep8;
        f.largest = std::max(f.largest, worst);
    }
    return f;
}

void printRow(const std::string &name, const Figures &f) {
    std::printf("%-24s %9zu %9.3f %% %9.3f %% %11.3g %11.3g %11.3g %11.3g %11.3g\n", name.c_str(),
                f.pixels, f.share(f.identical), f.share(f.within), f.largest, f.bias(0), f.bias(1),
                f.bias(2), f.bias(3));
}

bool isImageFile(const fs::path &path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".tif" || ext == ".tiff" || ext == ".exr" || ext == ".png";
}

int usage() {
    std::fprintf(stderr, "usage: veltrix-render-compare REFERENCE OTHER [--min-within PERCENT] "
                         "[--max-bias VALUE]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> folders;
    double minWithin = 99.9, maxBias = 1.5e-5;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--min-within" || arg == "--max-bias") && i + 1 < argc) {
            char *end = nullptr;
            const double v = std::strtod(argv[++i], &end);
            if (*end || !(v >= 0.0)) return usage();
            (arg == "--min-within" ? minWithin : maxBias) = v;
        } else if (arg.starts_with("-")) {
            return usage();
        } else {
            folders.push_back(arg);
        }
    }
    if (folders.size() != 2) return usage();

    std::vector<fs::path> names;
    std::error_code ec;
    for (const fs::directory_entry &e : fs::directory_iterator(folders[0], ec))
        if (e.is_regular_file() && isImageFile(e.path())) names.push_back(e.path().filename());
    if (ec || names.empty()) {
        std::fprintf(stderr, "veltrix-render-compare: no frames in %s\n", folders[0].c_str());
        return 2;
    }
    std::sort(names.begin(), names.end());

    std::printf("%-24s %9s %11s %11s %11s %11s %11s %11s %11s\n", "frame", "pixels", "identical",
                "<= 1/255", "largest", "mean R", "mean G", "mean B", "mean A");
    Figures all;
    bool pass = true;
    for (const fs::path &name : names) {
        Image reference, other;
        std::string error;
        const fs::path a = fs::path(folders[0]) / name, b = fs::path(folders[1]) / name;
        if (!veltrix_render::readStoredImage(a.string(), reference, error) ||
            !veltrix_render::readStoredImage(b.string(), other, error)) {
            std::fprintf(stderr, "veltrix-render-compare: %s: %s\n", name.c_str(), error.c_str());
            return 2;
        }
        if (reference.width != other.width || reference.height != other.height) {
            std::fprintf(stderr, "veltrix-render-compare: %s: %d x %d against %d x %d\n",
                         name.c_str(), reference.width, reference.height, other.width, other.height);
            return 2;
        }
        const Figures f = compare(reference, other);
        if (f.covered == 0) {
            std::fprintf(stderr, "veltrix-render-compare: %s: the reference frame shows nothing\n",
                         name.c_str());
            return 2;
        }
        printRow(name.string(), f);
        const bool ok = f.share(f.within) >= minWithin && f.largestBias() <= maxBias;
        if (!ok) std::printf("  ^ FAILS: needs >= %g %% within 1/255 and |mean| <= %g\n", minWithin, maxBias);
        pass = pass && ok;
        all.add(f);
    }
    printRow("all " + std::to_string(names.size()) + " frames", all);
    std::printf("%s: %zu frames, %.4f %% of pixels identical, %.4f %% within 1/255 (>= %g %% "
                "needed), largest difference %.3g, largest |mean signed difference| %.3g (<= %g "
                "allowed)\n",
                pass ? "PASS" : "FAIL", names.size(), all.share(all.identical),
                all.share(all.within), minWithin, all.largest, all.largestBias(), maxBias);
    return pass ? 0 : 1;
}
