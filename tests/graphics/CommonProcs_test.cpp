#include "graphics/CommonProcs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "MacMemory.h"

namespace {

void ExpectRect(const Rect& r, int top, int left, int bottom, int right)
{
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.bottom, bottom);
    EXPECT_EQ(r.right, right);
}

pixRec PixelAt(GWorldPtr gw, int x, int y)
{
    PixMapHandle pm = GetGWorldPixMap(gw);
    return *reinterpret_cast<pixRec*>(GetPixBaseAddr(pm) + std::ptrdiff_t(y) * GetPixRowBytes(pm) +
                                      x * 4);
}

bool SameColor(const pixRec& p, UInt8 r, UInt8 g, UInt8 b)
{
    return p.red == r && p.green == g && p.blue == b;
}

bool SameRGB(const RGBColor& c, UInt16 r, UInt16 g, UInt16 b)
{
    return c.red == r && c.green == g && c.blue == b;
}

}  // namespace

TEST(CommonProcsGeometry, TruncToCoordTruncatesAndSaturates)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(TruncToCoord(2.9), 2);
    EXPECT_EQ(TruncToCoord(-2.9), -2);
    EXPECT_EQ(TruncToCoord(std::nan("")), 0);
    EXPECT_EQ(TruncToCoord(1e300), 32767);
    EXPECT_EQ(TruncToCoord(-inf), -32768);
    EXPECT_EQ(TruncToCoord(32767.9), 32767);
    EXPECT_EQ(TruncToCoord(-32768.9), -32768);
    EXPECT_EQ(TruncToCoord(5000.7, 30000), 32767);
    EXPECT_EQ(TruncToCoord(-5000.0, -30000), -32768);
    EXPECT_EQ(TruncToCoord(-0.5, 100), 100);
    EXPECT_EQ(TruncToCoord(std::nan(""), 100), 100);
}

TEST(CommonProcsBuffers, AllocatedBuffersStartAtTheOriginLockedAt32Bits)
{
    GWorldPtr gw = AllocateRectGWorld(Rect{10, 20, 110, 220});
    ASSERT_NE(gw, nullptr);
    ExpectRect(GetPortRect(gw), 0, 0, 100, 200);
    ExpectRect(CarbonGetPortBounds(gw), 0, 0, 100, 200);
    EXPECT_EQ(GetPixDepth(GetGWorldPixMap(gw)), 32);
    EXPECT_NE(GetPixelsState(GetGWorldPixMap(gw)) & pixelsLocked, 0u);
    const BitMap bits = CarbonGetPortBitMapForCopyBits(gw);
    EXPECT_EQ(bits.baseAddr, GetPixBaseAddr(GetGWorldPixMap(gw)));
    EXPECT_EQ(bits.rowBytes, GetPixRowBytes(GetGWorldPixMap(gw)));
    DisposeGWorld(gw);

    gw = AllocateGWorld(30, 20);
    ASSERT_NE(gw, nullptr);
    ExpectRect(GetPortRect(gw), 0, 0, 20, 30);
    DisposeGWorld(gw);
}

TEST(CommonProcsBuffers, AllocationFailureGivesNil)
{
    TBFailAllocationAfter(1);
    EXPECT_EQ(AllocateGWorld(10, 10), nullptr);
    TBFailAllocationAfter(0);
    EXPECT_EQ(AllocateRectGWorld(Rect{5, 5, 5, 9}), nullptr) << "empty bounds";
    EXPECT_EQ(MakeGWorldClone(nullptr), nullptr);
}

TEST(CommonProcsBuffers, ClearGWPaintsTheBufferAndRestoresTheCurrentPort)
{
    GWorldPtr current = AllocateGWorld(4, 4);
    GWorldPtr gw = AllocateGWorld(5, 3);
    SetGWorld(current, nullptr);
    const RGBColor pink{0xFF00, 0x8000, 0x4000};
    RGBForeColor(&pink);

    ClearGW(gw, RGBColor{0x1200, 0x3400, 0x5600});
    EXPECT_TRUE(SameColor(PixelAt(gw, 0, 0), 0x12, 0x34, 0x56));
    EXPECT_TRUE(SameColor(PixelAt(gw, 4, 2), 0x12, 0x34, 0x56));
    CGrafPtr port;
    GDHandle device;
    GetGWorld(&port, &device);
    EXPECT_EQ(port, current);
    RGBColor fore;
    GetForeColor(&fore);
    EXPECT_TRUE(SameRGB(fore, 0xFF00, 0x8000, 0x4000));
    SetGWorld(gw, nullptr);
    GetForeColor(&fore);
    EXPECT_TRUE(SameRGB(fore, 0, 0, 0)) << "the buffer's foreground is black afterwards";

    SetGWorld(current, nullptr);
    ClearGW(nullptr, RGBColor{1, 2, 3});
    GetForeColor(&fore);
    EXPECT_TRUE(SameRGB(fore, 0xFF00, 0x8000, 0x4000));
    DisposeGWorld(gw);
    DisposeGWorld(current);
}

TEST(CommonProcsBuffers, CopiesScaleTheWholeSourceIntoTheirTarget)
{
    GWorldPtr source = AllocateGWorld(2, 2);
    ClearGW(source, RGBColor{0xFF00, 0, 0x8000});
    GWorldPtr target = AllocateGWorld(8, 6);
    ClearGW(target, RGBColor{0, 0, 0});

    Source2Target(source, target);
    EXPECT_TRUE(SameColor(PixelAt(target, 0, 0), 0xFF, 0, 0x80));
    EXPECT_TRUE(SameColor(PixelAt(target, 7, 5), 0xFF, 0, 0x80));

    ClearGW(target, RGBColor{0, 0, 0});
    DrawGWinGW(source, target, Rect{2, 4, 4, 6});
    EXPECT_TRUE(SameColor(PixelAt(target, 4, 2), 0xFF, 0, 0x80));
    EXPECT_TRUE(SameColor(PixelAt(target, 5, 3), 0xFF, 0, 0x80));
    EXPECT_TRUE(SameColor(PixelAt(target, 3, 2), 0, 0, 0));
    EXPECT_TRUE(SameColor(PixelAt(target, 6, 3), 0, 0, 0));

    GWorldPtr clone = MakeGWorldClone(target);
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(GetPixBaseAddr(GetGWorldPixMap(clone)), GetPixBaseAddr(GetGWorldPixMap(target)));
    ExpectRect(GetPortRect(clone), 0, 0, 6, 8);
    EXPECT_TRUE(SameColor(PixelAt(clone, 4, 2), 0xFF, 0, 0x80));
    EXPECT_TRUE(SameColor(PixelAt(clone, 7, 5), 0, 0, 0));

    Source2Target(nullptr, target);
    Source2Target(source, nullptr);
    DrawPictureInGW(nullptr, nullptr, Rect{0, 0, 1, 1});
    DrawPictureInGW(target, nullptr, Rect{0, 0, 1, 1});
    DisposeGWorld(clone);
    DisposeGWorld(target);
    DisposeGWorld(source);
}

TEST(CommonProcsGeometry, DimsAndVerifyRectWorkBeyond16Bits)
{
    SInt32 wid;
    SInt32 hig;
    GetDims(Rect{-30000, -30000, 30000, 30000}, wid, hig);
    EXPECT_EQ(wid, 60000);
    EXPECT_EQ(hig, 60000);

    Rect r{10, 20, 5, 15};
    VerifyRect(r);
    ExpectRect(r, 5, 15, 10, 20);
    VerifyRect(r);
    ExpectRect(r, 5, 15, 10, 20);
}

TEST(CommonProcsGeometry, KeepPropsMovesOnlyTheFarEdge)
{
    const Rect original{0, 0, 100, 200};  // 200 wide, 100 high
    ExpectRect(KeepPropsWithFixedHorizontal(original, Rect{0, 0, 50, 400}), 0, 0, 200, 400);
    ExpectRect(KeepPropsWithFixedVertical(original, Rect{0, 0, 50, 400}), 0, 0, 50, 100);
    ExpectRect(KeepPropsWithFixedHorizontal(original, Rect{7, 3, 9, 403}), 7, 3, 207, 403);
    ExpectRect(KeepPropsWithFixedVertical(original, Rect{7, 3, 57, 403}), 7, 3, 57, 103);

    // Half a pixel rounds up: 1 × 33.4 gives 33, 1 × 33.5 gives 34.
    EXPECT_EQ(KeepPropsWithFixedVertical(Rect{0, 0, 5, 167}, Rect{0, 0, 1, 1}).right, 33);
    EXPECT_EQ(KeepPropsWithFixedVertical(Rect{0, 0, 2, 67}, Rect{0, 0, 1, 1}).right, 34);
}

TEST(CommonProcsGeometry, KeepPropsLeavesDegenerateOriginalsAlone)
{
    const Rect newSize{1, 2, 30, 40};
    ExpectRect(KeepPropsWithFixedHorizontal(Rect{0, 5, 10, 5}, newSize), 1, 2, 30, 40);
    ExpectRect(KeepPropsWithFixedVertical(Rect{5, 0, 5, 10}, newSize), 1, 2, 30, 40);
    // Zero height with a width would need an infinite ratio.
    ExpectRect(KeepPropsWithFixedHorizontal(Rect{5, 0, 5, 10}, newSize), 1, 2, 30, 40);
    // A very flat original makes the far edge saturate instead of wrapping.
    EXPECT_EQ(KeepPropsWithFixedVertical(Rect{0, 0, 1, 30000}, Rect{0, 30000, 2, 30001}).right,
              32767);
    EXPECT_EQ(KeepPropsWithFixedHorizontal(Rect{0, 0, 30000, 1}, Rect{10000, 0, 10001, 2}).bottom,
              32767);
}

TEST(CommonProcsGeometry, ProportionalFitKeepsTheSideChosenByShape)
{
    // Both wider than tall: the width is kept and the height overshoots.
    ExpectRect(CalcProportionalRectForFrame(Rect{0, 0, 350, 400}, Rect{0, 0, 300, 400}), 0, 0,
               350, 400);
    ExpectRect(CalcProportionalRectForFrame(Rect{0, 0, 50, 50}, Rect{10, 10, 90, 90}), 0, 0, 80,
               80);
    // A tall image in a wide frame keeps the frame's height.
    ExpectRect(CalcProportionalRectForFrame(Rect{0, 0, 200, 100}, Rect{0, 0, 300, 400}), 0, 0,
               300, 150);
    // A wide image in a tall frame keeps the frame's width.
    ExpectRect(CalcProportionalRectForFrame(Rect{0, 0, 100, 200}, Rect{0, 0, 400, 300}), 0, 0,
               150, 300);
    // An empty image leaves the frame's size.
    ExpectRect(CalcProportionalRectForFrame(Rect{0, 0, 0, 0}, Rect{0, 0, 30, 40}), 0, 0, 30, 40);
}

TEST(CommonProcsGeometry, CenterRectInRectUsesHalfWidthsCutTowardZero)
{
    Rect r{0, 0, 10, 10};
    CenterRectInRect(r, Rect{0, 0, 10, 101});
    ExpectRect(r, 0, 45, 10, 55);
    CenterRectInRect(r, Rect{0, 0, 10, 101});
    ExpectRect(r, 0, 45, 10, 55);

    Rect odd{100, 100, 103, 103};
    CenterRectInRect(odd, Rect{-20, -20, 20, 20});
    ExpectRect(odd, -1, -1, 2, 2);
}

TEST(CommonProcsColours, SmallConversionsKeepBitPatterns)
{
    EXPECT_EQ(Sgn(0.0), 1);
    EXPECT_EQ(Sgn(-0.0001), -1);
    EXPECT_EQ(Sgn(3.0), 1);
    EXPECT_EQ(CarbonHiWord(SInt32(0x8001FFFF)), -32767);
    EXPECT_EQ(CarbonLoWord(SInt32(0x8001FFFF)), -1);
    EXPECT_EQ(CarbonHiWord(0x00017FFF), 1);
    EXPECT_EQ(CarbonLoWord(0x00017FFF), 32767);
    EXPECT_TRUE(SameRGB(SetRGBColor(-1, 0, 256), 65535, 0, 256));
}

TEST(CommonProcsColours, PackedColoursKeepTheHighByteOfEachChannel)
{
    EXPECT_TRUE(SameRGB(Longint2RGBColor(0xFF8001), 65280, 32768, 256));
    EXPECT_EQ(RGBColor2Longint(RGBColor{65535, 256, 255}), 0xFF0100);

    const pixRec p = Longint2PixRec(SInt32(0x7F123456));
    EXPECT_EQ(p.alpha, 0);
    EXPECT_EQ(p.red, 0x12);
    EXPECT_EQ(p.green, 0x34);
    EXPECT_EQ(p.blue, 0x56);
    EXPECT_EQ(PixRec2Longint(pixRec{0xFF, 0x12, 0x34, 0x56}), 0x123456) << "alpha ignored";
    EXPECT_EQ(PixRec2Longint(Longint2PixRec(SInt32(0xFFFFFFFF))), 0xFFFFFF);

    // A colour through a colour box loses each channel's low byte.
    const RGBColor through = Longint2RGBColor(RGBColor2Longint(RGBColor{0x12AB, 0xFFFF, 0x0001}));
    EXPECT_TRUE(SameRGB(through, 0x1200, 0xFF00, 0x0000));
    for (SInt32 packed : {0, 0x010203, 0xFFFFFF, 0x80007F})
        EXPECT_EQ(RGBColor2Longint(Longint2RGBColor(packed)), packed);
}

TEST(CommonProcsBuffers, DrawPictureInGWDrawsIntoTheBufferAndRestoresThePort)
{
    GWorldPtr painted = AllocateGWorld(2, 2);
    ClearGW(painted, RGBColor{0x2000, 0x4000, 0x6000});
    GWorldPtr scratch = AllocateGWorld(2, 2);
    GWorldPtr current = AllocateGWorld(1, 1);

    SetGWorld(scratch, nullptr);
    const OpenCPicParams header{Rect{0, 0, 2, 2}, 72 << 16, 72 << 16, -2, 0, 0};
    PicHandle picture = OpenCPicture(&header);
    ASSERT_NE(picture, nullptr);
    Source2Target(painted, scratch);
    ClosePicture();

    GWorldPtr target = AllocateGWorld(6, 6);
    ClearGW(target, RGBColor{0, 0, 0});
    SetGWorld(current, nullptr);
    DrawPictureInGW(target, picture, Rect{1, 1, 5, 5});
    EXPECT_TRUE(SameColor(PixelAt(target, 1, 1), 0x20, 0x40, 0x60));
    EXPECT_TRUE(SameColor(PixelAt(target, 4, 4), 0x20, 0x40, 0x60));
    EXPECT_TRUE(SameColor(PixelAt(target, 5, 5), 0, 0, 0));
    CGrafPtr port;
    GDHandle device;
    GetGWorld(&port, &device);
    EXPECT_EQ(port, current);

    KillPicture(picture);
    for (GWorldPtr gw : {painted, scratch, current, target})
        DisposeGWorld(gw);
}

// ---- Windows -----------------------------------------------------------------

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "CFBundle.h"
#include "IBCarbonRuntime.h"
#include "MacWindows.h"

namespace {

// Window "w" of nib "n" in a bundle of a fresh temporary folder.
class NibWindow {
public:
    NibWindow()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::string pattern = (std::filesystem::temp_directory_path() / "window-XXXXXX").string();
        fRoot = mkdtemp(pattern.data());
        const auto contents = fRoot / "W.bundle" / "Contents";
        std::filesystem::create_directories(contents / "Resources" / "n.nib");
        std::ofstream(contents / "Info.plist")
            << "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
               "<string>com.brimtone.test.window</string></dict></plist>\n";
        std::ofstream(contents / "Resources" / "n.nib" / "w.ui")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\"><class>w</class>"
               "<widget class=\"QDialog\" name=\"w\"/></ui>\n";
        CFURLRef url = TBCFURLCreateWithPath((fRoot / "W.bundle").string(), true);
        CFBundleRef bundle = CFBundleCreate(nullptr, url);
        CFRelease(url);
        IBNibRef nib = nullptr;
        if (CreateNibReferenceWithCFBundle(bundle, CFSTR("n"), &nib) == noErr) {
            CreateWindowFromNib(nib, CFSTR("w"), &fWindow);
            DisposeNibReference(nib);
        }
    }
    ~NibWindow()
    {
        if (fWindow != nullptr)
            DisposeWindow(fWindow);
        std::filesystem::remove_all(fRoot);
    }
    WindowRef Window() const { return fWindow; }

private:
    std::filesystem::path fRoot;
    WindowRef fWindow = nullptr;
};

Rect Structure(WindowRef window)
{
    Rect bounds{};
    GetWindowBounds(window, kWindowStructureRgn, &bounds);
    return bounds;
}

TEST(CommonProcsWindows, MoveWindowToRightEdgeMovesOnlySideways)
{
    NibWindow nib;
    WindowRef window = nib.Window();
    ASSERT_NE(window, nullptr);
    const Rect start{50, 100, 250, 400};
    ASSERT_EQ(SetWindowBounds(window, kWindowStructureRgn, &start), noErr);
    ASSERT_EQ(Structure(window).right, 400);

    MoveWindowToRightEdge(window, Rect{0, 0, 600, 1000});
    Rect moved = Structure(window);
    EXPECT_EQ(moved.right, 1000);
    EXPECT_EQ(moved.left, 700);
    EXPECT_EQ(moved.top, 50);
    EXPECT_EQ(moved.bottom, 250);

    // Only the right edge of the bounds counts; moving left works alike.
    MoveWindowToRightEdge(window, Rect{-30, 500, -10, 350});
    moved = Structure(window);
    EXPECT_EQ(moved.right, 350);
    EXPECT_EQ(moved.left, 50);
    EXPECT_EQ(moved.top, 50);
}

}  // namespace
