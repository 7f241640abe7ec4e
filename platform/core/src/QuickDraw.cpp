// QuickDraw: ports and graphics worlds, the current port, pixel maps,
// colours, pen and the simple drawing primitives, text hooks.
//
// Every coordinate computation runs in int and is cut back to 16 bits only
// when stored, so extreme rectangles never overflow.

#include "QDShared.h"

#include "MacErrors.h"
#include "MacMemory.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr Fixed k72Dpi = Fixed(72) << 16;
constexpr Rect kWideOpen = {-32768, -32768, 32767, 32767};

struct QDState {
    GrafPtr current = nullptr;
    GDHandle device = nullptr;
    TBTextHooks textHooks{};
    std::vector<GrafPtr> livePorts;
    GrafPtr recordingPort = nullptr;
    PicHandle recordingPicture = nullptr;
};

QDState& State()
{
    static QDState state;
    return state;
}

bool LivePort(GrafPtr port)
{
    return port != nullptr && port->magic == kPortMagic;
}

void SyncBitMap(GrafPtr port)
{
    port->bitMap.baseAddr = port->pixMap.baseAddr;
    port->bitMap.rowBytes = port->pixMap.rowBytes;
    port->bitMap.bounds = port->pixMap.bounds;
}

void InitPort(GrafPtr port, Ptr baseAddr, SInt32 rowBytes, const Rect& bounds)
{
    const IRect area = ToIRect(bounds);
    port->magic = kPortMagic;
    port->pixMap = PixMap{baseAddr, rowBytes, bounds, 32, 3, 8, k72Dpi, k72Dpi, 0};
    port->pixMapPtr = &port->pixMap;
    SyncBitMap(port);
    port->foreColor = RGBColor{0, 0, 0};
    port->backColor = RGBColor{0xFFFF, 0xFFFF, 0xFFFF};
    port->penMode = patCopy;
    port->penLoc = Point{0, 0};
    port->penSize = Point{1, 1};
    port->clipRect = kWideOpen;
    port->textFont = 0;
    port->textSize = 0;
    port->textFace = 0;
    port->pixelsChanged = nullptr;
    port->owner = nullptr;
    port->pixelsWide = area.Width();
    port->pixelsHigh = area.Height();
}

// Drawing with no port set goes to this 1×1 port, so it never crashes.
GrafPtr ScreenPort()
{
    static OpaqueGrafPtr screen{};
    alignas(16) static UInt32 pixels[4] = {};
    if (screen.magic != kPortMagic) {
        const Rect bounds = {0, 0, 1, 1};
        InitPort(&screen, reinterpret_cast<Ptr>(pixels), 16, bounds);
    }
    return &screen;
}

GrafPtr CurrentPort()
{
    QDState& state = State();
    return LivePort(state.current) ? state.current : ScreenPort();
}

// False when the list of ports cannot grow; the caller disposes of the port.
bool Register(GrafPtr port)
{
    if (TBInjectedAllocationFailure())
        return false;
    try {
        State().livePorts.push_back(port);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void Unregister(GrafPtr port)
{
    QDState& state = State();
    std::erase(state.livePorts, port);
    if (state.current == port)
        state.current = nullptr;
    if (state.recordingPort == port) {
        state.recordingPort = nullptr;
        state.recordingPicture = nullptr;
    }
}

// Port bounds valid for pixels of the given geometry.
bool ValidPixels(Ptr baseAddr, SInt32 rowBytes, const Rect* bounds)
{
    if (baseAddr == nullptr || bounds == nullptr || EmptyRect(bounds))
        return false;
    const IRect area = ToIRect(*bounds);
    return rowBytes % 4 == 0 && Int64(rowBytes) >= Int64(area.Width()) * 4 &&
           reinterpret_cast<uintptr_t>(baseAddr) % 4 == 0;
}

void DisposePortRecord(GrafPtr port)
{
    if (!LivePort(port) || port == ScreenPort())
        return;
    Unregister(port);
    if (port->pixelStorage != nullptr)
        DisposePtr(static_cast<Ptr>(port->pixelStorage));
    port->magic = 0;
    DisposePtr(reinterpret_cast<Ptr>(port));
}

// ---- Painting ----

enum class PaintOp { Set, Invert, Nothing };

struct Paint {
    PaintOp op;
    UInt8 argb[4];
};

Paint SolidPaint(const RGBColor& color)
{
    return Paint{PaintOp::Set, {0xFF, UInt8(color.red >> 8), UInt8(color.green >> 8),
                                UInt8(color.blue >> 8)}};
}

// The pen is a solid black pattern, so each mode reduces to painting the
// fore colour, the back colour, inverting, or nothing.
Paint PenPaint(GrafPtr port)
{
    switch (port->penMode) {
    case patXor:
    case srcXor:
        return Paint{PaintOp::Invert, {}};
    case patBic:
    case srcBic:
    case notPatCopy:
    case notSrcCopy:
        return SolidPaint(port->backColor);
    case notPatOr:
    case notPatXor:
    case notSrcOr:
    case notSrcXor:
        return Paint{PaintOp::Nothing, {}};
    default:
        return SolidPaint(port->foreColor);
    }
}

IRect DrawingClip(GrafPtr port)
{
    return Intersect(ToIRect(port->pixMap.bounds), ToIRect(port->clipRect));
}

UInt8* PixelAddress(GrafPtr port, int x, int y)
{
    const Rect& bounds = port->pixMap.bounds;
    return reinterpret_cast<UInt8*>(port->pixMap.baseAddr) +
           std::ptrdiff_t(y - bounds.top) * port->pixMap.rowBytes +
           std::ptrdiff_t(x - bounds.left) * 4;
}

// Paints [x0, x1) of row y; the caller has clipped the span.
void PaintSpan(GrafPtr port, int y, int x0, int x1, const Paint& paint)
{
    UInt8* pixel = PixelAddress(port, x0, y);
    const int count = x1 - x0;
    if (paint.op == PaintOp::Set) {
        for (int i = 0; i < count; ++i, pixel += 4)
            std::memcpy(pixel, paint.argb, 4);
    } else if (paint.op == PaintOp::Invert) {
        for (int i = 0; i < count; ++i, pixel += 4) {
            pixel[1] = UInt8(~pixel[1]);
            pixel[2] = UInt8(~pixel[2]);
            pixel[3] = UInt8(~pixel[3]);
        }
    }
}

// Grows `changed` to include the given rectangle.
void Include(IRect& changed, const IRect& area)
{
    if (area.Empty())
        return;
    changed = changed.Empty() ? area : Union(changed, area);
}

void Announce(GrafPtr port, const IRect& changed)
{
    if (changed.Empty())
        return;
    const Rect rect = ToRect(changed);
    TBPortPixelsChanged(&port->bitMap, &rect);
}

IRect PaintArea(GrafPtr port, const IRect& area, const Paint& paint)
{
    const IRect clipped = Intersect(area, DrawingClip(port));
    if (clipped.Empty() || paint.op == PaintOp::Nothing)
        return IRect{};
    for (int y = clipped.top; y < clipped.bottom; ++y)
        PaintSpan(port, y, clipped.left, clipped.right, paint);
    return clipped;
}

void PaintRectWith(const Rect* r, bool usePen, bool erase)
{
    if (r == nullptr)
        return;
    GrafPtr port = CurrentPort();
    const Paint paint = erase ? SolidPaint(port->backColor) : usePen ? PenPaint(port)
                                                                     : Paint{PaintOp::Invert, {}};
    Announce(port, PaintArea(port, ToIRect(*r), paint));
}

}  // namespace

// ---- Shared with the other QuickDraw sources ----

GrafPtr QDCurrentPort()
{
    return CurrentPort();
}

void QDStartRecording(GrafPtr port, PicHandle picture)
{
    State().recordingPort = port;
    State().recordingPicture = picture;
}

void QDStopRecording(PicHandle picture)
{
    QDState& state = State();
    if (picture == nullptr || state.recordingPicture == picture) {
        state.recordingPort = nullptr;
        state.recordingPicture = nullptr;
    }
}

void TBPortPixelsChanged(const BitMap* bits, const Rect* changed)
{
    if (bits == nullptr || changed == nullptr || EmptyRect(changed))
        return;
    QDState& state = State();
    if (LivePort(state.recordingPort) && state.recordingPort->pixMap.baseAddr == bits->baseAddr)
        QDRecordPixels(state.recordingPort, state.recordingPicture, *changed);
    // A callback may open or close ports; walk a copy.
    const std::vector<GrafPtr> ports = state.livePorts;
    for (GrafPtr port : ports) {
        if (LivePort(port) && port->pixelsChanged != nullptr &&
            port->pixMap.baseAddr == bits->baseAddr)
            port->pixelsChanged(port, changed);
    }
}

// ---- Graphics worlds ----

QDErr NewGWorld(GWorldPtr* offscreenGWorld, SInt16 pixelDepth, const Rect* boundsRect,
                CTabHandle, GDHandle, GWorldFlags flags)
{
    auto fail = [&](QDErr err) {
        if (offscreenGWorld != nullptr)
            *offscreenGWorld = nullptr;
        return err;
    };
    if (offscreenGWorld == nullptr || (pixelDepth != 0 && pixelDepth != 32) ||
        boundsRect == nullptr || EmptyRect(boundsRect))
        return fail(paramErr);

    const IRect area = ToIRect(*boundsRect);
    constexpr Int64 kAlign = 64;
    const Int64 rowBytes = (Int64(area.Width()) * 4 + 15) / 16 * 16;
    const Int64 pixelBytes = rowBytes * area.Height() + kAlign;

    auto* port = reinterpret_cast<GrafPtr>(NewPtrClear(sizeof(OpaqueGrafPtr)));
    if (port == nullptr)
        return fail(memFullErr);
    Ptr storage = NewPtrClear(Size(pixelBytes));
    if (storage == nullptr) {
        DisposePtr(reinterpret_cast<Ptr>(port));
        return fail(memFullErr);
    }
    const uintptr_t aligned = (reinterpret_cast<uintptr_t>(storage) + kAlign - 1) &
                              ~uintptr_t(kAlign - 1);
    InitPort(port, storage + (aligned - reinterpret_cast<uintptr_t>(storage)),
             SInt32(rowBytes), *boundsRect);
    port->pixelStorage = storage;
    if (flags & pixPurge)
        port->pixMap.pixelsState |= pixelsPurgeable;
    if (!Register(port)) {
        DisposePortRecord(port);
        return fail(memFullErr);
    }
    *offscreenGWorld = port;
    return noErr;
}

QDErr NewGWorldFromPtr(GWorldPtr* offscreenGWorld, UInt32 pixelFormat, const Rect* boundsRect,
                       CTabHandle, GDHandle, GWorldFlags, Ptr newBuffer, SInt32 rowBytes)
{
    if (offscreenGWorld == nullptr)
        return paramErr;
    *offscreenGWorld = nullptr;
    if (pixelFormat != k32ARGBPixelFormat || !ValidPixels(newBuffer, rowBytes, boundsRect))
        return paramErr;
    *offscreenGWorld = TBNewPortOnPixels(newBuffer, rowBytes, boundsRect);
    if (*offscreenGWorld == nullptr)
        return memFullErr;
    return noErr;
}

void DisposeGWorld(GWorldPtr offscreenGWorld)
{
    DisposePortRecord(offscreenGWorld);
}

PixMapHandle GetGWorldPixMap(GWorldPtr offscreenGWorld)
{
    return GetPortPixMap(offscreenGWorld);
}

void GetGWorld(CGrafPtr* port, GDHandle* gdh)
{
    if (port != nullptr)
        *port = CurrentPort();
    if (gdh != nullptr)
        *gdh = State().device;
}

void SetGWorld(CGrafPtr port, GDHandle gdh)
{
    SetPort(port);
    State().device = gdh;
}

// ---- Pixel maps ----

namespace {

PixMapPtr DerefPixMap(PixMapHandle pm)
{
    return pm != nullptr ? *pm : nullptr;
}

}  // namespace

Boolean LockPixels(PixMapHandle pm)
{
    PixMapPtr map = DerefPixMap(pm);
    if (map == nullptr)
        return false;
    map->pixelsState |= pixelsLocked;
    return true;
}

GWorldFlags GetPixelsState(PixMapHandle pm)
{
    PixMapPtr map = DerefPixMap(pm);
    return map != nullptr ? map->pixelsState : 0;
}

void SetPixelsState(PixMapHandle pm, GWorldFlags state)
{
    if (PixMapPtr map = DerefPixMap(pm))
        map->pixelsState = state;
}

Ptr GetPixBaseAddr(PixMapHandle pm)
{
    PixMapPtr map = DerefPixMap(pm);
    return map != nullptr ? map->baseAddr : nullptr;
}

SInt32 GetPixRowBytes(PixMapHandle pm)
{
    PixMapPtr map = DerefPixMap(pm);
    return map != nullptr ? map->rowBytes : 0;
}

SInt16 GetPixDepth(PixMapHandle pm)
{
    PixMapPtr map = DerefPixMap(pm);
    return map != nullptr ? map->pixelSize : 0;
}

Rect* GetPixBounds(PixMapHandle pm, Rect* bounds)
{
    if (bounds == nullptr)
        return nullptr;
    PixMapPtr map = DerefPixMap(pm);
    *bounds = map != nullptr ? map->bounds : Rect{0, 0, 0, 0};
    return bounds;
}

// ---- Ports ----

void GetPort(GrafPtr* port)
{
    if (port != nullptr)
        *port = CurrentPort();
}

void SetPort(GrafPtr port)
{
    if (port == nullptr || LivePort(port))
        State().current = port;
}

Rect* GetPortBounds(CGrafPtr port, Rect* rect)
{
    if (rect == nullptr)
        return nullptr;
    *rect = LivePort(port) ? port->pixMap.bounds : Rect{0, 0, 0, 0};
    return rect;
}

const BitMap* GetPortBitMapForCopyBits(CGrafPtr port)
{
    if (!LivePort(port))
        return nullptr;
    SyncBitMap(port);
    return &port->bitMap;
}

PixMapHandle GetPortPixMap(CGrafPtr port)
{
    if (!LivePort(port))
        return nullptr;
    port->pixMapPtr = &port->pixMap;
    return &port->pixMapPtr;
}

OSStatus QDFlushPortBuffer(CGrafPtr port, RgnHandle region)
{
    if (port == nullptr)
        port = CurrentPort();
    if (!LivePort(port))
        return paramErr;
    Rect area = port->pixMap.bounds;
    if (region != nullptr) {
        Rect regionBounds;
        GetRegionBounds(region, &regionBounds);
        SectRect(&regionBounds, &port->pixMap.bounds, &area);
    }
    if (port->pixelsChanged != nullptr && !EmptyRect(&area))
        port->pixelsChanged(port, &area);
    return noErr;
}

GrafPtr TBNewPortOnPixels(Ptr baseAddr, SInt32 rowBytes, const Rect* bounds)
{
    if (!ValidPixels(baseAddr, rowBytes, bounds))
        return nullptr;
    auto* port = reinterpret_cast<GrafPtr>(NewPtrClear(sizeof(OpaqueGrafPtr)));
    if (port == nullptr)
        return nullptr;
    InitPort(port, baseAddr, rowBytes, *bounds);
    if (!Register(port)) {
        DisposePortRecord(port);
        return nullptr;
    }
    return port;
}

void TBDisposePort(GrafPtr port)
{
    DisposePortRecord(port);
}

void TBSetPortPixels(GrafPtr port, Ptr baseAddr, SInt32 rowBytes, const Rect* bounds)
{
    if (!LivePort(port) || port == ScreenPort() || !ValidPixels(baseAddr, rowBytes, bounds))
        return;
    // The new pixels belong to the caller; pixels the port owned go.
    if (port->pixelStorage != nullptr) {
        DisposePtr(static_cast<Ptr>(port->pixelStorage));
        port->pixelStorage = nullptr;
    }
    const IRect area = ToIRect(*bounds);
    port->pixMap.baseAddr = baseAddr;
    port->pixMap.rowBytes = rowBytes;
    port->pixMap.bounds = *bounds;
    port->pixelsWide = area.Width();
    port->pixelsHigh = area.Height();
    SyncBitMap(port);
}

// ---- Colours and pen ----

void RGBForeColor(const RGBColor* color)
{
    if (color != nullptr)
        CurrentPort()->foreColor = *color;
}

void RGBBackColor(const RGBColor* color)
{
    if (color != nullptr)
        CurrentPort()->backColor = *color;
}

void PenSize(SInt16 width, SInt16 height)
{
    CurrentPort()->penSize = Point{height, width};
}

void PenNormal()
{
    GrafPtr port = CurrentPort();
    port->penSize = Point{1, 1};
    port->penMode = patCopy;
}

void MoveTo(SInt16 h, SInt16 v)
{
    CurrentPort()->penLoc = Point{v, h};
}

void ClipRect(const Rect* r)
{
    if (r == nullptr)
        return;
    CurrentPort()->clipRect = EmptyRect(r) ? Rect{0, 0, 0, 0} : *r;
}

void GetClip(RgnHandle rgn)
{
    RectRgn(rgn, &CurrentPort()->clipRect);
}

// ---- Drawing ----

void PaintRect(const Rect* r)
{
    PaintRectWith(r, true, false);
}

void EraseRect(const Rect* r)
{
    PaintRectWith(r, true, true);
}

void InvertRect(const Rect* r)
{
    PaintRectWith(r, false, false);
}

void FrameRect(const Rect* r)
{
    if (r == nullptr)
        return;
    GrafPtr port = CurrentPort();
    const IRect box = ToIRect(*r);
    const int penW = port->penSize.h, penH = port->penSize.v;
    const Paint paint = PenPaint(port);
    if (box.Empty() || penW <= 0 || penH <= 0)
        return;
    // Four bands that never overlap, so inverting modes touch each pixel once.
    const int innerTop = std::min(box.top + penH, box.bottom);
    const int innerBottom = std::max(box.bottom - penH, innerTop);
    const int innerLeft = std::min(box.left + penW, box.right);
    const int innerRight = std::max(box.right - penW, innerLeft);
    IRect changed{};
    Include(changed, PaintArea(port, IRect{box.left, box.top, box.right, innerTop}, paint));
    Include(changed, PaintArea(port, IRect{box.left, innerBottom, box.right, box.bottom}, paint));
    Include(changed, PaintArea(port, IRect{box.left, innerTop, innerLeft, innerBottom}, paint));
    Include(changed, PaintArea(port, IRect{innerRight, innerTop, box.right, innerBottom}, paint));
    Announce(port, changed);
}

// ---- Text ----

void TBSetTextHooks(const TBTextHooks* hooks)
{
    State().textHooks = hooks != nullptr ? *hooks : TBTextHooks{};
}

void DrawString(ConstStr255Param s)
{
    const TBTextHooks& hooks = State().textHooks;
    if (s != nullptr && hooks.drawString != nullptr)
        hooks.drawString(CurrentPort(), s);
}

SInt16 StringWidth(ConstStr255Param s)
{
    const TBTextHooks& hooks = State().textHooks;
    if (s == nullptr || hooks.stringWidth == nullptr)
        return 0;
    return hooks.stringWidth(CurrentPort(), s);
}
