// QuickDraw: rectangle and point utilities, rectangular regions, and
// pictures that record the pixels drawn into a port while they are open.

#include "QDShared.h"

#include "MacErrors.h"
#include "MacMemory.h"

#include <cstring>

// ---- Rectangles and points ----

void SetRect(Rect* r, SInt16 left, SInt16 top, SInt16 right, SInt16 bottom)
{
    if (r != nullptr)
        *r = Rect{top, left, bottom, right};
}

void OffsetRect(Rect* r, SInt16 dh, SInt16 dv)
{
    if (r == nullptr)
        return;
    r->left = SInt16(r->left + dh);
    r->right = SInt16(r->right + dh);
    r->top = SInt16(r->top + dv);
    r->bottom = SInt16(r->bottom + dv);
}

void InsetRect(Rect* r, SInt16 dh, SInt16 dv)
{
    if (r == nullptr)
        return;
    const IRect inset{r->left + dh, r->top + dv, r->right - dh, r->bottom - dv};
    *r = inset.Empty() ? Rect{0, 0, 0, 0}
                       : Rect{SInt16(inset.top), SInt16(inset.left), SInt16(inset.bottom),
                              SInt16(inset.right)};
}

Boolean SectRect(const Rect* src1, const Rect* src2, Rect* dstRect)
{
    if (src1 == nullptr || src2 == nullptr || dstRect == nullptr)
        return false;
    const IRect section = Intersect(ToIRect(*src1), ToIRect(*src2));
    *dstRect = ToRect(section);
    return !section.Empty();
}

Boolean EqualRect(const Rect* rect1, const Rect* rect2)
{
    if (rect1 == nullptr || rect2 == nullptr)
        return false;
    return rect1->top == rect2->top && rect1->left == rect2->left &&
           rect1->bottom == rect2->bottom && rect1->right == rect2->right;
}

Boolean EmptyRect(const Rect* r)
{
    return r == nullptr || r->bottom <= r->top || r->right <= r->left;
}

void Pt2Rect(Point pt1, Point pt2, Rect* dstRect)
{
    if (dstRect == nullptr)
        return;
    *dstRect = Rect{std::min(pt1.v, pt2.v), std::min(pt1.h, pt2.h), std::max(pt1.v, pt2.v),
                    std::max(pt1.h, pt2.h)};
}

Boolean PtInRect(Point pt, const Rect* r)
{
    return r != nullptr && r->left <= pt.h && pt.h < r->right && r->top <= pt.v &&
           pt.v < r->bottom;
}

// ---- Regions (rectangles) ----

RgnHandle NewRgn()
{
    return reinterpret_cast<RgnHandle>(NewHandleClear(sizeof(MacRegion)));
}

void DisposeRgn(RgnHandle rgn)
{
    if (rgn != nullptr)
        DisposeHandle(reinterpret_cast<Handle>(rgn));
}

void RectRgn(RgnHandle rgn, const Rect* r)
{
    if (rgn == nullptr || *rgn == nullptr || r == nullptr)
        return;
    (*rgn)->rgnBBox = EmptyRect(r) ? Rect{0, 0, 0, 0} : *r;
}

Rect* GetRegionBounds(RgnHandle region, Rect* bounds)
{
    if (bounds == nullptr)
        return nullptr;
    *bounds = (region != nullptr && *region != nullptr) ? (*region)->rgnBBox : Rect{0, 0, 0, 0};
    return bounds;
}

// ---- Pictures ----

namespace {

UInt8* PicturePixels(PicHandle pic)
{
    return reinterpret_cast<UInt8*>(*pic) + sizeof(Picture);
}

// A picture whose record agrees with its frame and whose handle holds all
// the pixels the record claims.
bool ValidPicture(PicHandle pic)
{
    if (pic == nullptr || *pic == nullptr)
        return false;
    const Picture& record = **pic;
    const IRect frame = ToIRect(record.picFrame);
    if (frame.Empty() || record.width != frame.Width() || record.height != frame.Height() ||
        record.rowBytes % 4 != 0 || Int64(record.rowBytes) < Int64(record.width) * 4)
        return false;
    const Int64 needed = Int64(sizeof(Picture)) + Int64(record.rowBytes) * record.height;
    return GetHandleSize(reinterpret_cast<Handle>(pic)) >= needed;
}

}  // namespace

void QDRecordPixels(GrafPtr port, PicHandle picture, const Rect& changed)
{
    if (!ValidPicture(picture))
        return;
    const Picture& record = **picture;
    const IRect frame = ToIRect(record.picFrame);
    const IRect bounds = ToIRect(port->pixMap.bounds);
    const IRect area = Intersect(ToIRect(changed), Intersect(frame, bounds));
    if (area.Empty())
        return;
    const auto* portBase = reinterpret_cast<const UInt8*>(port->pixMap.baseAddr);
    UInt8* pictureBase = PicturePixels(picture);
    const size_t rowLength = size_t(area.Width()) * 4;
    for (int y = area.top; y < area.bottom; ++y) {
        const UInt8* from = portBase + std::ptrdiff_t(y - bounds.top) * port->pixMap.rowBytes +
                            std::ptrdiff_t(area.left - bounds.left) * 4;
        UInt8* to = pictureBase + std::ptrdiff_t(y - frame.top) * record.rowBytes +
                    std::ptrdiff_t(area.left - frame.left) * 4;
        std::memcpy(to, from, rowLength);
    }
}

PicHandle OpenCPicture(const OpenCPicParams* newHeader)
{
    if (newHeader == nullptr || EmptyRect(&newHeader->srcRect))
        return nullptr;
    const IRect frame = ToIRect(newHeader->srcRect);
    const Int64 rowBytes = Int64(frame.Width()) * 4;
    const Int64 total = Int64(sizeof(Picture)) + rowBytes * frame.Height();
    auto pic = reinterpret_cast<PicHandle>(NewHandleClear(Size(total)));
    if (pic == nullptr)
        return nullptr;
    **pic = Picture{newHeader->srcRect, frame.Width(), frame.Height(), SInt32(rowBytes)};
    QDStartRecording(QDCurrentPort(), pic);
    return pic;
}

void ClosePicture()
{
    QDStopRecording(nullptr);
}

void DrawPicture(PicHandle myPicture, const Rect* dstRect)
{
    if (dstRect == nullptr || !ValidPicture(myPicture))
        return;
    const Picture& record = **myPicture;
    const Rect frame = record.picFrame;
    const BitMap source = {reinterpret_cast<Ptr>(PicturePixels(myPicture)), record.rowBytes,
                           frame};
    CopyBits(&source, GetPortBitMapForCopyBits(QDCurrentPort()), &frame, dstRect, srcCopy,
             nullptr);
}

void KillPicture(PicHandle myPicture)
{
    if (myPicture == nullptr)
        return;
    QDStopRecording(myPicture);
    DisposeHandle(reinterpret_cast<Handle>(myPicture));
}

Rect* QDGetPictureBounds(PicHandle picH, Rect* outRect)
{
    if (outRect == nullptr)
        return nullptr;
    *outRect = ValidPicture(picH) ? (**picH).picFrame : Rect{0, 0, 0, 0};
    return outRect;
}
