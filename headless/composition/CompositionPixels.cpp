#include "headless/composition/CompositionPixels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace headless {

namespace {

// The largest image the host makes for a layer (per side), so that a broken
// size cannot ask for more memory than any real layer has.
constexpr long long kMaxSide = 30000;

PF_PixelFloat fill(const ColorValue &c) {
    return {float(c.alpha), float(c.red), float(c.green), float(c.blue)};
}

bool usableSize(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide;
}

SourceImage blank(int width, int height, PF_PixelFloat pixel) {
    SourceImage image;
    if (!usableSize(width, height)) return image;
    image.width = width;
    image.height = height;
    image.pixels.assign(std::size_t(width) * std::size_t(height), pixel);
    return image;
}

// `count` pixels of RGBA samples of any type, from pixel `first` on, as ARGB
// float pixels.
template <class Sample>
void footagePixels(const std::vector<Sample> &rgba, std::size_t first, std::size_t count, PF_PixelFloat *out) {
    for (std::size_t i = 0; i < count; ++i) {
        const Sample *src = &rgba[(first + i) * 4];
        out[i] = {sampleValue(src[3]), sampleValue(src[0]), sampleValue(src[1]), sampleValue(src[2])};
    }
}
void footagePixels(const FootageSource &f, std::size_t first, std::size_t count, PF_PixelFloat *out) {
    if (!f.rgba8.empty()) footagePixels(f.rgba8, first, count, out);
    else if (!f.rgba16.empty()) footagePixels(f.rgba16, first, count, out);
    else footagePixels(f.rgba, first, count, out);
}

// Footage that is not well formed shows as transparent.
SourceImage footageImage(const FootageSource &f) {
    SourceImage image = blank(f.width, f.height, {0.f, 0.f, 0.f, 0.f});
    if (image.empty() || !f.wellFormed()) return image;
    footagePixels(f, 0, image.pixels.size(), image.pixels.data());
    return image;
}

// A downsample factor num / den; one that is not positive counts as 1/1.
PF_RationalScale usable(PF_RationalScale s) {
    if (s.num <= 0 || s.den == 0) return {1, 1};
    return s;
}

// ceil(size * num / den), in whole numbers.
long long scaledSize(int size, PF_RationalScale s) {
    return (static_cast<long long>(size) * s.num + s.den - 1) / s.den;
}

// Source index range [first, last] whose pixel centres fall in
// [i / f, (i + 1) / f) with f = num / den, or the nearest source pixel when
// there is none.
void sourceSpan(int i, PF_RationalScale f, int size, int &first, int &last) {
    const double begin = double(i) * f.den / f.num, end = double(i + 1) * f.den / f.num;
    first = std::max(0, int(std::ceil(begin - 0.5)));
    last = std::min(size - 1, int(std::ceil(end - 0.5)) - 1);
    if (first > last) {
        const double centre = (double(i) + 0.5) * f.den / f.num;
        first = last = int(std::clamp(std::floor(centre), 0.0, double(size - 1)));
    }
}

// Running alpha-weighted sums of one output pixel's block of straight-alpha
// pixels. Every path adds a block's pixels in the same order (rows top
// first, each left to right), so they round alike and hand out the same
// values.
struct BlockSum {
    double alpha = 0.0, red = 0.0, green = 0.0, blue = 0.0;

    void add(const PF_PixelFloat &p) {
        alpha += p.alpha;
        red += double(p.red) * p.alpha;
        green += double(p.green) * p.alpha;
        blue += double(p.blue) * p.alpha;
    }
    // The average of `count` pixels (transparent black when none is seen).
    PF_PixelFloat average(double count) const {
        if (alpha == 0.0) return {0.f, 0.f, 0.f, 0.f};
        return {float(alpha / count), float(red / alpha), float(green / alpha), float(blue / alpha)};
    }
};

// Alpha-weighted average of a block of straight-alpha pixels.
PF_PixelFloat averageBlock(const SourceImage &image, int x0, int x1, int y0, int y1) {
    BlockSum sum;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) sum.add(image.at(x, y));
    return sum.average(double(x1 - x0 + 1) * double(y1 - y0 + 1));
}

// The source indices [first, last] each output index of one axis averages.
struct Span {
    int first = 0, last = 0;
    int count() const { return last - first + 1; }
};

std::vector<Span> axisSpans(int outSize, PF_RationalScale f, int size) {
    std::vector<Span> spans(static_cast<std::size_t>(outSize));
    for (int i = 0; i < outSize; ++i) sourceSpan(i, f, size, spans[std::size_t(i)].first, spans[std::size_t(i)].last);
    return spans;
}

// The size of a `width` x `height` source scaled by (fx, fy).
void downsampledSize(int width, int height, PF_RationalScale fx, PF_RationalScale fy, int &outWidth,
                     int &outHeight) {
    outWidth = int(std::clamp(scaledSize(width, fx), 1LL, kMaxSide));
    outHeight = int(std::clamp(scaledSize(height, fy), 1LL, kMaxSide));
}

// The average of an nx x ny block of one pixel, added up as averageBlock adds
// it: repeated sums round, so the average of a uniform block is not always
// the pixel itself.
PF_PixelFloat uniformBlock(const PF_PixelFloat &pixel, int nx, int ny) {
    BlockSum sum;
    for (long long k = 0, n = static_cast<long long>(nx) * ny; k < n; ++k) sum.add(pixel);
    return sum.average(double(nx) * double(ny));
}

// A uniform source (a solid, a null, footage showing transparent) of
// `width` x `height` scaled by (fx, fy), with no pixels of the source's size:
// an output pixel depends only on its block's size, and a whole reduction
// factor has two or three of those per axis, so each is summed once.
std::unique_ptr<LayerImage> downsampledUniform(const PF_PixelFloat &pixel, int width, int height,
                                               PF_RationalScale fx, PF_RationalScale fy, int bits) {
    int outWidth, outHeight;
    downsampledSize(width, height, fx, fy, outWidth, outHeight);
    const std::vector<Span> columns = axisSpans(outWidth, fx, width), rows = axisSpans(outHeight, fy, height);
    std::vector<std::pair<std::pair<int, int>, PF_PixelFloat>> averages; // by block size
    auto averageOf = [&](int nx, int ny) {
        for (const auto &[size, average] : averages)
            if (size.first == nx && size.second == ny) return average;
        averages.push_back({{nx, ny}, uniformBlock(pixel, nx, ny)});
        return averages.back().second;
    };
    std::vector<PF_PixelFloat> row(static_cast<std::size_t>(outWidth));
    int rowBlockHeight = 0; // the block height `row` holds
    return LayerImage::fromRows(outWidth, outHeight, bits, [&](int j, PF_PixelFloat *out) {
        const int ny = rows[std::size_t(j)].count();
        if (ny != rowBlockHeight) {
            for (int i = 0; i < outWidth; ++i) row[std::size_t(i)] = averageOf(columns[std::size_t(i)].count(), ny);
            rowBlockHeight = ny;
        }
        std::copy(row.begin(), row.end(), out);
    });
}

// Well-formed footage scaled by (fx, fy), its rows read one at a time: each
// output row sums the source rows of its blocks, so no image of the
// footage's size is made, and every block is added up in averageBlock's order.
std::unique_ptr<LayerImage> downsampledFootage(const FootageSource &footage, PF_RationalScale fx,
                                               PF_RationalScale fy, int bits) {
    int outWidth, outHeight;
    downsampledSize(footage.width, footage.height, fx, fy, outWidth, outHeight);
    const std::vector<Span> columns = axisSpans(outWidth, fx, footage.width);
    const std::vector<Span> rows = axisSpans(outHeight, fy, footage.height);
    std::vector<PF_PixelFloat> source(static_cast<std::size_t>(footage.width));
    std::vector<BlockSum> sums(static_cast<std::size_t>(outWidth));
    return LayerImage::fromRows(outWidth, outHeight, bits, [&](int j, PF_PixelFloat *out) {
        const Span rowSpan = rows[std::size_t(j)];
        std::fill(sums.begin(), sums.end(), BlockSum{});
        for (int y = rowSpan.first; y <= rowSpan.last; ++y) {
            footagePixels(footage, std::size_t(y) * source.size(), source.size(), source.data());
            for (int i = 0; i < outWidth; ++i) {
                const Span column = columns[std::size_t(i)];
                for (int x = column.first; x <= column.last; ++x) sums[std::size_t(i)].add(source[std::size_t(x)]);
            }
        }
        for (int i = 0; i < outWidth; ++i)
            out[i] = sums[std::size_t(i)].average(double(columns[std::size_t(i)].count()) * double(rowSpan.count()));
    });
}

// The one float-to-integer rule: scale in single precision, clamp, truncate.
template <class Channel> Channel toInteger(float value, float full) {
    const float scaled = value * full;
    if (scaled > full) return Channel(full);
    if (!(scaled >= 0.f)) return 0; // negative or NaN
    return Channel(scaled);
}

// `count` float pixels stored into a row of integer pixels P by that rule.
template <class P> void storeRow(const PF_PixelFloat *src, int count, float full, std::byte *row) {
    using Channel = decltype(P{}.alpha);
    for (int x = 0; x < count; ++x) {
        const PF_PixelFloat &p = src[x];
        const P out = {toInteger<Channel>(p.alpha, full), toInteger<Channel>(p.red, full),
                       toInteger<Channel>(p.green, full), toInteger<Channel>(p.blue, full)};
        std::memcpy(row + std::size_t(x) * sizeof(P), &out, sizeof out);
    }
}

} // namespace

SourceImage layerSourceImage(const Layer &layer) {
    switch (layer.type) {
    case LayerType::Solid:
        return blank(layer.solid.width, layer.solid.height, fill(layer.solid.color));
    case LayerType::Null:
        return blank(layer.solid.width, layer.solid.height, {0.f, 0.f, 0.f, 0.f});
    case LayerType::Footage:
        return footageImage(layer.footage);
    case LayerType::Camera:
    case LayerType::Light:
        break;
    }
    return {};
}

SourceImage downsampleImage(SourceImage image, PF_RationalScale x, PF_RationalScale y) {
    const PF_RationalScale fx = usable(x), fy = usable(y);
    if (image.empty()) return {};
    if (fx.num == static_cast<A_long>(fx.den) && fy.num == static_cast<A_long>(fy.den)) return image;
    int w, h;
    downsampledSize(image.width, image.height, fx, fy, w, h);
    SourceImage out = blank(w, h, {0.f, 0.f, 0.f, 0.f});
    const std::vector<Span> columns = axisSpans(w, fx, image.width), rows = axisSpans(h, fy, image.height);
    for (int j = 0; j < out.height; ++j)
        for (int i = 0; i < out.width; ++i) {
            const Span column = columns[std::size_t(i)], row = rows[std::size_t(j)];
            out.pixels[std::size_t(j) * std::size_t(out.width) + std::size_t(i)] =
                averageBlock(image, column.first, column.last, row.first, row.last);
        }
    return out;
}

int bytesPerPixel(int bitsPerChannel) {
    switch (bitsPerChannel) {
    case 8: return int(sizeof(PF_Pixel));
    case 16: return int(sizeof(PF_Pixel16));
    case 32: return int(sizeof(PF_PixelFloat));
    default: return 0;
    }
}

namespace {
PixelDepth depthOfBits(int bits) {
    return bits == 8 ? PixelDepth::Eight : bits == 16 ? PixelDepth::Sixteen : PixelDepth::Float;
}
} // namespace

LayerImage::LayerImage(int width, int height, int bits)
    : bits_(bits),
      world_(std::make_unique<HostWorld>(depthOfBits(bits), width, height, WorldFill::Garbage)) {
    world_->setPixelAspect({1, 1});
    // The effect samples layers where its mapping lands (textures, reflection
    // maps), so a rolling window of a large layer's table may spread over
    // most of its rows, and its rows would be made again each frame. Held
    // whole, an integer layer's table is no larger than that window can grow
    // (an 8-bit one, in 32-bit words, half of it).
    world_->setTableHeldWhole(true);
}

void LayerImage::publishIn(Worlds &worlds) {
    publication_ = worlds.publish(*world_, WorldAccess::ReadOnly);
}

std::unique_ptr<LayerImage> LayerImage::create(int width, int height, int bitsPerChannel) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return nullptr;
    if (bytesPerPixel(bitsPerChannel) == 0) return nullptr;
    try {
        return std::unique_ptr<LayerImage>(new LayerImage(width, height, bitsPerChannel));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

void LayerImage::storeRow(int y, const PF_PixelFloat *src) {
    std::byte *row = world_->row(y);
    switch (bits_) {
    case 8: headless::storeRow<PF_Pixel>(src, width(), 255.f, row); break;
    case 16: headless::storeRow<PF_Pixel16>(src, width(), 32768.f, row); break;
    default: std::memcpy(row, src, std::size_t(width()) * sizeof(PF_PixelFloat)); break;
    }
}

std::unique_ptr<LayerImage> LayerImage::fromRows(int width, int height, int bitsPerChannel,
                                                 const RowMaker &makeRow) {
    std::unique_ptr<LayerImage> out = create(width, height, bitsPerChannel);
    if (!out) return nullptr;
    // One row of floats at a time, not an image of them: the source may be
    // far larger than the frame.
    std::vector<PF_PixelFloat> row(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        makeRow(y, row.data());
        out->storeRow(y, row.data());
    }
    out->world_->pixelsChanged();
    return out;
}

std::unique_ptr<LayerImage> LayerImage::fromSource(const SourceImage &image, int bitsPerChannel) {
    if (image.empty() || image.pixels.size() != std::size_t(image.width) * image.height)
        return nullptr;
    return fromRows(image.width, image.height, bitsPerChannel, [&](int y, PF_PixelFloat *row) {
        const PF_PixelFloat *first = &image.pixels[std::size_t(y) * std::size_t(image.width)];
        std::copy(first, first + image.width, row);
    });
}

std::unique_ptr<LayerImage> LayerImage::fromFootage(const FootageSource &footage, int bitsPerChannel) {
    if (!usableSize(footage.width, footage.height)) return nullptr;
    if (!footage.wellFormed()) return filled(footage.width, footage.height, {0.f, 0.f, 0.f, 0.f}, bitsPerChannel);
    const std::size_t width = static_cast<std::size_t>(footage.width);
    return fromRows(footage.width, footage.height, bitsPerChannel, [&](int y, PF_PixelFloat *row) {
        footagePixels(footage, std::size_t(y) * width, width, row);
    });
}

std::unique_ptr<LayerImage> LayerImage::filled(int width, int height, const PF_PixelFloat &pixel,
                                               int bitsPerChannel) {
    std::unique_ptr<LayerImage> out = create(width, height, bitsPerChannel);
    if (!out) return nullptr;
    // One pixel converted, then copied along the first row and the first row
    // down the others.
    out->store(0, 0, pixel);
    const std::size_t bytes = out->world_->bytesPerPixel();
    std::byte *first = out->world_->row(0);
    for (int x = 1; x < width; ++x) std::memcpy(first + std::size_t(x) * bytes, first, bytes);
    for (int y = 1; y < height; ++y) std::memcpy(out->world_->row(y), first, std::size_t(width) * bytes);
    out->world_->pixelsChanged();
    return out;
}

std::unique_ptr<LayerImage> layerPixels(const Layer &layer, PF_RationalScale x, PF_RationalScale y,
                                        int bitsPerChannel) {
    const PF_RationalScale fx = usable(x), fy = usable(y);
    const bool fullSize = fx.num == static_cast<A_long>(fx.den) && fy.num == static_cast<A_long>(fy.den);
    if (!layer.hasSource()) return nullptr;
    int width = 0, height = 0;
    layer.sourceSize(width, height);
    if (!usableSize(width, height)) return nullptr;
    // What every pixel of a solid, a null or footage that is not well formed is.
    PF_PixelFloat uniform = {0.f, 0.f, 0.f, 0.f};
    if (layer.type == LayerType::Solid) uniform = fill(layer.solid.color);
    const bool isUniform = layer.type != LayerType::Footage || !layer.footage.wellFormed();

    std::unique_ptr<LayerImage> image;
    if (isUniform && fullSize) image = LayerImage::filled(width, height, uniform, bitsPerChannel);
    else if (isUniform) image = downsampledUniform(uniform, width, height, fx, fy, bitsPerChannel);
    else if (fullSize) image = LayerImage::fromFootage(layer.footage, bitsPerChannel);
    else image = downsampledFootage(layer.footage, fx, fy, bitsPerChannel);
    if (!image) throw std::bad_alloc();
    // Footage the composition keeps as floats, in a float layer, would be
    // held three times over with a whole float table (the footage, the layer
    // and a table twice the layer's size): its table rolls when large, and
    // holds only the rows the samples reach.
    if (bitsPerChannel == 32 && layer.type == LayerType::Footage && !layer.footage.rgba.empty())
        image->holdTableWhole(false);
    return image;
}

void LayerImage::store(int x, int y, const PF_PixelFloat &p) {
    if (x < 0 || y < 0 || x >= width() || y >= height()) return;
    std::byte *at = world_->row(y) + std::size_t(x) * world_->bytesPerPixel();
    switch (bits_) {
    case 8: {
        const PF_Pixel out = {toInteger<A_u_char>(p.alpha, 255.f), toInteger<A_u_char>(p.red, 255.f),
                              toInteger<A_u_char>(p.green, 255.f), toInteger<A_u_char>(p.blue, 255.f)};
        std::memcpy(at, &out, sizeof out);
        break;
    }
    case 16: {
        const PF_Pixel16 out = {
            toInteger<A_u_short>(p.alpha, 32768.f), toInteger<A_u_short>(p.red, 32768.f),
            toInteger<A_u_short>(p.green, 32768.f), toInteger<A_u_short>(p.blue, 32768.f)};
        std::memcpy(at, &out, sizeof out);
        break;
    }
    default:
        std::memcpy(at, &p, sizeof p);
        break;
    }
}

PF_PixelFloat LayerImage::load(int x, int y) const {
    if (x < 0 || y < 0 || x >= width() || y >= height()) return {0.f, 0.f, 0.f, 0.f};
    const std::byte *at = world_->row(y) + std::size_t(x) * world_->bytesPerPixel();
    switch (bits_) {
    case 8: {
        PF_Pixel p;
        std::memcpy(&p, at, sizeof p);
        return {p.alpha / 255.f, p.red / 255.f, p.green / 255.f, p.blue / 255.f};
    }
    case 16: {
        PF_Pixel16 p;
        std::memcpy(&p, at, sizeof p);
        constexpr float k = 1.0f / 32768.0f;
        return {p.alpha * k, p.red * k, p.green * k, p.blue * k};
    }
    default: {
        PF_PixelFloat p;
        std::memcpy(&p, at, sizeof p);
        return p;
    }
    }
}

} // namespace headless
