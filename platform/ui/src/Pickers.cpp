// The Color Picker and Launch Services on Qt.
#include "ColorPicker.h"
#include "LaunchServices.h"
#include "ToolboxUI.h"
#include "UIPrivate.h"

#include <QApplication>
#include <QColorDialog>
#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

#include <sys/stat.h>

#include <atomic>
#include <cstring>

namespace {

std::atomic<TBDocumentOpener> gOpener{nullptr};

OSStatus DesktopOpen(const std::string& url)
{
    TBEnsureApplication();
    const QString text = QString::fromStdString(url);
    if (QDesktopServices::openUrl(QUrl(text))) return noErr;
    return QProcess::startDetached(QStringLiteral("xdg-open"), {text}) ? OSStatus(noErr) : OSStatus(kLSApplicationNotFoundErr);
}

OSStatus Open(const std::string& url)
{
    const TBDocumentOpener opener = gOpener.load();
    return opener != nullptr ? opener(url) : DesktopOpen(url);
}

}  // namespace

TBDocumentOpener TBSetDocumentOpener(TBDocumentOpener opener)
{
    return gOpener.exchange(opener);
}

OSErr NPickColor(NColorPickerInfo* theColorInfo)
{
    if (theColorInfo == nullptr) return paramErr;
    theColorInfo->newColorChosen = false;
    TBEnsureApplication();
    const CMRGBColor& in = theColorInfo->theColor.color.rgb;
    // The dialog works in 8 bits a channel; the high byte is the colour.
    const tbui::ReturnFocusAfterModal returnFocus;
    QColorDialog dialog(QColor(in.red >> 8, in.green >> 8, in.blue >> 8), QApplication::activeModalWidget());
    dialog.setWindowTitle(tbui::FromPascal(theColorInfo->prompt));
    dialog.setOption(QColorDialog::DontUseNativeDialog, true);
    if (dialog.exec() == QDialog::Accepted) {
        const QRgba64 chosen = dialog.selectedColor().rgba64();
        theColorInfo->theColor.color.rgb = CMRGBColor{chosen.red(), chosen.green(), chosen.blue()};
        theColorInfo->newColorChosen = true;
    }
    return noErr;
}

OSStatus LSOpenCFURLRef(CFURLRef inURL, CFURLRef* outLaunchedURL)
{
    if (outLaunchedURL != nullptr) *outLaunchedURL = nullptr;
    if (inURL == nullptr) return paramErr;
    const std::string path = TBCFURLGetPath(inURL);
    struct stat info;
    if (!path.empty() && stat(path.c_str(), &info) != 0) return fnfErr;
    return Open(TBCFStringToUTF8(CFURLGetString(inURL)));
}

OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef)
{
    std::string path;
    if (!TBFSRefGetPath(inRef, path)) return paramErr;
    CFURLRef url = TBCFURLCreateWithPath(path, false);
    const OSStatus result = LSOpenCFURLRef(url, nullptr);
    CFRelease(url);
    if (result == noErr && outLaunchedRef != nullptr) *outLaunchedRef = *inRef;
    return result;
}

OSStatus LSOpenFromRefSpec(const LSLaunchFSRefSpec* inLaunchSpec, FSRef* outLaunchedRef)
{
    if (inLaunchSpec == nullptr || (inLaunchSpec->numDocs > 0 && inLaunchSpec->itemRefs == nullptr))
        return paramErr;
    if (inLaunchSpec->appRef == nullptr) {
        for (UInt32 i = 0; i < inLaunchSpec->numDocs; ++i) {
            const OSStatus result = LSOpenFSRef(&inLaunchSpec->itemRefs[i], nullptr);
            if (result != noErr) return result;
        }
        return noErr;
    }
    std::string application;
    if (!TBFSRefGetPath(inLaunchSpec->appRef, application)) return paramErr;
    QStringList arguments;
    for (UInt32 i = 0; i < inLaunchSpec->numDocs; ++i) {
        std::string path;
        if (!TBFSRefGetPath(&inLaunchSpec->itemRefs[i], path)) return paramErr;
        arguments << QString::fromStdString(path);
    }
    TBEnsureApplication();
    if (!QProcess::startDetached(QString::fromStdString(application), arguments)) return kLSApplicationNotFoundErr;
    if (outLaunchedRef != nullptr) *outLaunchedRef = *inLaunchSpec->appRef;
    return noErr;
}

OSStatus LSCopyItemInfoForRef(const FSRef* inItemRef, LSRequestedInfo inWhichInfo, LSItemInfoRecord* outItemInfo)
{
    std::string path;
    if (outItemInfo == nullptr) return paramErr;
    *outItemInfo = LSItemInfoRecord{};
    if (!TBFSRefGetPath(inItemRef, path)) return paramErr;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return fnfErr;
    const bool directory = S_ISDIR(info.st_mode);
    outItemInfo->flags = directory ? kLSItemInfoIsContainer : kLSItemInfoIsPlainFile;
    if (directory && (path.size() > 7 && (path.ends_with(".bundle") || path.ends_with(".app"))))
        outItemInfo->flags |= kLSItemInfoIsPackage;
    if (!directory && (info.st_mode & S_IXUSR) != 0) outItemInfo->flags |= kLSItemInfoIsApplication;
    const auto slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!name.empty() && name[0] == '.') outItemInfo->flags |= kLSItemInfoIsInvisible;
    if ((inWhichInfo & kLSRequestExtension) != 0) {
        const auto dot = name.find_last_of('.');
        if (dot != std::string::npos && dot > 0 && dot + 1 < name.size())
            outItemInfo->extension = TBCFStringCreateWithUTF8(name.substr(dot + 1));
    }
    if ((inWhichInfo & kLSRequestTypeCreator) != 0 && !directory) {
        FSSpec spec;
        FInfo finder{};
        if (TBFSSpecFromPath(path, &spec) == noErr && FSpGetFInfo(&spec, &finder) == noErr) {
            outItemInfo->filetype = finder.fdType;
            outItemInfo->creator = finder.fdCreator;
        }
    }
    return noErr;
}
