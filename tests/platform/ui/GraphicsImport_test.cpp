#include "ImageCompression.h"

#include "MacErrors.h"
#include "UITestSupport.h"

#include <QImage>

using namespace uitest;

namespace {

TEST(GraphicsImport, AFileThatBreaksAfterOpeningGivesNoPictureAndItsImporterClosesOnce)
{
    StartQt();
    TempBundle place("org.brimtone.test.import");
    const std::string png = (place.Resources() / "p.png").string();
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(png)));
    FSSpec spec{};
    TBFSSpecFromPath(png, &spec);
    ComponentInstance importer = nullptr;
    ASSERT_EQ(GetGraphicsImporterForFile(&spec, &importer), noErr);
    ASSERT_NE(importer, nullptr);
    std::ofstream(png, std::ios::trunc) << "garbage";
    PicHandle picture = nullptr;
    EXPECT_NE(GraphicsImportGetAsPicture(importer, &picture), noErr);
    EXPECT_EQ(picture, nullptr);
    CGImageRef decoded = nullptr;
    EXPECT_NE(GraphicsImportCreateCGImage(importer, &decoded, 0), noErr);
    EXPECT_EQ(decoded, nullptr);
    EXPECT_EQ(CloseComponent(importer), noErr);
    EXPECT_EQ(CloseComponent(importer), invalidComponentID);
}

}  // namespace
