#include "graphics/CGglue.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/CommonProcs.h"
#include "graphics/CommonProcs.h"

namespace {

// Premultiplied alpha first, in the buffer's own A, R, G, B byte order.
constexpr CGBitmapInfo kARGBPremultiplied = 2;

// Opens a Core Graphics context on theGW's port, runs theDrawing with it and
// closes it again; nothing is drawn when no context could be opened.
template <typename Drawing>
void WithPortContext(GWorldPtr theGW, Drawing theDrawing)
{
    CGContextRef theContext = nullptr;
    QDBeginCGContext(theGW, &theContext);
    if (theContext == nullptr)
        return;
    theDrawing(theContext);
    CGContextFlush(theContext);
    QDEndCGContext(theGW, &theContext);
    if (theContext != nullptr)
        CGContextRelease(theContext);
}

SInt32 SaturateToSInt32(size_t theValue)
{
    return static_cast<SInt32>(std::min<size_t>(theValue, std::numeric_limits<SInt32>::max()));
}

SInt16 SaturateToSInt16(SInt32 theValue)
{
    return static_cast<SInt16>(std::clamp<SInt32>(theValue, 0, std::numeric_limits<SInt16>::max()));
}

}  // namespace

CGRect CGRectMake(CGFloat theX, CGFloat theY, CGFloat theWidth, CGFloat theHeight)
{
    CGRect theRect;
    theRect.origin.x = theX;
    theRect.origin.y = theY;
    theRect.size.width = theWidth;
    theRect.size.height = theHeight;
    return theRect;
}

CGRect QDRectToGCRect(Rect theRect, Rect theFrame)
{
    SInt32 portWid, portHig, rWid, rHig;
    GetDims(theFrame, portWid, portHig);
    GetDims(theRect, rWid, rHig);
    // Measured from the frame's corner on both axes, so that a port whose
    // bounds do not start at (0,0) maps its own left edge to x 0.
    const SInt32 theX = SInt32(theRect.left) - theFrame.left;
    const SInt32 theY = SInt32(theFrame.top) + portHig - theRect.bottom;
    return CGRectMake(CGFloat(theX), CGFloat(theY), CGFloat(rWid), CGFloat(rHig));
}

CGRect QDCrop2CGCrop(Rect cropRect, CGImageRef /*theImage*/)
{
    SInt32 theWid, theHig;
    GetDims(cropRect, theWid, theHig);
    return CGRectMake(CGFloat(cropRect.left), CGFloat(cropRect.top), CGFloat(theWid),
                      CGFloat(theHig));
}

void GWClearRect(GWorldPtr theGW, Rect theRect)
{
    Assert(theGW, PStr("NIL GWorld in GWClearRect"));
    const CGRect theCGFrame = QDRectToGCRect(theRect, GetPortRect(theGW));
    WithPortContext(theGW, [&](CGContextRef theContext) {
        CGContextClearRect(theContext, theCGFrame);
    });
}

void GWPaintRectWithAlpha(GWorldPtr theGW, Rect theRect, RGBColor theColor, UInt8 alpha)
{
    Assert(theGW, PStr("NIL GWorld in GWPaintRect"));
    const CGRect theCGFrame = QDRectToGCRect(theRect, GetPortRect(theGW));
    const int r = theColor.red >> 8;
    const int g = theColor.green >> 8;
    const int b = theColor.blue >> 8;
    WithPortContext(theGW, [&](CGContextRef theContext) {
        CGContextSetRGBFillColor(theContext, CGFloat(r / 255.0), CGFloat(g / 255.0),
                                 CGFloat(b / 255.0), CGFloat(alpha / 255.0));
        CGContextFillRect(theContext, theCGFrame);
    });
}

void DrawRotatedImageInCGRect(CGContextRef theContext, CGImageRef theImage, CGRect targetRect,
                              float theRadiants, Boolean clearFirst)
{
    Assert(theContext, PStr("NIL context for DrawRotatedImageInQDRect"));
    Assert(theImage, PStr("NIL Image for DrawRotatedImageInQDRect"));
    const CGFloat halfWidth = targetRect.size.width / 2.0f;
    const CGFloat halfHeight = targetRect.size.height / 2.0f;

    CGContextSaveGState(theContext);
    CGRect theOtherRect = targetRect;
    theOtherRect.origin.x = -halfWidth;
    theOtherRect.origin.y = -halfHeight;
    CGContextTranslateCTM(theContext, targetRect.origin.x + halfWidth,
                          targetRect.origin.y + halfHeight);
    CGContextRotateCTM(theContext, theRadiants);
    if (clearFirst)
        CGContextClearRect(theContext, theOtherRect);
    CGContextDrawImage(theContext, theOtherRect, theImage);
    CGContextRestoreGState(theContext);
}

void DrawCGImageInQDRect(GWorldPtr theGW, CGImageRef theImage, Rect qdTargetRect,
                         float theRadiants, Boolean clearFirst)
{
    if (theImage == nullptr)
        return;
    const CGRect theCGFrame = QDRectToGCRect(qdTargetRect, GetPortRect(theGW));
    WithPortContext(theGW, [&](CGContextRef theContext) {
        DrawRotatedImageInCGRect(theContext, theImage, theCGFrame, theRadiants, clearFirst);
    });
}

void DrawCGImageInQDRectWithAlpha(GWorldPtr theGW, CGImageRef theImage, Rect qdTargetRect,
                                  float theRadiants, Boolean clearFirst, double alpha,
                                  SInt16 blendMode)
{
    if (theImage == nullptr)
        return;
    const CGRect theCGFrame = QDRectToGCRect(qdTargetRect, GetPortRect(theGW));
    WithPortContext(theGW, [&](CGContextRef theContext) {
        // Opacity above 1 means fully opaque; the clamp also keeps the
        // conversion to float in range.
        if (alpha >= 0)
            CGContextSetAlpha(theContext, CGFloat(std::min(alpha, 1.0)));
        CGContextSetBlendMode(theContext, static_cast<CGBlendMode>(blendMode));
        DrawRotatedImageInCGRect(theContext, theImage, theCGFrame, theRadiants, clearFirst);
    });
}

Rect CalcProportionalImageForFrame(CGImageRef theImage, Rect theFrame)
{
    if (theImage == nullptr)
        return Rect{0, 0, 0, 0};
    return CalcProportionalRectForFrame(GetImageRect(theImage), theFrame);
}

CGColorRef RGBColor2CGColorRef(RGBColor theColor, SInt16 alpha, CGColorSpaceRef theColorSpace)
{
    Assert(theColorSpace,
           PStr("NIL ColorSpace -- Color Space for allocation in RGBColor2CGColorRef"));
    const CGFloat theComponents[4] = {
        CGFloat(theColor.red / 65535.0),
        CGFloat(theColor.green / 65535.0),
        CGFloat(theColor.blue / 65535.0),
        CGFloat(std::clamp<SInt16>(alpha, 0, 255) / 255.0),
    };
    CGColorRef theCGColor = CGColorCreate(theColorSpace, theComponents);
    Assert(theCGColor,
           PStr("NIL Color returned -- CGColorCreate returned NIL color in RGBColor2CGColorRef"));
    return theCGColor;
}

CGImageRef GWorld2CGImage(GWorldPtr theGW)
{
    if (theGW == nullptr)
        return nullptr;
    PixMapHandle thePixMap = GetGWorldPixMap(theGW);
    Ptr theBase = GetPixBaseAddr(thePixMap);
    const SInt32 theRowBytes = GetPixRowBytes(thePixMap);
    SInt32 wid, hig;
    GetDims(GetPortRect(theGW), wid, hig);

    CGColorSpaceRef theColorSpace = CGColorSpaceCreateDeviceRGB();
    CGContextRef theContext =
        CGBitmapContextCreate(theBase, size_t(std::max(wid, 0)), size_t(std::max(hig, 0)), 8,
                              size_t(std::max(theRowBytes, 0)), theColorSpace, kARGBPremultiplied);
    Assert(theContext, PStr("Failed to create s CGContext on GWorld2CGImage"));
    CGColorSpaceRelease(theColorSpace);
    CGImageRef theImage = CGBitmapContextCreateImage(theContext);
    CGContextRelease(theContext);
    return theImage;
}

void GetImageDims(CGImageRef theImage, SInt32& wid, SInt32& hig)
{
    wid = SaturateToSInt32(CGImageGetWidth(theImage));
    hig = SaturateToSInt32(CGImageGetHeight(theImage));
}

Rect GetImageRect(CGImageRef theImage)
{
    if (theImage == nullptr)
        return Rect{0, 0, 0, 0};
    SInt32 wid, hig;
    GetImageDims(theImage, wid, hig);
    return Rect{0, 0, SaturateToSInt16(hig), SaturateToSInt16(wid)};
}
