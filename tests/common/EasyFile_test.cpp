#include "common/EasyFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "MacErrors.h"
#include "common/CommonProcs.h"
#include "graphics/CommonProcs.h"
#include "platform/ui/UITestSupport.h"

#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QTimer>

#include <array>
#include <cstdlib>

#include "MacMemory.h"

namespace {

namespace fs = std::filesystem;

class EasyFileOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "easyfile-XXXXXX").string();
        fFolder = mkdtemp(pattern.data());
        ASSERT_EQ(TBFSSpecFromPath((fFolder / "out.txt").string(), &fSpec), fnfErr);
    }
    void TearDown() override { fs::remove_all(fFolder); }
    std::string Contents() const
    {
        std::ifstream in(fFolder / "out.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path fFolder;
    FSSpec fSpec{};
};

TEST_F(EasyFileOutput, LinesEndInACarriageReturnAndAFullLineLosesItsLastCharacter)
{
    SInt16 ref = 0;
    PSPRewrite(ref, fSpec, FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"));
    ASSERT_NE(ref, 0);
    FileWriteLn(ref, PStr("abc"));
    FileWrite(ref, PStr(""));
    FileWriteLn(ref, PStr(std::string(255, 'x').c_str()));
    FSClose(ref);
    EXPECT_EQ(Contents(), "abc\r" + std::string(254, 'x') + "\r");

    PSPRewrite(ref, fSpec, FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"));
    FileWrite(ref, PStr("new"));
    FSClose(ref);
    EXPECT_EQ(Contents(), "new");

    PSPOpenFile(ref, fSpec);
    FileWrite(ref, PStr("N"));
    FSClose(ref);
    EXPECT_EQ(Contents(), "New");
}

// ---- Navigation dialogs --------------------------------------------------------

std::string Pascal(ConstStr255Param s)
{
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

fs::path PathOf(const FSSpec& spec)
{
    std::string path;
    return TBPathFromFSSpec(spec, path) ? fs::path(path) : fs::path();
}

QFileDialog* OpenDialog()
{
    return qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
}

// Runs theAction on the file dialog once it is up.
template <typename Action>
void WhenDialogOpens(Action theAction)
{
    QTimer::singleShot(0, [theAction] {
        QFileDialog* dialog = OpenDialog();
        ASSERT_NE(dialog, nullptr);
        theAction(dialog);
    });
}

class EasyFileFolder : public ::testing::Test {
protected:
    static void SetUpTestSuite() { uitest::StartQt(); }
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "easyfile-XXXXXX").string();
        fFolder = fs::canonical(mkdtemp(pattern.data()));
    }
    void TearDown() override { fs::remove_all(fFolder); }

    FSRef Ref(const std::string& name) const
    {
        FSRef ref{};
        const std::string path = (fFolder / name).string();
        FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr);
        return ref;
    }
    FSSpec Spec(const std::string& name) const
    {
        FSSpec spec{};
        TBFSSpecFromPath((fFolder / name).string(), &spec);
        return spec;
    }
    CFURLRef URL(const std::string& name) const
    {
        return TBCFURLCreateWithPath((fFolder / name).string(), false);
    }
    SInt32 DirID(const fs::path& folder) const
    {
        FSSpec probe{};
        TBFSSpecFromPath((folder / "probe").string(), &probe);
        return probe.parID;
    }

    fs::path fFolder;
};

using EasyNav = EasyFileFolder;

TEST_F(EasyNav, AFileListCountsEveryItemButKeepsTheFirstFour)
{
    QStringList names;
    for (int i = 1; i <= 6; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        std::ofstream(fFolder / name) << i;
        names << "\"" + QString::fromStdString(name) + "\"";
    }
    NavDialogOptions options;
    NavGetDefaultDialogOptions(&options);
    options.dialogOptionFlags |= kNavAllowMultipleFiles;
    const QString folder = QString::fromStdString(fFolder.string());
    WhenDialogOpens([&](QFileDialog* dialog) {
        dialog->setDirectory(folder);
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(names.join(' '));
        static_cast<QDialog*>(dialog)->accept();
    });
    NavReplyRecord reply{};
    ASSERT_EQ(NavGetFile(nullptr, &reply, &options, nullptr, nullptr, nullptr, nullptr, nullptr), noErr);

    FileList list{};
    list.Count = 99;
    EXPECT_EQ(AEDescListToFileList(reply.selection, list), noErr);
    EXPECT_EQ(list.Count, 6);
    std::set<std::string> stored;
    for (const FSSpec& spec : list.Spec) {
        EXPECT_EQ(PathOf(spec).parent_path(), fFolder);
        stored.insert(Pascal(spec.name));
    }
    EXPECT_EQ(stored.size(), 4u);
    NavDisposeReply(&reply);

    const AEDescList empty{typeNull, nullptr};
    list.Count = 99;
    EXPECT_EQ(AEDescListToFileList(empty, list), noErr);
    EXPECT_EQ(list.Count, 0);
}

TEST_F(EasyNav, PutFileProposesTheNameAndTellsWhetherItReplaces)
{
    std::ofstream(fFolder / "old.txt") << "old";
    const QString folder = QString::fromStdString(fFolder.string());
    QString proposed;
    WhenDialogOpens([&](QFileDialog* dialog) {
        proposed = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
        dialog->setDirectory(folder);
        dialog->selectFile(folder + "/new.txt");
        static_cast<QDialog*>(dialog)->accept();
    });
    FSSpec spec{};
    Boolean replacing = true;
    ASSERT_TRUE(EasyNavPutFile(PStr("Save as"), PStr("Brimtone.txt"), FOUR_CHAR_CODE("TEXT"),
                               FOUR_CHAR_CODE("ttxt"), spec, replacing));
    EXPECT_EQ(proposed, "Brimtone.txt");
    EXPECT_FALSE(replacing);
    EXPECT_EQ(PathOf(spec), fFolder / "new.txt");

    WhenDialogOpens([&](QFileDialog* dialog) {
        // The user has already confirmed the replacement.
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        dialog->selectFile(folder + "/old.txt");
        static_cast<QDialog*>(dialog)->accept();
    });
    ASSERT_TRUE(EasyNavPutFile(PStr("Save as"), PStr("x"), 0, 0, spec, replacing));
    EXPECT_TRUE(replacing);
    EXPECT_EQ(PathOf(spec), fFolder / "old.txt");

    WhenDialogOpens([](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    EXPECT_FALSE(EasyNavPutFile(PStr("Save as"), PStr("x"), 0, 0, spec, replacing));
}

// ---- Folder names ----------------------------------------------------------------

using EasyFilePaths = EasyFileFolder;

TEST_F(EasyFilePaths, FullPathsStartAtTheVolumeAndEndInAColon)
{
    fs::create_directory(fFolder / "sub");
    const std::string volume = TBVolumeName();
    Str255 path;
    GetFullPath(DirID("/tmp"), -1, path);
    EXPECT_EQ(Pascal(path), volume + ":tmp:");
    GetFullPath(DirID(fFolder / "sub"), -1, path);
    std::string expected = volume + ":";
    for (const auto& part : fFolder.relative_path())
        expected += part.string() + ":";
    EXPECT_EQ(Pascal(path), expected + "sub:");
    GetFullPath(fsRtDirID, -1, path);
    EXPECT_EQ(Pascal(path), volume + ":");
    GetFullPath(123456789, -1, path);
    EXPECT_EQ(Pascal(path), "");
}

// ---- Pictures and images ----------------------------------------------------------

using Pixel = std::array<UInt8, 4>;  // alpha, red, green, blue

// Left half red, right half blue, with a green 2x2 block at (2, 2).
QImage TestImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(220, 20, 30));
    for (int y = 0; y < height; ++y)
        for (int x = width / 2; x < width; ++x)
            image.setPixel(x, y, qRgb(10, 40, 230));
    for (int y = 2; y < 4; ++y)
        for (int x = 2; x < 4; ++x)
            image.setPixel(x, y, qRgb(0, 255, 0));
    return image;
}

Pixel ImagePixel(CGImageRef image, int x, int y)
{
    size_t rowBytes = 0;
    const UInt8* p = TBCGImageGetARGBData(image, &rowBytes) + size_t(y) * rowBytes + size_t(x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

Pixel WorldPixel(GWorldPtr world, int x, int y)
{
    PixMapHandle pixels = GetGWorldPixMap(world);
    const auto* p = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pixels)) + y * GetPixRowBytes(pixels) + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

bool Near(Pixel a, Pixel b, int tolerance)
{
    for (size_t i = 0; i < 4; ++i)
        if (std::abs(int(a[i]) - int(b[i])) > tolerance)
            return false;
    return true;
}

Rect Bounds(PicHandle picture)
{
    Rect frame{};
    QDGetPictureBounds(picture, &frame);
    return frame;
}

// The picture drawn at its frame into a new buffer that the caller disposes.
GWorldPtr Drawn(PicHandle picture)
{
    const Rect frame = Bounds(picture);
    GWorldPtr world = nullptr;
    if (NewGWorld(&world, 32, &frame, nullptr, nullptr, 0) != noErr)
        return nullptr;
    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&port, &device);
    SetGWorld(world, nullptr);
    DrawPicture(picture, &frame);
    SetGWorld(port, device);
    return world;
}

constexpr Pixel kRed{255, 220, 20, 30};
constexpr Pixel kBlue{255, 10, 40, 230};
constexpr Pixel kGreen{255, 0, 255, 0};

class EasyFileImages : public EasyFileFolder {
protected:
    void SetUp() override
    {
        EasyFileFolder::SetUp();
        ASSERT_TRUE(TestImage(16, 8).save(QString::fromStdString((fFolder / "p.png").string())));
        ASSERT_TRUE(TestImage(32, 16).save(QString::fromStdString((fFolder / "p.jpg").string()), "JPEG", 100));
        std::ofstream(fFolder / "notes.txt") << "not an image";
    }
};

TEST_F(EasyFileImages, ImageSourcesReadPNGAndJPEGFiles)
{
    CFURLRef png = URL("p.png");
    CGImageRef image = GetCGImageFromURLUsingCG(png);
    CFRelease(png);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetWidth(image), 16u);
    EXPECT_EQ(CGImageGetHeight(image), 8u);
    EXPECT_EQ(ImagePixel(image, 0, 0), kRed);
    EXPECT_EQ(ImagePixel(image, 15, 7), kBlue);
    EXPECT_EQ(ImagePixel(image, 3, 3), kGreen);
    CGImageRelease(image);

    CFURLRef jpeg = URL("p.jpg");
    image = GetCGImageFromURLUsingCG(jpeg);
    CFRelease(jpeg);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetWidth(image), 32u);
    EXPECT_EQ(CGImageGetHeight(image), 16u);
    EXPECT_TRUE(Near(ImagePixel(image, 8, 12), kRed, 12));
    EXPECT_TRUE(Near(ImagePixel(image, 28, 12), kBlue, 12));
    CGImageRelease(image);

    CFURLRef notes = URL("notes.txt");
    EXPECT_EQ(GetCGImageFromURLUsingCG(notes), nullptr);
    CFRelease(notes);
    EXPECT_EQ(GetCGImageFromURLUsingCG(nullptr), nullptr);
}

TEST_F(EasyFileImages, APictureFromAnImageReproducesItsPixels)
{
    CFURLRef png = URL("p.png");
    PicHandle picture = GetPICTFromURLUsingCG(png);
    CFRelease(png);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(Bounds(picture).right, 16);
    GWorldPtr world = Drawn(picture);
    ASSERT_NE(world, nullptr);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            const Pixel expected = x >= 2 && x < 4 && y >= 2 && y < 4 ? kGreen : x < 8 ? kRed : kBlue;
            ASSERT_EQ(WorldPixel(world, x, y), expected) << x << "," << y;
        }
    DisposeGWorld(world);
    KillPicture(picture);

    CFURLRef notes = URL("notes.txt");
    EXPECT_EQ(GetPICTFromURLUsingCG(notes), nullptr);
    CFRelease(notes);
}

TEST_F(EasyFileImages, AScaledBufferIsDividedButHoldsThePictureAtItsOwnSize)
{
    GWorldPtr world = GetScaledGWImageFromFSRef(Ref("p.png"), 2, 2);
    ASSERT_NE(world, nullptr);
    const Rect bounds = GetPortRect(world);
    EXPECT_EQ(bounds.right, 8);
    EXPECT_EQ(bounds.bottom, 4);
    EXPECT_EQ(WorldPixel(world, 0, 0), kRed);
    EXPECT_EQ(WorldPixel(world, 3, 3), kGreen);
    DisposeGWorld(world);

    world = GetScaledGWImageFromFSRef(Ref("p.png"), 1, 1);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(GetPortRect(world).right, 16);
    EXPECT_EQ(WorldPixel(world, 15, 7), kBlue);
    DisposeGWorld(world);

    EXPECT_EQ(GetScaledGWImageFromFSRef(Ref("p.png"), 0, 2), nullptr);
    EXPECT_EQ(GetScaledGWImageFromFSRef(Ref("p.png"), 17, 1), nullptr);
    EXPECT_EQ(GetScaledGWImageFromFSRef(Ref("notes.txt"), 1, 1), nullptr);
}

// ---- Type identifiers -------------------------------------------------------------

using EasyFileTypes = EasyFileFolder;

TEST_F(EasyFileTypes, TheExtensionDecidesAndWithoutOneTheFileType)
{
    std::ofstream(fFolder / "p.png") << "x";
    EXPECT_TRUE(FileConformsTo(Ref("p.png"), PStr("public.image")));
    EXPECT_TRUE(FileConformsTo(Ref("p.png"), PStr("public.data")));
    EXPECT_FALSE(FileConformsTo(Ref("p.png"), PStr("public.movie")));

    // The type of a file without an extension, not its content, decides.
    FSSpec picture = Spec("picture");
    ASSERT_EQ(FSpCreate(&picture, FOUR_CHAR_CODE("ogle"), FOUR_CHAR_CODE("PNGf"), smSystemScript), noErr);
    FSSpec movie = Spec("movie");
    ASSERT_EQ(FSpCreate(&movie, FOUR_CHAR_CODE("TVOD"), FOUR_CHAR_CODE("MooV"), smSystemScript), noErr);
    FInfo info{};
    ASSERT_EQ(FSpGetFInfo(&picture, &info), noErr);
    if (info.fdType != FOUR_CHAR_CODE("PNGf"))
        GTEST_SKIP() << "this file system keeps no file types";
    EXPECT_TRUE(FileConformsTo(Ref("picture"), PStr("public.image")));
    EXPECT_FALSE(FileConformsTo(Ref("picture"), PStr("public.movie")));
    EXPECT_TRUE(FileConformsTo(Ref("movie"), PStr("public.movie")));
    EXPECT_FALSE(FileConformsTo(Ref("movie"), PStr("public.image")));

    // The extension wins over the type.
    FSSpec text = Spec("typed.txt");
    ASSERT_EQ(FSpCreate(&text, 0, FOUR_CHAR_CODE("PNGf"), smSystemScript), noErr);
    EXPECT_FALSE(FileConformsTo(Ref("typed.txt"), PStr("public.image")));
    EXPECT_TRUE(FileConformsTo(Ref("typed.txt"), PStr("public.plain-text")));
}

}  // namespace
