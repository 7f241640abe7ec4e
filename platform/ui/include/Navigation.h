// Navigation Services on Qt's file dialogs: the classic calls NavGetFile and
// NavPutFile with a reply whose selection is a list of file specifications.
#pragma once

#include "CoreFoundation.h"
#include "Files.h"
#include "MacTypes.h"

typedef ResType DescType;
typedef FourCharCode AEKeyword;

enum : DescType {
    typeFSS = FOUR_CHAR_CODE("fss "),
    typeFSRef = FOUR_CHAR_CODE("fsrf"),
    typeAEList = FOUR_CHAR_CODE("list"),
    typeNull = FOUR_CHAR_CODE("null"),
    keyDirectObject = FOUR_CHAR_CODE("----"),
};

enum {
    errAEDescNotFound = -1701,
    errAEWrongDataType = -1703,
    errAEIllegalIndex = -1719,
};

struct OpaqueAEDataStorage;
struct AEDesc {
    DescType descriptorType;
    OpaqueAEDataStorage* dataHandle;
};
typedef AEDesc AEDescList;

TB_EXPORT OSErr AECountItems(const AEDescList* theAEDescList, long* theCount);
// typeFSS and typeFSRef items; index from 1.
TB_EXPORT OSErr AEGetNthPtr(const AEDescList* theAEDescList, long index, DescType desiredType, AEKeyword* theAEKeyword,
                            DescType* typeCode, void* dataPtr, Size maximumSize, Size* actualSize);

typedef UInt32 NavDialogOptionFlags;
enum : NavDialogOptionFlags {
    kNavNoTypePopup = 0x00000001,
    kNavDontAutoTranslate = 0x00000002,
    kNavDontAddTranslateItems = 0x00000004,
    kNavAllFilesInPopup = 0x00000010,
    kNavAllowStationery = 0x00000020,
    kNavAllowPreviews = 0x00000040,
    kNavAllowMultipleFiles = 0x00000080,
    kNavAllowInvisibleFiles = 0x00000100,
    kNavDontResolveAliases = 0x00000200,
    kNavSelectDefaultLocation = 0x00000400,
    kNavSelectAllReadableItem = 0x00000800,
    kNavDefaultNavDlogOptions = 0x000000E4,
};

struct NavDialogOptions {
    UInt16 version;
    NavDialogOptionFlags dialogOptionFlags;
    Point location;
    Str255 clientName;
    Str255 windowTitle;
    Str255 actionButtonLabel;
    Str255 cancelButtonLabel;
    Str255 savedFileName;  // the proposed name of NavPutFile
    Str255 message;
    UInt32 preferenceKey;
    void* popupExtension;
};

struct NavReplyRecord {
    UInt16 version;
    Boolean validRecord;
    Boolean replacing;
    Boolean isStationery;
    Boolean translationNeeded;
    AEDescList selection;
    ScriptCode keyScript;
    void* fileTranslation;
    UInt32 reserved1;
    CFStringRef saveFileName;
    Boolean saveFileExtensionHidden;
};

struct NavTypeList {
    OSType componentSignature;
    SInt16 reserved;
    SInt16 osTypeCount;
    OSType osType[1];
};
typedef NavTypeList* NavTypeListPtr;
typedef NavTypeListPtr* NavTypeListHandle;

typedef void* NavEventUPP;
typedef void* NavPreviewUPP;
typedef void* NavObjectFilterUPP;

TB_EXPORT OSErr NavGetDefaultDialogOptions(NavDialogOptions* dialogOptions);
// userCanceledErr when the user cancels. Files are offered whatever their
// type (files here carry no type for the list to match).
TB_EXPORT OSErr NavGetFile(AEDesc* defaultLocation, NavReplyRecord* reply, NavDialogOptions* dialogOptions,
                           NavEventUPP eventProc, NavPreviewUPP previewProc, NavObjectFilterUPP filterProc,
                           NavTypeListHandle typeList, void* callBackUD);
TB_EXPORT OSErr NavPutFile(AEDesc* defaultLocation, NavReplyRecord* reply, NavDialogOptions* dialogOptions,
                           NavEventUPP eventProc, OSType fileType, OSType fileCreator, void* callBackUD);
TB_EXPORT OSErr NavDisposeReply(NavReplyRecord* reply);

// Used inside the toolbox only, so not exported.
OSErr AEDisposeDesc(AEDesc* theAEDesc);
