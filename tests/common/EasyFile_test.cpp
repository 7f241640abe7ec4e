#include "common/EasyFile.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QTimer>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "MacErrors.h"
#include "common/CommonProcs.h"
#include "graphics/CommonProcs.h"
#include "platform/ui/UITestSupport.h"

namespace {

namespace fs = std::filesystem;

class EasyFile : public ::testing::Test {
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

    fs::path fFolder;
};

TEST_F(EasyFile, LinesEndInACarriageReturnAndAFullLineLosesItsLastCharacter)
{
    FSSpec out{};
    TBFSSpecFromPath((fFolder / "out.txt").string(), &out);
    const auto contents = [&] {
        std::ifstream in(fFolder / "out.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    SInt16 ref = 0;
    PSPRewrite(ref, out, FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"));
    ASSERT_NE(ref, 0);
    FileWriteLn(ref, PStr("abc"));
    FileWrite(ref, PStr(""));
    FileWriteLn(ref, PStr(std::string(255, 'x').c_str()));
    FSClose(ref);
    EXPECT_EQ(contents(), "abc\r" + std::string(254, 'x') + "\r");

    PSPRewrite(ref, out, FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"));
    FileWrite(ref, PStr("new"));
    FSClose(ref);
    EXPECT_EQ(contents(), "new") << "rewriting empties the file";

    PSPOpenFile(ref, out);
    FileWrite(ref, PStr("N"));
    FSClose(ref);
    EXPECT_EQ(contents(), "New") << "opening keeps it";
}

TEST_F(EasyFile, AFileListCountsEveryItemButKeepsTheFirstFour)
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
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
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
    for (const FSSpec& item : list.Spec) {
        std::string path;
        ASSERT_TRUE(TBPathFromFSSpec(item, path));
        EXPECT_EQ(fs::path(path).parent_path(), fFolder);
        stored.insert(std::string(item.name + 1, item.name + 1 + item.name[0]));
    }
    EXPECT_EQ(stored.size(), 4u);
    NavDisposeReply(&reply);

    list.Count = 99;
    EXPECT_EQ(AEDescListToFileList(AEDescList{typeNull, nullptr}, list), noErr);
    EXPECT_EQ(list.Count, 0);
}

using Pixel = std::array<UInt8, 4>;  // alpha, red, green, blue

// The test picture: left half red, right half blue, a green 2x2 block at (2, 2).
Pixel Expected(int x, int y)
{
    if (x >= 2 && x < 4 && y >= 2 && y < 4)
        return {255, 0, 255, 0};
    return x < 8 ? Pixel{255, 220, 20, 30} : Pixel{255, 10, 40, 230};
}

Pixel WorldPixel(GWorldPtr world, int x, int y)
{
    PixMapHandle pixels = GetGWorldPixMap(world);
    const auto* p = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pixels)) + y * GetPixRowBytes(pixels) + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

TEST_F(EasyFile, AScaledBufferIsDividedButHoldsThePictureAtItsOwnSize)
{
    QImage image(16, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            image.setPixel(x, y, qRgb(Expected(x, y)[1], Expected(x, y)[2], Expected(x, y)[3]));
    ASSERT_TRUE(image.save(QString::fromStdString((fFolder / "p.png").string())));
    std::ofstream(fFolder / "notes.txt") << "not an image";

    GWorldPtr world = GetScaledGWImageFromFSRef(Ref("p.png"), 1, 2);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(GetPortRect(world).right, 16);
    EXPECT_EQ(GetPortRect(world).bottom, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(WorldPixel(world, x, y), Expected(x, y)) << x << "," << y;
    DisposeGWorld(world);
    EXPECT_EQ(GetScaledGWImageFromFSRef(Ref("p.png"), 0, 2), nullptr);
    EXPECT_EQ(GetScaledGWImageFromFSRef(Ref("p.png"), 17, 1), nullptr);
    EXPECT_EQ(GetScaledGWImageFromFSRef(Ref("notes.txt"), 1, 1), nullptr);
}

}  // namespace
