#include "ImageIO.h"

#include "MacMemory.h"

#include <QImage>
#include <QImageReader>
#include <QString>

#include <vector>

struct OpaqueCGImageSource : TBCFObject {
    QString path;
    size_t count = 0;
};

CGImageSourceRef CGImageSourceCreateWithURL(CFURLRef url, CFDictionaryRef)
{
    const std::string path = TBCFURLGetPath(url);
    if (path.empty()) return nullptr;
    QImageReader reader(QString::fromStdString(path));
    if (!reader.canRead()) return nullptr;
    auto* source = TBNew<OpaqueCGImageSource>();
    if (source == nullptr) return nullptr;
    source->path = QString::fromStdString(path);
    source->count = size_t(std::max(1, reader.imageCount()));
    return source;
}

size_t CGImageSourceGetCount(CGImageSourceRef isrc)
{
    return isrc != nullptr ? isrc->count : 0;
}

CGImageRef CGImageSourceCreateImageAtIndex(CGImageSourceRef isrc, size_t index, CFDictionaryRef)
{
    if (isrc == nullptr || index >= isrc->count) return nullptr;
    QImageReader reader(isrc->path);
    if (index > 0 && !reader.jumpToImage(int(index))) return nullptr;
    const QImage decoded = reader.read();
    if (decoded.isNull()) return nullptr;
    const QImage image = decoded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const size_t width = size_t(image.width());
    const size_t height = size_t(image.height());
    std::vector<UInt8> pixels(width * height * 4);
    for (size_t y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(int(y)));
        UInt8* out = pixels.data() + y * width * 4;
        for (size_t x = 0; x < width; ++x, out += 4) {
            out[0] = UInt8(qAlpha(row[x]));
            out[1] = UInt8(qRed(row[x]));
            out[2] = UInt8(qGreen(row[x]));
            out[3] = UInt8(qBlue(row[x]));
        }
    }
    return TBCGImageCreateARGB(width, height, pixels.data(), width * 4);
}
