// Core Graphics subset on pixman: images, bitmap contexts, contexts on
// QuickDraw ports, affine drawing, fills and every blend mode.
//
// User space has its origin at the bottom-left and y growing upwards. Colour
// channels are premultiplied by alpha everywhere. Images keep their pixels as
// the bytes alpha, red, green, blue (the QuickDraw pixel order).
#pragma once

#include "MacTypes.h"
#include "QuickDraw.h"

#include <cstddef>

// The plug-in's rectangles are four 32-bit floats.
typedef float CGFloat;

struct CGPoint {
    CGFloat x;
    CGFloat y;
};
struct CGSize {
    CGFloat width;
    CGFloat height;
};
struct CGRect {
    CGPoint origin;
    CGSize size;
};
struct CGAffineTransform {
    CGFloat a, b, c, d;
    CGFloat tx, ty;
};

// CGRectMake is left to the plug-in, which defines its own.
inline CGRect TBCGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height)
{
    return CGRect{{x, y}, {width, height}};
}

typedef struct CGImage* CGImageRef;
typedef struct CGContext* CGContextRef;
typedef struct CGColorSpace* CGColorSpaceRef;
typedef struct CGColor* CGColorRef;

typedef SInt32 CGBlendMode;
enum {
    kCGBlendModeNormal = 0,
    kCGBlendModeMultiply = 1,
    kCGBlendModeScreen = 2,
    kCGBlendModeOverlay = 3,
    kCGBlendModeDarken = 4,
    kCGBlendModeLighten = 5,
    kCGBlendModeColorDodge = 6,
    kCGBlendModeColorBurn = 7,
    kCGBlendModeSoftLight = 8,
    kCGBlendModeHardLight = 9,
    kCGBlendModeDifference = 10,
    kCGBlendModeExclusion = 11,
    kCGBlendModeHue = 12,
    kCGBlendModeSaturation = 13,
    kCGBlendModeColor = 14,
    kCGBlendModeLuminosity = 15,
    kCGBlendModeClear = 16,
    kCGBlendModeCopy = 17,
    kCGBlendModeSourceIn = 18,
    kCGBlendModeSourceOut = 19,
    kCGBlendModeSourceAtop = 20,
    kCGBlendModeDestinationOver = 21,
    kCGBlendModeDestinationIn = 22,
    kCGBlendModeDestinationOut = 23,
    kCGBlendModeDestinationAtop = 24,
    kCGBlendModeXOR = 25,
    kCGBlendModePlusDarker = 26,
    kCGBlendModePlusLighter = 27,
};

typedef UInt32 CGBitmapInfo;
enum {
    kCGImageAlphaNone = 0,
    kCGImageAlphaPremultipliedLast = 1,
    kCGImageAlphaPremultipliedFirst = 2,
    kCGImageAlphaLast = 3,
    kCGImageAlphaFirst = 4,
    kCGImageAlphaNoneSkipLast = 5,
    kCGImageAlphaNoneSkipFirst = 6,
    kCGBitmapAlphaInfoMask = 0x1F,
    kCGBitmapByteOrderMask = 0x7000,
    kCGBitmapByteOrderDefault = 0 << 12,
    kCGBitmapByteOrder32Little = 2 << 12,
    kCGBitmapByteOrder32Big = 4 << 12,
};

// Affine transforms
extern TB_EXPORT const CGAffineTransform CGAffineTransformIdentity;

// Colour spaces and colours. Every space is device RGB.
TB_EXPORT CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
TB_EXPORT void CGColorSpaceRelease(CGColorSpaceRef space);
// components: red, green, blue, alpha in 0..1 (clamped). Nil for a nil space
// or nil components.
TB_EXPORT CGColorRef CGColorCreate(CGColorSpaceRef space, const CGFloat components[]);

// Images (immutable)
TB_EXPORT CGImageRef CGImageRetain(CGImageRef image);
TB_EXPORT void CGImageRelease(CGImageRef image);
TB_EXPORT size_t CGImageGetWidth(CGImageRef image);
TB_EXPORT size_t CGImageGetHeight(CGImageRef image);
TB_EXPORT CGImageRef CGImageCreateCopy(CGImageRef image);
// A new image from rows of premultiplied pixels, bytes alpha, red, green,
// blue; the pixels are copied. Nil for sizes of 0 or above 32767, for a nil
// pointer and for rowBytes below width × 4.
TB_EXPORT CGImageRef TBCGImageCreateARGB(size_t width, size_t height, const void* pixels, size_t rowBytes);
// The image's pixels in the same layout, for reading.
TB_EXPORT const UInt8* TBCGImageGetARGBData(CGImageRef image, size_t* rowBytes);

// Contexts
TB_EXPORT void CGContextRelease(CGContextRef c);
TB_EXPORT void CGContextFlush(CGContextRef c);
TB_EXPORT void CGContextSaveGState(CGContextRef c);
TB_EXPORT void CGContextRestoreGState(CGContextRef c);
TB_EXPORT void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty);
// Positive angles turn counter-clockwise in y-up user space.
TB_EXPORT void CGContextRotateCTM(CGContextRef c, CGFloat angle);
// Makes the rectangle (through the transform) fully transparent, whatever
// the alpha and blend mode.
TB_EXPORT void CGContextClearRect(CGContextRef c, CGRect rect);
TB_EXPORT void CGContextSetRGBFillColor(CGContextRef c, CGFloat red, CGFloat green, CGFloat blue,
                                        CGFloat alpha);
TB_EXPORT void CGContextFillRect(CGContextRef c, CGRect rect);
// Global opacity, 0..1, applied to fills and images.
TB_EXPORT void CGContextSetAlpha(CGContextRef c, CGFloat alpha);
// Unknown modes draw as kCGBlendModeNormal.
TB_EXPORT void CGContextSetBlendMode(CGContextRef c, CGBlendMode mode);
// The image's top row goes to the top of rect; scaled with a smoothing filter.
TB_EXPORT void CGContextDrawImage(CGContextRef c, CGRect rect, CGImageRef image);

// Bitmap contexts: 8 bits per component, 32 bits per pixel. Supported
// layouts: premultiplied alpha or skipped alpha, first or last, default
// (big-endian) or 32-bit little-endian byte order. With nil data the context
// allocates and owns zeroed pixels (bytesPerRow 0 picks a row size).
TB_EXPORT CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height,
                                             size_t bitsPerComponent, size_t bytesPerRow,
                                             CGColorSpaceRef space, CGBitmapInfo bitmapInfo);
// A snapshot: later drawing into the context leaves the image unchanged.
TB_EXPORT CGImageRef CGBitmapContextCreateImage(CGContextRef c);

// A context that draws straight into a QuickDraw port's pixels, its origin at
// the port's bottom-left corner. QDEndCGContext ends the drawing, tells a
// window port what changed, releases the context and sets *contextPtr to nil,
// so a CGContextRelease after it does nothing.
TB_EXPORT OSStatus QDBeginCGContext(CGrafPtr inPort, CGContextRef* outContext);
TB_EXPORT OSStatus QDEndCGContext(CGrafPtr inPort, CGContextRef* inoutContext);
