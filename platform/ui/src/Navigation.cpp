#include "Navigation.h"

#include "CFURL.h"
#include "MacErrors.h"
#include "ToolboxUI.h"
#include "UIPrivate.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

#include <cstring>
#include <string>
#include <vector>

struct OpaqueAEDataStorage {
    std::vector<std::string> paths;
};

namespace {

QString Title(const NavDialogOptions* options)
{
    if (options == nullptr) return QString();
    const QString message = tbui::FromPascal(options->message);
    return message.isEmpty() ? tbui::FromPascal(options->windowTitle) : message;
}

OSErr Reply(NavReplyRecord* reply, const QStringList& files, bool replacing)
{
    if (files.isEmpty()) return userCanceledErr;
    auto* storage = TBNew<OpaqueAEDataStorage>();
    if (storage == nullptr) return memFullErr;
    for (const QString& file : files) storage->paths.push_back(file.toStdString());
    reply->selection = AEDesc{typeAEList, storage};
    reply->validRecord = true;
    reply->replacing = replacing;
    reply->saveFileName = tbui::ToCFString(QFileInfo(files.front()).fileName());
    return noErr;
}

}  // namespace

OSErr AECountItems(const AEDescList* theAEDescList, long* theCount)
{
    if (theAEDescList == nullptr || theCount == nullptr) return paramErr;
    *theCount = theAEDescList->dataHandle != nullptr ? long(theAEDescList->dataHandle->paths.size()) : 0;
    return noErr;
}

OSErr AEGetNthPtr(const AEDescList* theAEDescList, long index, DescType desiredType, AEKeyword* theAEKeyword,
                  DescType* typeCode, void* dataPtr, Size maximumSize, Size* actualSize)
{
    if (theAEDescList == nullptr || dataPtr == nullptr) return paramErr;
    const OpaqueAEDataStorage* storage = theAEDescList->dataHandle;
    if (storage == nullptr || index < 1 || size_t(index) > storage->paths.size()) return errAEIllegalIndex;
    const std::string& path = storage->paths[size_t(index - 1)];
    if (theAEKeyword != nullptr) *theAEKeyword = keyDirectObject;
    if (desiredType == typeFSS) {
        FSSpec spec{};
        const OSErr err = TBFSSpecFromPath(path, &spec);
        if (err != noErr && err != fnfErr) return err;
        if (maximumSize < Size(sizeof spec)) return paramErr;
        std::memcpy(dataPtr, &spec, sizeof spec);
        if (actualSize != nullptr) *actualSize = sizeof spec;
    } else if (desiredType == typeFSRef) {
        FSRef ref{};
        if (FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr) != noErr) return fnfErr;
        if (maximumSize < Size(sizeof ref)) return paramErr;
        std::memcpy(dataPtr, &ref, sizeof ref);
        if (actualSize != nullptr) *actualSize = sizeof ref;
    } else {
        return errAEWrongDataType;
    }
    if (typeCode != nullptr) *typeCode = desiredType;
    return noErr;
}

OSErr AEDisposeDesc(AEDesc* theAEDesc)
{
    if (theAEDesc == nullptr) return paramErr;
    delete theAEDesc->dataHandle;
    *theAEDesc = AEDesc{typeNull, nullptr};
    return noErr;
}

OSErr NavGetDefaultDialogOptions(NavDialogOptions* dialogOptions)
{
    if (dialogOptions == nullptr) return paramErr;
    *dialogOptions = NavDialogOptions{};
    dialogOptions->dialogOptionFlags = kNavDefaultNavDlogOptions;
    dialogOptions->location = Point{-1, -1};
    return noErr;
}

OSErr NavGetFile(AEDesc*, NavReplyRecord* reply, NavDialogOptions* dialogOptions, NavEventUPP, NavPreviewUPP,
                 NavObjectFilterUPP, NavTypeListHandle, void*)
{
    if (reply == nullptr) return paramErr;
    *reply = NavReplyRecord{};
    reply->selection = AEDesc{typeNull, nullptr};
    TBEnsureApplication();
    QFileDialog dialog(QApplication::activeModalWidget(), Title(dialogOptions));
    const bool many = dialogOptions != nullptr && (dialogOptions->dialogOptionFlags & kNavAllowMultipleFiles) != 0;
    dialog.setFileMode(many ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted) return userCanceledErr;
    return Reply(reply, dialog.selectedFiles(), false);
}

OSErr NavPutFile(AEDesc*, NavReplyRecord* reply, NavDialogOptions* dialogOptions, NavEventUPP, OSType, OSType,
                 void*)
{
    if (reply == nullptr) return paramErr;
    *reply = NavReplyRecord{};
    reply->selection = AEDesc{typeNull, nullptr};
    TBEnsureApplication();
    QFileDialog dialog(QApplication::activeModalWidget(), Title(dialogOptions));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialogOptions != nullptr) dialog.selectFile(tbui::FromPascal(dialogOptions->savedFileName));
    if (dialog.exec() != QDialog::Accepted) return userCanceledErr;
    const QStringList files = dialog.selectedFiles();
    return Reply(reply, files, !files.isEmpty() && QFileInfo::exists(files.front()));
}

OSErr NavDisposeReply(NavReplyRecord* reply)
{
    if (reply == nullptr) return paramErr;
    AEDisposeDesc(&reply->selection);
    CFRelease(reply->saveFileName);
    reply->saveFileName = nullptr;
    reply->validRecord = false;
    return noErr;
}
