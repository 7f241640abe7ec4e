#include "ImageCompression.h"

#include "CFURL.h"
#include "ImageIO.h"
#include "MacErrors.h"
#include "MacMemory.h"

#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>

struct ComponentInstanceRecord {
    std::string path;
};

namespace {

std::set<ComponentInstance>& LiveImporters()
{
    static std::set<ComponentInstance> live;
    return live;
}

bool IsLive(ComponentInstance ci)
{
    return ci != nullptr && LiveImporters().count(ci) != 0;
}

CGImageSourceRef SourceFor(const std::string& path)
{
    CFURLRef url = TBCFURLCreateWithPath(path, false);
    if (url == nullptr)
        return nullptr;
    CGImageSourceRef source = CGImageSourceCreateWithURL(url, nullptr);
    CFRelease(url);
    return source;
}

CGImageRef FirstImage(const std::string& path)
{
    CGImageSourceRef source = SourceFor(path);
    if (source == nullptr)
        return nullptr;
    CGImageRef image =
        CGImageSourceGetCount(source) > 0 ? CGImageSourceCreateImageAtIndex(source, 0, nullptr) : nullptr;
    CFRelease(source);
    return image;
}

// Records a picture from a buffer holding the image, as an application
// would: CopyBits of the buffer onto itself while the picture is open.
PicHandle PictureOf(CGImageRef image)
{
    const Rect bounds{0, 0, SInt16(CGImageGetHeight(image)), SInt16(CGImageGetWidth(image))};
    GWorldPtr world = nullptr;
    if (NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0) != noErr || world == nullptr)
        return nullptr;
    PixMapHandle pixels = GetGWorldPixMap(world);
    LockPixels(pixels);
    size_t sourceRowBytes = 0;
    const UInt8* source = TBCGImageGetARGBData(image, &sourceRowBytes);
    UInt8* target = reinterpret_cast<UInt8*>(GetPixBaseAddr(pixels));
    const size_t targetRowBytes = size_t(GetPixRowBytes(pixels));
    const size_t rowLength = size_t(bounds.right) * 4;
    for (SInt16 y = 0; y < bounds.bottom; ++y)
        std::memcpy(target + size_t(y) * targetRowBytes, source + size_t(y) * sourceRowBytes, rowLength);

    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(world, nullptr);
    const OpenCPicParams header{bounds, (**pixels).hRes, (**pixels).vRes, -2, 0, 0};
    PicHandle picture = OpenCPicture(&header);
    if (picture != nullptr) {
        const BitMap* bits = GetPortBitMapForCopyBits(world);
        CopyBits(bits, bits, &bounds, &bounds, srcCopy, nullptr);
        ClosePicture();
    }
    SetGWorld(savedPort, savedDevice);
    DisposeGWorld(world);
    return picture;
}

}  // namespace

OSErr GetGraphicsImporterForFile(const FSSpec* theFile, ComponentInstance* gi)
{
    if (gi == nullptr)
        return paramErr;
    *gi = nullptr;
    std::string path;
    if (theFile == nullptr || !TBPathFromFSSpec(*theFile, path))
        return paramErr;
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return fnfErr;
    CGImageSourceRef source = SourceFor(path);
    if (source == nullptr)
        return noCodecErr;
    CFRelease(source);
    *gi = TBNew<ComponentInstanceRecord>(path);
    if (*gi == nullptr)
        return memFullErr;
    try {
        LiveImporters().insert(*gi);
    } catch (const std::bad_alloc&) {
        delete *gi;
        *gi = nullptr;
        return memFullErr;
    }
    return noErr;
}

ComponentResult GraphicsImportGetAsPicture(GraphicsImportComponent ci, PicHandle* picture)
{
    if (!IsLive(ci))
        return invalidComponentID;
    if (picture == nullptr)
        return paramErr;
    *picture = nullptr;
    CGImageRef image = FirstImage(ci->path);
    if (image == nullptr)
        return codecErr;
    *picture = PictureOf(image);
    CGImageRelease(image);
    return *picture != nullptr ? ComponentResult(noErr) : ComponentResult(memFullErr);
}

ComponentResult GraphicsImportCreateCGImage(GraphicsImportComponent ci, CGImageRef* imageRef, UInt32)
{
    if (!IsLive(ci))
        return invalidComponentID;
    if (imageRef == nullptr)
        return paramErr;
    *imageRef = FirstImage(ci->path);
    return *imageRef != nullptr ? ComponentResult(noErr) : ComponentResult(codecErr);
}

OSErr CloseComponent(ComponentInstance aComponentInstance)
{
    if (!IsLive(aComponentInstance))
        return invalidComponentID;
    LiveImporters().erase(aComponentInstance);
    delete aComponentInstance;
    return noErr;
}
