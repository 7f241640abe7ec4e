#include "ImageIO.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

TEST(ImageIOTest, ImageFilesDecodeToPremultipliedARGBPixels)
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
    EXPECT_EQ(CGImageSourceGetCount(source), 1u);
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 1, nullptr), nullptr);
    CGImageRef decoded = CGImageSourceCreateImageAtIndex(source, 0, nullptr);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(CGImageGetWidth(decoded), 3u);
    EXPECT_EQ(CGImageGetHeight(decoded), 2u);
    size_t rowBytes = 0;
    const UInt8* pixels = TBCGImageGetARGBData(decoded, &rowBytes);
    EXPECT_EQ(pixels[0], 0xFF);
    EXPECT_EQ(pixels[1], 0x12);
    EXPECT_EQ(pixels[2], 0x34);
    EXPECT_EQ(pixels[3], 0x56);
    const UInt8* last = pixels + rowBytes + 8;
    EXPECT_EQ(last[0], 128);
    EXPECT_EQ(last[1], 128);  // premultiplied
    EXPECT_EQ(last[2], 0);
    CGImageRelease(decoded);
    CFRelease(source);
    CFRelease(url);

    const std::string text = (folder / "not.png").string();
    std::ofstream(text) << "no image here";
    CFURLRef bad = TBCFURLCreateWithPath(text, false);
    EXPECT_EQ(CGImageSourceCreateWithURL(bad, nullptr), nullptr);
    CFRelease(bad);
    std::filesystem::remove_all(folder);
}

}  // namespace
