#include "ImageIO.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

TEST(ImageIOTest, ImageFilesDecodeToPremultipliedARGBPixelsAtExistingIndexesAndOthersToNothing)
{
    char pattern[] = "/tmp/imageio-XXXXXX";
    const std::filesystem::path folder = mkdtemp(pattern);
    const std::string png = (folder / "two.png").string();
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(QColor(0x12, 0x34, 0x56));
    image.setPixelColor(2, 1, QColor(255, 0, 0, 128));
    ASSERT_TRUE(image.save(QString::fromStdString(png)));

    CFURLRef url = TBCFURLCreateWithPath(png, false);
    CGImageSourceRef source = CGImageSourceCreateWithURL(url, nullptr);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 1, nullptr), nullptr);
    CGImageRef decoded = CGImageSourceCreateImageAtIndex(source, 0, nullptr);
    ASSERT_NE(decoded, nullptr);
    size_t rowBytes = 0;
    const UInt8* pixels = TBCGImageGetARGBData(decoded, &rowBytes);
    EXPECT_EQ(std::vector<int>(pixels, pixels + 4), (std::vector<int>{0xFF, 0x12, 0x34, 0x56}));
    const UInt8* last = pixels + rowBytes + 8;
    EXPECT_EQ(std::vector<int>(last, last + 4), (std::vector<int>{128, 128, 0, 0}));  // premultiplied
    CGImageRelease(decoded);
    CFRelease(source);
    CFRelease(url);

    std::ofstream(folder / "not.png") << "no image here";
    CFURLRef bad = TBCFURLCreateWithPath((folder / "not.png").string(), false);
    EXPECT_EQ(CGImageSourceCreateWithURL(bad, nullptr), nullptr);
    CFRelease(bad);
    std::filesystem::remove_all(folder);
}

}  // namespace
