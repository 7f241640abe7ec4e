#include "ImageCompression.h"

#include "MacErrors.h"
#include "UITestSupport.h"

#include <QImage>

using namespace uitest;

namespace {

namespace fs = std::filesystem;

// Red left half, blue right half, one green pixel at (1, 2).
QImage TestImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, x < width / 2 ? qRgb(200, 10, 20) : qRgb(5, 30, 220));
    image.setPixel(1, 2, qRgb(0, 255, 0));
    return image;
}

// (alpha, red, green, blue) of a 32-bit buffer's pixel.
std::array<UInt8, 4> Pixel(GWorldPtr world, int x, int y)
{
    PixMapHandle pixels = GetGWorldPixMap(world);
    const auto* p = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pixels)) + y * GetPixRowBytes(pixels) + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

class GraphicsImport : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartQt(); }
    void SetUp() override
    {
        char pattern[] = "/tmp/graphicsimport-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        mFolder = pattern;
    }
    void TearDown() override { fs::remove_all(mFolder); }
    FSSpec Spec(const std::string& name) const
    {
        FSSpec spec{};
        TBFSSpecFromPath((mFolder / name).string(), &spec);
        return spec;
    }

    fs::path mFolder;
};

TEST_F(GraphicsImport, APictureOfTheImageDrawsItsPixels)
{
    ASSERT_TRUE(TestImage(9, 6).save(QString::fromStdString((mFolder / "p.png").string())));
    const FSSpec spec = Spec("p.png");
    ComponentInstance importer = nullptr;
    ASSERT_EQ(GetGraphicsImporterForFile(&spec, &importer), noErr);
    ASSERT_NE(importer, nullptr);
    PicHandle picture = nullptr;
    ASSERT_EQ(GraphicsImportGetAsPicture(importer, &picture), noErr);
    ASSERT_NE(picture, nullptr);
    Rect frame{};
    QDGetPictureBounds(picture, &frame);
    EXPECT_EQ(frame.right, 9);
    EXPECT_EQ(frame.bottom, 6);

    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&port, &device);
    GWorldPtr world = nullptr;
    ASSERT_EQ(NewGWorld(&world, 32, &frame, nullptr, nullptr, 0), noErr);
    SetGWorld(world, nullptr);
    DrawPicture(picture, &frame);
    SetGWorld(port, device);
    EXPECT_EQ(Pixel(world, 0, 0), (std::array<UInt8, 4>{255, 200, 10, 20}));
    EXPECT_EQ(Pixel(world, 8, 5), (std::array<UInt8, 4>{255, 5, 30, 220}));
    EXPECT_EQ(Pixel(world, 1, 2), (std::array<UInt8, 4>{255, 0, 255, 0}));
    DisposeGWorld(world);
    KillPicture(picture);

    EXPECT_EQ(CloseComponent(importer), noErr);
    EXPECT_EQ(CloseComponent(importer), invalidComponentID);
}

TEST_F(GraphicsImport, OnlyReadableImagesGetAnImporter)
{
    std::ofstream(mFolder / "notes.txt") << "not an image";
    FSSpec spec = Spec("notes.txt");
    ComponentInstance importer = reinterpret_cast<ComponentInstance>(&spec);
    EXPECT_EQ(GetGraphicsImporterForFile(&spec, &importer), noCodecErr);
    EXPECT_EQ(importer, nullptr);
}

TEST_F(GraphicsImport, AFileThatBreaksAfterOpeningGivesNoPicture)
{
    ASSERT_TRUE(TestImage(4, 4).save(QString::fromStdString((mFolder / "p.png").string())));
    const FSSpec spec = Spec("p.png");
    ComponentInstance importer = nullptr;
    ASSERT_EQ(GetGraphicsImporterForFile(&spec, &importer), noErr);
    std::ofstream(mFolder / "p.png", std::ios::trunc) << "garbage";
    PicHandle picture = nullptr;
    EXPECT_NE(GraphicsImportGetAsPicture(importer, &picture), noErr);
    EXPECT_EQ(picture, nullptr);
    CGImageRef image = nullptr;
    EXPECT_NE(GraphicsImportCreateCGImage(importer, &image, 0), noErr);
    EXPECT_EQ(image, nullptr);
    CloseComponent(importer);
}

}  // namespace
