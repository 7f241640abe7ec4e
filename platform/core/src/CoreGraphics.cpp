#include "CoreGraphics.h"

#include "MacErrors.h"
#include "MacMemory.h"
#include "QuickDrawInternal.h"

#include <pixman.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace {

// Sizes that keep every pixel coordinate inside pixman's 16.16 fixed point.
constexpr size_t kMaxSide = 32767;

// The pixman formats for a pixel whose bytes lie in memory in the named order.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr pixman_format_code_t kBytesARGB = PIXMAN_b8g8r8a8;
constexpr pixman_format_code_t kBytesBGRA = PIXMAN_a8r8g8b8;
constexpr pixman_format_code_t kBytesRGBA = PIXMAN_a8b8g8r8;
constexpr pixman_format_code_t kBytesABGR = PIXMAN_r8g8b8a8;
constexpr pixman_format_code_t kBytesXRGB = PIXMAN_b8g8r8x8;
constexpr pixman_format_code_t kBytesBGRX = PIXMAN_x8r8g8b8;
constexpr pixman_format_code_t kBytesRGBX = PIXMAN_x8b8g8r8;
constexpr pixman_format_code_t kBytesXBGR = PIXMAN_r8g8b8x8;
#else
constexpr pixman_format_code_t kBytesARGB = PIXMAN_a8r8g8b8;
constexpr pixman_format_code_t kBytesBGRA = PIXMAN_b8g8r8a8;
constexpr pixman_format_code_t kBytesRGBA = PIXMAN_r8g8b8a8;
constexpr pixman_format_code_t kBytesABGR = PIXMAN_a8b8g8r8;
constexpr pixman_format_code_t kBytesXRGB = PIXMAN_x8r8g8b8;
constexpr pixman_format_code_t kBytesBGRX = PIXMAN_b8g8r8x8;
constexpr pixman_format_code_t kBytesRGBX = PIXMAN_r8g8b8x8;
constexpr pixman_format_code_t kBytesXBGR = PIXMAN_x8b8g8r8;
#endif

struct Affine {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
};

// The transform that applies `first`, then `then`.
Affine Compose(const Affine& first, const Affine& then)
{
    return Affine{then.a * first.a + then.c * first.b,
                  then.b * first.a + then.d * first.b,
                  then.a * first.c + then.c * first.d,
                  then.b * first.c + then.d * first.d,
                  then.a * first.tx + then.c * first.ty + then.tx,
                  then.b * first.tx + then.d * first.ty + then.ty};
}

bool Invert(const Affine& m, Affine& inverse)
{
    const double det = m.a * m.d - m.b * m.c;
    if (!std::isfinite(det) || std::fabs(det) < 1e-12)
        return false;
    inverse.a = m.d / det;
    inverse.b = -m.b / det;
    inverse.c = -m.c / det;
    inverse.d = m.a / det;
    inverse.tx = -(inverse.a * m.tx + inverse.c * m.ty);
    inverse.ty = -(inverse.b * m.tx + inverse.d * m.ty);
    return true;
}

struct DevicePoint {
    double x;
    double y;
};

DevicePoint Apply(const Affine& m, double x, double y)
{
    return DevicePoint{m.a * x + m.c * y + m.tx, m.b * x + m.d * y + m.ty};
}

// Sines and cosines of multiples of a quarter turn come out of float angles
// a hair away from 0 and 1; exact values keep such turns pixel-exact.
double SnapUnit(double v)
{
    for (double exact : {-1.0, 0.0, 1.0}) {
        if (std::fabs(v - exact) < 1e-6)
            return exact;
    }
    return v;
}

double Clamp01(double v)
{
    if (!(v > 0))  // NaN too
        return 0;
    return v < 1 ? v : 1;
}

struct GState {
    Affine ctm;
    double fill[4] = {0, 0, 0, 1};  // straight red, green, blue, alpha
    double alpha = 1;
    CGBlendMode blendMode = kCGBlendModeNormal;
};

struct PixmanDeleter {
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, PixmanDeleter>;

PixmanImage NewBits(pixman_format_code_t format, int width, int height)
{
    return PixmanImage(pixman_image_create_bits(format, width, height, nullptr, 0));
}

PixmanImage NewSolid(double red, double green, double blue, double alpha)
{
    const auto channel = [](double v) { return uint16_t(std::lround(Clamp01(v) * 65535.0)); };
    const pixman_color_t color{channel(red), channel(green), channel(blue), channel(alpha)};
    return PixmanImage(pixman_image_create_solid_fill(&color));
}

// Integer bounding box of drawn pixels, in device pixels.
struct Box {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool Empty() const { return x1 <= x0 || y1 <= y0; }
    void Add(const Box& other)
    {
        if (other.Empty())
            return;
        if (Empty()) {
            *this = other;
            return;
        }
        x0 = std::min(x0, other.x0);
        y0 = std::min(y0, other.y0);
        x1 = std::max(x1, other.x1);
        y1 = std::max(y1, other.y1);
    }
};

pixman_fixed_t ToFixed(double v)
{
    return pixman_fixed_t(std::lround(v * 65536.0));
}

bool FitsFixed(double v)
{
    return std::isfinite(v) && std::fabs(v) < 32000.0;
}

// Clips a convex polygon to the rectangle [0, width] × [0, height].
std::vector<DevicePoint> ClipToBox(std::vector<DevicePoint> polygon, double width, double height)
{
    struct Edge {
        int axis;      // 0: x, 1: y
        double limit;
        bool keepBelow;
    };
    const Edge edges[] = {{0, 0, false}, {0, width, true}, {1, 0, false}, {1, height, true}};
    for (const Edge& edge : edges) {
        std::vector<DevicePoint> out;
        const size_t n = polygon.size();
        const auto coord = [&](const DevicePoint& p) { return edge.axis == 0 ? p.x : p.y; };
        const auto inside = [&](const DevicePoint& p) {
            return edge.keepBelow ? coord(p) <= edge.limit : coord(p) >= edge.limit;
        };
        for (size_t i = 0; i < n; ++i) {
            const DevicePoint& p = polygon[i];
            const DevicePoint& q = polygon[(i + 1) % n];
            if (inside(p))
                out.push_back(p);
            if (inside(p) != inside(q)) {
                // Interpolating from the nearer end keeps huge coordinates precise.
                const bool fromP =
                    std::fabs(coord(p) - edge.limit) <= std::fabs(coord(q) - edge.limit);
                const DevicePoint& near = fromP ? p : q;
                const DevicePoint& far = fromP ? q : p;
                const double t = (edge.limit - coord(near)) / (coord(far) - coord(near));
                DevicePoint cut{near.x + t * (far.x - near.x), near.y + t * (far.y - near.y)};
                (edge.axis == 0 ? cut.x : cut.y) = edge.limit;
                out.push_back(cut);
            }
        }
        polygon = std::move(out);
        if (polygon.size() < 3)
            return {};
    }
    return polygon;
}

}  // namespace

struct CGColorSpace {
    std::atomic<long> retainCount{1};
};

struct CGColor {
    std::atomic<long> retainCount{1};
    CGFloat components[4] = {0, 0, 0, 1};
};

struct CGImage {
    std::atomic<long> retainCount{1};
    size_t width = 0;
    size_t height = 0;
    size_t rowBytes = 0;
    std::vector<uint32_t> pixels;  // bytes alpha, red, green, blue

    UInt8* Bytes() { return reinterpret_cast<UInt8*>(pixels.data()); }
};

struct CGContext {
    std::atomic<long> retainCount{1};
    PixmanImage target;
    void* data = nullptr;
    std::vector<uint32_t> ownedPixels;
    size_t width = 0;
    size_t height = 0;
    size_t bytesPerRow = 0;
    GState state;
    std::vector<GState> savedStates;
    CGrafPtr port = nullptr;  // set for a context on a QuickDraw port
    Box changed;              // pixels drawn since the context began
};

namespace {

template <typename T>
T* Retain(T* object)
{
    if (object != nullptr)
        object->retainCount.fetch_add(1, std::memory_order_relaxed);
    return object;
}

template <typename T>
void Release(T* object)
{
    if (object != nullptr && object->retainCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete object;
}

CGImageRef NewImage(size_t width, size_t height)
{
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        return nullptr;
    auto* image = TBNew<CGImage>();
    if (image == nullptr)
        return nullptr;
    image->width = width;
    image->height = height;
    image->rowBytes = width * 4;
    try {
        image->pixels.assign(width * height, 0);
    } catch (const std::bad_alloc&) {
        delete image;
        return nullptr;
    }
    return image;
}

PixmanImage WrapImage(CGImageRef image)
{
    return PixmanImage(pixman_image_create_bits(kBytesARGB, int(image->width), int(image->height),
                                                image->pixels.data(), int(image->rowBytes)));
}

// The context maps user space (y up) to device pixels (y down).
Affine UserToDevice(const CGContext* c)
{
    return Compose(c->state.ctm, Affine{1, 0, 0, -1, 0, double(c->height)});
}

bool CanDraw(const CGContext* c)
{
    return c != nullptr && c->target != nullptr;
}

// The device quadrilateral of a user-space rectangle.
std::vector<DevicePoint> RectQuad(const Affine& toDevice, CGRect rect)
{
    double x = rect.origin.x, y = rect.origin.y;
    double w = rect.size.width, h = rect.size.height;
    if (w < 0) {
        x += w;
        w = -w;
    }
    if (h < 0) {
        y += h;
        h = -h;
    }
    std::vector<DevicePoint> quad = {Apply(toDevice, x, y), Apply(toDevice, x + w, y),
                                     Apply(toDevice, x + w, y + h), Apply(toDevice, x, y + h)};
    for (const DevicePoint& p : quad) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            return {};
    }
    return quad;
}

// Coverage of a device polygon: an a8 mask over the returned box.
PixmanImage Coverage(const CGContext* c, const std::vector<DevicePoint>& quad, Box& box)
{
    const std::vector<DevicePoint> polygon = ClipToBox(quad, double(c->width), double(c->height));
    if (polygon.empty())
        return nullptr;
    double minX = polygon[0].x, maxX = minX, minY = polygon[0].y, maxY = minY;
    for (const DevicePoint& p : polygon) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    box = Box{int(std::floor(minX)), int(std::floor(minY)), int(std::ceil(maxX)),
              int(std::ceil(maxY))};
    if (box.Empty())
        return nullptr;
    PixmanImage mask = NewBits(PIXMAN_a8, box.x1 - box.x0, box.y1 - box.y0);
    if (mask == nullptr)
        return nullptr;
    std::vector<pixman_triangle_t> triangles;
    const auto local = [&](const DevicePoint& p) {
        return pixman_point_fixed_t{ToFixed(p.x - box.x0), ToFixed(p.y - box.y0)};
    };
    for (size_t i = 1; i + 1 < polygon.size(); ++i)
        triangles.push_back(
            pixman_triangle_t{local(polygon[0]), local(polygon[i]), local(polygon[i + 1])});
    pixman_add_triangles(mask.get(), 0, 0, int(triangles.size()), triangles.data());
    return mask;
}

// Modes whose result outside the source's shape would not be the destination
// itself are drawn through a copy and blended back by coverage.
bool IsUnbounded(pixman_op_t op)
{
    return op == PIXMAN_OP_CLEAR || op == PIXMAN_OP_SRC || op == PIXMAN_OP_IN ||
           op == PIXMAN_OP_OUT || op == PIXMAN_OP_IN_REVERSE || op == PIXMAN_OP_ATOP_REVERSE;
}

// No operator stands for plus-darker, which pixman lacks.
std::optional<pixman_op_t> PixmanOperator(CGBlendMode mode)
{
    if (mode == kCGBlendModePlusDarker)
        return std::nullopt;
    static constexpr pixman_op_t kOperators[] = {
        PIXMAN_OP_OVER,          PIXMAN_OP_MULTIPLY,       PIXMAN_OP_SCREEN,
        PIXMAN_OP_OVERLAY,       PIXMAN_OP_DARKEN,         PIXMAN_OP_LIGHTEN,
        PIXMAN_OP_COLOR_DODGE,   PIXMAN_OP_COLOR_BURN,     PIXMAN_OP_SOFT_LIGHT,
        PIXMAN_OP_HARD_LIGHT,    PIXMAN_OP_DIFFERENCE,     PIXMAN_OP_EXCLUSION,
        PIXMAN_OP_HSL_HUE,       PIXMAN_OP_HSL_SATURATION, PIXMAN_OP_HSL_COLOR,
        PIXMAN_OP_HSL_LUMINOSITY, PIXMAN_OP_CLEAR,         PIXMAN_OP_SRC,
        PIXMAN_OP_IN,            PIXMAN_OP_OUT,            PIXMAN_OP_ATOP,
        PIXMAN_OP_OVER_REVERSE,  PIXMAN_OP_IN_REVERSE,     PIXMAN_OP_OUT_REVERSE,
        PIXMAN_OP_ATOP_REVERSE,  PIXMAN_OP_XOR,
        PIXMAN_OP_OVER,  // plus-darker, handled above
        PIXMAN_OP_ADD,
    };
    if (mode < 0 || size_t(mode) >= std::size(kOperators))
        return PIXMAN_OP_OVER;
    return kOperators[mode];
}

// Plus-darker on premultiplied channels: alpha adds up (to 1 at most) and
// each colour is that alpha less what source and destination lack of full
// intensity, never below 0. A transparent source leaves the destination.
uint32_t PlusDarker(uint32_t s, uint32_t d)
{
    const int sa = int(s >> 24), da = int(d >> 24);
    const int ra = std::min(255, sa + da);
    uint32_t result = uint32_t(ra) << 24;
    for (int shift = 0; shift < 24; shift += 8) {
        const int sc = int((s >> shift) & 0xFF), dc = int((d >> shift) & 0xFF);
        const int rc = std::clamp(ra - (sa - sc) - (da - dc), 0, ra);
        result |= uint32_t(rc) << shift;
    }
    return result;
}

void CompositePlusDarker(CGContext* c, pixman_image_t* source, pixman_image_t* mask,
                         const Box& box)
{
    const int w = box.x1 - box.x0, h = box.y1 - box.y0;
    PixmanImage drawn = NewBits(PIXMAN_a8r8g8b8, w, h);
    PixmanImage below = NewBits(PIXMAN_a8r8g8b8, w, h);
    if (drawn == nullptr || below == nullptr)
        return;
    pixman_image_composite32(PIXMAN_OP_SRC, source, mask, drawn.get(), 0, 0, 0, 0, 0, 0, w, h);
    pixman_image_composite32(PIXMAN_OP_SRC, c->target.get(), nullptr, below.get(), box.x0,
                             box.y0, 0, 0, 0, 0, w, h);
    const auto* s = pixman_image_get_data(drawn.get());
    auto* d = pixman_image_get_data(below.get());
    const int sStride = pixman_image_get_stride(drawn.get()) / 4;
    const int dStride = pixman_image_get_stride(below.get()) / 4;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            d[y * dStride + x] = PlusDarker(s[y * sStride + x], d[y * dStride + x]);
    }
    pixman_image_composite32(PIXMAN_OP_SRC, below.get(), nullptr, c->target.get(), 0, 0, 0, 0,
                             box.x0, box.y0, w, h);
}

// Draws `source` (in box-local coordinates) where `coverage` says, with the
// context's alpha and blend mode.
void Paint(CGContext* c, pixman_image_t* source, const Box& box, pixman_image_t* coverage)
{
    const int w = box.x1 - box.x0, h = box.y1 - box.y0;
    const std::optional<pixman_op_t> op = PixmanOperator(c->state.blendMode);
    PixmanImage alpha;
    if (c->state.alpha < 1)
        alpha = NewSolid(0, 0, 0, c->state.alpha);
    if (!op || !IsUnbounded(*op)) {
        if (alpha != nullptr)
            pixman_image_composite32(PIXMAN_OP_IN, alpha.get(), nullptr, coverage, 0, 0, 0, 0, 0,
                                     0, w, h);
        if (!op)
            CompositePlusDarker(c, source, coverage, box);
        else
            pixman_image_composite32(*op, source, coverage, c->target.get(), 0, 0, 0, 0, box.x0,
                                     box.y0, w, h);
    } else {
        PixmanImage blended = NewBits(PIXMAN_a8r8g8b8, w, h);
        if (blended == nullptr)
            return;
        pixman_image_composite32(PIXMAN_OP_SRC, c->target.get(), nullptr, blended.get(), box.x0,
                                 box.y0, 0, 0, 0, 0, w, h);
        pixman_image_composite32(*op, source, alpha.get(), blended.get(), 0, 0, 0, 0, 0, 0, w, h);
        // target := target × (1 − coverage) + blended × coverage
        pixman_image_composite32(PIXMAN_OP_OUT_REVERSE, coverage, nullptr, c->target.get(), 0, 0,
                                 0, 0, box.x0, box.y0, w, h);
        pixman_image_composite32(PIXMAN_OP_ADD, blended.get(), coverage, c->target.get(), 0, 0,
                                 0, 0, box.x0, box.y0, w, h);
    }
    c->changed.Add(box);
}

// Source pixels per destination pixel above which plain bilinear sampling
// would skip pixels and alias.
constexpr double kShrinkForConvolution = 1.5;

// Sets the transform (box-local device pixels to image pixels) and filter
// of an image source; false when the mapping is too extreme to sample.
bool SetImageSampling(pixman_image_t* source, const Affine& localToImage)
{
    const Affine& m = localToImage;
    for (double v : {m.a, m.b, m.c, m.d, m.tx, m.ty}) {
        if (!FitsFixed(v))
            return false;
    }
    pixman_transform_t transform = {{{ToFixed(m.a), ToFixed(m.c), ToFixed(m.tx)},
                                     {ToFixed(m.b), ToFixed(m.d), ToFixed(m.ty)},
                                     {0, 0, pixman_fixed_1}}};
    pixman_image_set_transform(source, &transform);
    pixman_image_set_repeat(source, PIXMAN_REPEAT_PAD);

    const auto unitOrZero = [](pixman_fixed_t v) {
        return v == 0 || v == pixman_fixed_1 || v == -pixman_fixed_1;
    };
    const bool permutation = unitOrZero(transform.matrix[0][0]) &&
                             unitOrZero(transform.matrix[0][1]) &&
                             unitOrZero(transform.matrix[1][0]) &&
                             unitOrZero(transform.matrix[1][1]) &&
                             (transform.matrix[0][0] == 0) == (transform.matrix[1][1] == 0) &&
                             (transform.matrix[0][1] == 0) == (transform.matrix[1][0] == 0) &&
                             (transform.matrix[0][0] == 0) != (transform.matrix[0][1] == 0);
    const bool wholeOffsets = transform.matrix[0][2] % pixman_fixed_1 == 0 &&
                              transform.matrix[1][2] % pixman_fixed_1 == 0;
    if (permutation && wholeOffsets) {
        pixman_image_set_filter(source, PIXMAN_FILTER_NEAREST, nullptr, 0);
        return true;
    }
    const double shrinkX = std::hypot(m.a, m.c);
    const double shrinkY = std::hypot(m.b, m.d);
    if (shrinkX > kShrinkForConvolution || shrinkY > kShrinkForConvolution) {
        int count = 0;
        pixman_fixed_t* params = pixman_filter_create_separable_convolution(
            &count, ToFixed(std::max(shrinkX, 1.0)), ToFixed(std::max(shrinkY, 1.0)),
            PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 4, 4);
        if (params != nullptr) {
            const bool set = pixman_image_set_filter(source, PIXMAN_FILTER_SEPARABLE_CONVOLUTION,
                                                     params, count);
            std::free(params);
            if (set)
                return true;
        }
    }
    pixman_image_set_filter(source, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    return true;
}

// The pixman layout of 32-bit pixels with the given bitmap info.
bool BitmapFormat(CGBitmapInfo info, pixman_format_code_t& format)
{
    const CGBitmapInfo order = info & kCGBitmapByteOrderMask;
    if (order != kCGBitmapByteOrderDefault && order != kCGBitmapByteOrder32Big &&
        order != kCGBitmapByteOrder32Little)
        return false;
    const bool little = order == kCGBitmapByteOrder32Little;
    switch (info & kCGBitmapAlphaInfoMask) {
    case kCGImageAlphaPremultipliedFirst:
        format = little ? kBytesBGRA : kBytesARGB;
        return true;
    case kCGImageAlphaPremultipliedLast:
        format = little ? kBytesABGR : kBytesRGBA;
        return true;
    case kCGImageAlphaNoneSkipFirst:
        format = little ? kBytesBGRX : kBytesXRGB;
        return true;
    case kCGImageAlphaNoneSkipLast:
        format = little ? kBytesXBGR : kBytesRGBX;
        return true;
    default:
        return false;
    }
}

CGContextRef NewContext(void* data, size_t width, size_t height, size_t bytesPerRow,
                        pixman_format_code_t format)
{
    auto* c = TBNew<CGContext>();
    if (c == nullptr)
        return nullptr;
    try {
        if (data == nullptr) {
            if (bytesPerRow == 0)
                bytesPerRow = (width * 4 + 15) / 16 * 16;
            c->ownedPixels.assign(bytesPerRow / 4 * height, 0);
            data = c->ownedPixels.data();
        }
    } catch (const std::bad_alloc&) {
        delete c;
        return nullptr;
    }
    c->target.reset(pixman_image_create_bits(format, int(width), int(height),
                                             static_cast<uint32_t*>(data), int(bytesPerRow)));
    if (c->target == nullptr) {
        delete c;
        return nullptr;
    }
    c->data = data;
    c->width = width;
    c->height = height;
    c->bytesPerRow = bytesPerRow;
    return c;
}

}  // namespace

const CGAffineTransform CGAffineTransformIdentity = {1, 0, 0, 1, 0, 0};

CGColorSpaceRef CGColorSpaceCreateDeviceRGB()
{
    return TBNew<CGColorSpace>();
}

void CGColorSpaceRelease(CGColorSpaceRef space)
{
    Release(space);
}

CGColorRef CGColorCreate(CGColorSpaceRef space, const CGFloat components[])
{
    if (space == nullptr || components == nullptr)
        return nullptr;
    auto* color = TBNew<CGColor>();
    if (color != nullptr) {
        for (int i = 0; i < 4; ++i)
            color->components[i] = CGFloat(Clamp01(components[i]));
    }
    return color;
}

CGImageRef CGImageRetain(CGImageRef image)
{
    return Retain(image);
}

void CGImageRelease(CGImageRef image)
{
    Release(image);
}

size_t CGImageGetWidth(CGImageRef image)
{
    return image == nullptr ? 0 : image->width;
}

size_t CGImageGetHeight(CGImageRef image)
{
    return image == nullptr ? 0 : image->height;
}

CGImageRef CGImageCreateCopy(CGImageRef image)
{
    if (image == nullptr)
        return nullptr;
    return TBCGImageCreateARGB(image->width, image->height, image->pixels.data(),
                               image->rowBytes);
}

CGImageRef TBCGImageCreateARGB(size_t width, size_t height, const void* pixels, size_t rowBytes)
{
    if (pixels == nullptr || rowBytes / 4 < width)
        return nullptr;
    CGImageRef image = NewImage(width, height);
    if (image == nullptr)
        return nullptr;
    const auto* source = static_cast<const UInt8*>(pixels);
    for (size_t y = 0; y < height; ++y)
        std::memcpy(image->Bytes() + y * image->rowBytes, source + y * rowBytes, width * 4);
    return image;
}

const UInt8* TBCGImageGetARGBData(CGImageRef image, size_t* rowBytes)
{
    if (image == nullptr)
        return nullptr;
    if (rowBytes != nullptr)
        *rowBytes = image->rowBytes;
    return image->Bytes();
}

void CGContextRelease(CGContextRef c)
{
    Release(c);
}

void CGContextFlush(CGContextRef)
{
}

void CGContextSaveGState(CGContextRef c)
{
    if (c != nullptr)
        c->savedStates.push_back(c->state);
}

void CGContextRestoreGState(CGContextRef c)
{
    if (c == nullptr || c->savedStates.empty())
        return;
    c->state = c->savedStates.back();
    c->savedStates.pop_back();
}

void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty)
{
    if (c != nullptr)
        c->state.ctm = Compose(Affine{1, 0, 0, 1, tx, ty}, c->state.ctm);
}

void CGContextRotateCTM(CGContextRef c, CGFloat angle)
{
    if (c == nullptr)
        return;
    const double cosine = SnapUnit(std::cos(double(angle)));
    const double sine = SnapUnit(std::sin(double(angle)));
    c->state.ctm = Compose(Affine{cosine, sine, -sine, cosine, 0, 0}, c->state.ctm);
}

void CGContextClearRect(CGContextRef c, CGRect rect)
{
    if (!CanDraw(c))
        return;
    Box box;
    PixmanImage coverage = Coverage(c, RectQuad(UserToDevice(c), rect), box);
    if (coverage == nullptr)
        return;
    pixman_image_composite32(PIXMAN_OP_OUT_REVERSE, coverage.get(), nullptr, c->target.get(), 0,
                             0, 0, 0, box.x0, box.y0, box.x1 - box.x0, box.y1 - box.y0);
    c->changed.Add(box);
}

void CGContextSetRGBFillColor(CGContextRef c, CGFloat red, CGFloat green, CGFloat blue,
                              CGFloat alpha)
{
    if (c == nullptr)
        return;
    c->state.fill[0] = Clamp01(red);
    c->state.fill[1] = Clamp01(green);
    c->state.fill[2] = Clamp01(blue);
    c->state.fill[3] = Clamp01(alpha);
}

void CGContextFillRect(CGContextRef c, CGRect rect)
{
    if (!CanDraw(c))
        return;
    const std::vector<DevicePoint> quad = RectQuad(UserToDevice(c), rect);
    Box box;
    PixmanImage coverage = Coverage(c, quad, box);
    if (coverage == nullptr)
        return;
    const double* f = c->state.fill;
    PixmanImage source = NewSolid(f[0] * f[3], f[1] * f[3], f[2] * f[3], f[3]);
    if (source != nullptr)
        Paint(c, source.get(), box, coverage.get());
}

void CGContextSetAlpha(CGContextRef c, CGFloat alpha)
{
    if (c != nullptr)
        c->state.alpha = Clamp01(alpha);
}

void CGContextSetBlendMode(CGContextRef c, CGBlendMode mode)
{
    if (c != nullptr)
        c->state.blendMode = mode;
}

void CGContextDrawImage(CGContextRef c, CGRect rect, CGImageRef image)
{
    if (!CanDraw(c) || image == nullptr || rect.size.width == 0 || rect.size.height == 0)
        return;
    const Affine userToDevice = UserToDevice(c);
    const std::vector<DevicePoint> quad = RectQuad(userToDevice, rect);
    Box box;
    PixmanImage coverage = Coverage(c, quad, box);
    if (coverage == nullptr)
        return;
    // Image pixels (y down from the top row) to user space, then to device.
    const Affine imageToUser{double(rect.size.width) / double(image->width), 0, 0,
                             -double(rect.size.height) / double(image->height),
                             double(rect.origin.x),
                             double(rect.origin.y) + double(rect.size.height)};
    Affine deviceToImage;
    if (!Invert(Compose(imageToUser, userToDevice), deviceToImage))
        return;
    const Affine localToImage = Compose(Affine{1, 0, 0, 1, double(box.x0), double(box.y0)},
                                        deviceToImage);
    PixmanImage source = WrapImage(image);
    if (source == nullptr || !SetImageSampling(source.get(), localToImage))
        return;
    Paint(c, source.get(), box, coverage.get());
}

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height,
                                   size_t bitsPerComponent, size_t bytesPerRow, CGColorSpaceRef,
                                   CGBitmapInfo bitmapInfo)
{
    pixman_format_code_t format;
    if (bitsPerComponent != 8 || !BitmapFormat(bitmapInfo, format))
        return nullptr;
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        return nullptr;
    if (bytesPerRow % 4 != 0 || bytesPerRow > size_t(INT32_MAX))
        return nullptr;
    if (data != nullptr &&
        (bytesPerRow / 4 < width || reinterpret_cast<uintptr_t>(data) % 4 != 0))
        return nullptr;
    if (data == nullptr && bytesPerRow != 0 && bytesPerRow / 4 < width)
        return nullptr;
    return NewContext(data, width, height, bytesPerRow, format);
}

CGImageRef CGBitmapContextCreateImage(CGContextRef c)
{
    if (!CanDraw(c))
        return nullptr;
    CGImageRef image = NewImage(c->width, c->height);
    if (image == nullptr)
        return nullptr;
    PixmanImage copy = WrapImage(image);
    if (copy == nullptr) {
        CGImageRelease(image);
        return nullptr;
    }
    pixman_image_composite32(PIXMAN_OP_SRC, c->target.get(), nullptr, copy.get(), 0, 0, 0, 0, 0,
                             0, int(c->width), int(c->height));
    return image;
}

OSStatus QDBeginCGContext(CGrafPtr inPort, CGContextRef* outContext)
{
    if (outContext == nullptr)
        return paramErr;
    *outContext = nullptr;
    if (inPort == nullptr || inPort->magic != kPortMagic || inPort->pixMap.baseAddr == nullptr)
        return paramErr;
    const PixMap& pixels = inPort->pixMap;
    const long width = long(pixels.bounds.right) - pixels.bounds.left;
    const long height = long(pixels.bounds.bottom) - pixels.bounds.top;
    if (width <= 0 || height <= 0 || size_t(width) > kMaxSide || size_t(height) > kMaxSide ||
        pixels.rowBytes < width * 4 || pixels.rowBytes % 4 != 0 ||
        reinterpret_cast<uintptr_t>(pixels.baseAddr) % 4 != 0)
        return paramErr;
    CGContextRef c =
        NewContext(pixels.baseAddr, size_t(width), size_t(height), size_t(pixels.rowBytes),
                   kBytesARGB);
    if (c == nullptr)
        return memFullErr;
    c->port = inPort;
    *outContext = c;
    return noErr;
}

OSStatus QDEndCGContext(CGrafPtr inPort, CGContextRef* inoutContext)
{
    if (inoutContext == nullptr || *inoutContext == nullptr)
        return paramErr;
    CGContextRef c = *inoutContext;
    if (c->port != inPort)
        return paramErr;
    if (!c->changed.Empty() && inPort->magic == kPortMagic && inPort->pixelsChanged != nullptr) {
        const Rect& bounds = inPort->pixMap.bounds;
        const Rect changed{SInt16(bounds.top + c->changed.y0), SInt16(bounds.left + c->changed.x0),
                           SInt16(bounds.top + c->changed.y1),
                           SInt16(bounds.left + c->changed.x1)};
        inPort->pixelsChanged(inPort, &changed);
    }
    // A context that someone still holds no longer reaches the port's pixels.
    c->target.reset();
    c->data = nullptr;
    c->port = nullptr;
    CGContextRelease(c);
    *inoutContext = nullptr;
    return noErr;
}
