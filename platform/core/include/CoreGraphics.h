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
CGAffineTransform CGAffineTransformMake(CGFloat a, CGFloat b, CGFloat c, CGFloat d, CGFloat tx,
                                        CGFloat ty);
extern const CGAffineTransform CGAffineTransformIdentity;
CGPoint CGPointApplyAffineTransform(CGPoint point, CGAffineTransform t);

// Colour spaces and colours. Every space is device RGB.
CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space);
void CGColorSpaceRelease(CGColorSpaceRef space);
// components: red, green, blue, alpha in 0..1 (clamped). Nil for a nil space
// or nil components.
CGColorRef CGColorCreate(CGColorSpaceRef space, const CGFloat components[]);
CGColorRef CGColorRetain(CGColorRef color);
void CGColorRelease(CGColorRef color);
const CGFloat* CGColorGetComponents(CGColorRef color);
size_t CGColorGetNumberOfComponents(CGColorRef color);

// Images (immutable)
CGImageRef CGImageRetain(CGImageRef image);
void CGImageRelease(CGImageRef image);
size_t CGImageGetWidth(CGImageRef image);
size_t CGImageGetHeight(CGImageRef image);
CGImageRef CGImageCreateCopy(CGImageRef image);
// The part of the image inside rect, addressed from its top-left corner and
// cut to the image; nil when nothing is left.
CGImageRef CGImageCreateWithImageInRect(CGImageRef image, CGRect rect);
// A new image from rows of premultiplied pixels, bytes alpha, red, green,
// blue; the pixels are copied. Nil for sizes of 0 or above 32767, for a nil
// pointer and for rowBytes below width × 4.
CGImageRef TBCGImageCreateARGB(size_t width, size_t height, const void* pixels, size_t rowBytes);
// The image's pixels in the same layout, for reading.
const UInt8* TBCGImageGetARGBData(CGImageRef image, size_t* rowBytes);

// Contexts
CGContextRef CGContextRetain(CGContextRef c);
void CGContextRelease(CGContextRef c);
void CGContextFlush(CGContextRef c);
void CGContextSaveGState(CGContextRef c);
void CGContextRestoreGState(CGContextRef c);
void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty);
// Positive angles turn counter-clockwise in y-up user space.
void CGContextRotateCTM(CGContextRef c, CGFloat angle);
void CGContextScaleCTM(CGContextRef c, CGFloat sx, CGFloat sy);
void CGContextConcatCTM(CGContextRef c, CGAffineTransform transform);
CGAffineTransform CGContextGetCTM(CGContextRef c);
// Makes the rectangle (through the transform) fully transparent, whatever
// the alpha and blend mode.
void CGContextClearRect(CGContextRef c, CGRect rect);
void CGContextSetRGBFillColor(CGContextRef c, CGFloat red, CGFloat green, CGFloat blue,
                              CGFloat alpha);
void CGContextSetFillColorWithColor(CGContextRef c, CGColorRef color);
void CGContextFillRect(CGContextRef c, CGRect rect);
// Global opacity, 0..1, applied to fills and images.
void CGContextSetAlpha(CGContextRef c, CGFloat alpha);
// Unknown modes draw as kCGBlendModeNormal.
void CGContextSetBlendMode(CGContextRef c, CGBlendMode mode);
// The image's top row goes to the top of rect; scaled with a smoothing filter.
void CGContextDrawImage(CGContextRef c, CGRect rect, CGImageRef image);

// Bitmap contexts: 8 bits per component, 32 bits per pixel. Supported
// layouts: premultiplied alpha or skipped alpha, first or last, default
// (big-endian) or 32-bit little-endian byte order. With nil data the context
// allocates and owns zeroed pixels (bytesPerRow 0 picks a row size).
CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height,
                                   size_t bitsPerComponent, size_t bytesPerRow,
                                   CGColorSpaceRef space, CGBitmapInfo bitmapInfo);
// A snapshot: later drawing into the context leaves the image unchanged.
CGImageRef CGBitmapContextCreateImage(CGContextRef c);
void* CGBitmapContextGetData(CGContextRef c);
size_t CGBitmapContextGetWidth(CGContextRef c);
size_t CGBitmapContextGetHeight(CGContextRef c);
size_t CGBitmapContextGetBytesPerRow(CGContextRef c);

// A context that draws straight into a QuickDraw port's pixels, its origin at
// the port's bottom-left corner. QDEndCGContext ends the drawing, tells a
// window port what changed, releases the context and sets *contextPtr to nil,
// so a CGContextRelease after it does nothing.
OSStatus QDBeginCGContext(CGrafPtr inPort, CGContextRef* outContext);
OSStatus QDEndCGContext(CGrafPtr inPort, CGContextRef* inoutContext);
