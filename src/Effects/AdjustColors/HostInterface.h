// The video editor's plug-in interface: the parameter block handed to `main`,
// the callback table, the info records and their enumerations.
//
// The field order and sizes are the host's binary format. The offsets checked
// below are those of a 32-bit build (pointers 4 bytes), where they are
// binding; a 64-bit build uses the same declarations with wider pointers.
#pragma once

#include <cstddef>

#include "MacTypes.h"
#include "QuickDraw.h"

typedef UInt8 HYPluginSelector;
enum {
    kPlugGetInfo = 1,
    kPlugInitialize = 2,
    kPlugDrawIcon = 3,
    kPlugDrawThumbNail = 4,
    kPlugFilePlaceHolder = 5,
    kPlugDoFrame = 6,
    kPlugCallOnceWithInitAndTerminate = 7,
    kPlugTerminate = 8,
    kPlugCustomButtonClick = 9,
};

typedef UInt8 HYPluginResult;
enum {
    kPluginOK = 0,
    kPluginCancel = 1,
    kPluginFinished = 2,
    kPluginBadParams = 3,
    kPluginOutOfMemory = 4,
    kPluginOutOfDiskSpace = 5,
    kPluginFailed = 6,
    kPluginCantGetNeededFrame = 7,
    kPluginUnimplemented = 8,
    kPluginTryAgainLater = 9,
    kPluginAppIsTooOld = 10,
    kPluginAppIsTooNew = 11,
};

typedef UInt8 HYRefDVQuality;
enum {
    kDVLowQuality = 0,
    kDVHighQuality = 1,
    kDVHighQualitySingleField = 2,
};

typedef UInt8 HYPluginType;
enum {
    kPluginUnknownType = 0,
    kPluginTitleType = 101,
    kPluginTransitionBeforeType = 102,
    kPluginTransitionBetweenType = 103,
    kPluginTransitionAfterType = 104,
    kPluginFilterType = 105,
};

enum {
    kTitleUnknown = 1,
    kTitleSingleTextPair = 2,
    kTitleMultiTextPair = 3,
    kTitleTextBlock = 4,
};

enum {
    kPluginDirectionNone = 0,
    kPluginDirectionUp = 1,
    kPluginDirectionDown = 2,
    kPluginDirectionLeft = 3,
    kPluginDirectionRight = 4,
};

enum {
    kTitleJustCenter = 0,
    kTitleJustLeft = 1,
    kTitleJustRight = 2,
};

struct HYPluginGetInfo {
    HYPluginType pluginType;
    UInt8 titleType;
    UInt32 pluginFlags;
    SInt32 framesToBeRendered;
    SInt32 takeFromClipBefore;
    SInt32 takeFromClipAfter;
    SInt32 minSpeedFrames;
    SInt32 maxSpeedFrames;
    Boolean mustTakeFromSingleClips;
    SInt32 bestThumbOffset;
    RGBColor defaultColor;
    UInt8 defaultDirection;
    UInt8 justify;
    SInt16 defaultFontNum;
    SInt16 defaultFontSize;
};

struct HYPluginFilterSliderInfo {
    char label[128];
    char minLabel[128];
    char maxLabel[128];
    Float32 defaultValue;
};

struct HY2PluginGetInfo {
    char group[128];
    HYPluginFilterSliderInfo filterSliders[3];
    SInt32 defaultFadeInFrames;
    SInt32 defaultFadeOutFrames;
    SInt32 minHangFrames;
    SInt32 maxHangFrames;
    Float32 defaultFontSizeScale;
    SInt32 selectedFrames;
    SInt32 speedFrames;
    SInt32 hangFrames;
    SInt32 baseMemoryNeeded;
};

struct HYPluginFileInfo {
    SInt16 typeCount;
    Handle hTypes;
    UInt8 chosenFile[70];  // a file specification; the plug-in never reads it
};

struct HY3PluginGetInfo {
    Float32 defaultX;
    Float32 defaultY;
    Float32 userX;
    Float32 userY;
    HYPluginFileInfo fileInfo;
    char buttonTitle[32];
};

struct HY4PluginGetInfo {
    HYPluginFilterSliderInfo titleSliders;
};

struct HYPluginFilterInfo {
    Float32 sliderValues[3];
    SInt32 fadeInFrames;
    SInt32 fadeOutFrames;
};

typedef void (*HYUnusedProc)();

struct HYProcs {
    Ptr (*NewPtr)(SInt32 size);
    Ptr (*NewPtrClear)(SInt32 size);
    HYPluginResult (*DisposePtr)(Ptr block);
    HYUnusedProc ptocstr;
    HYUnusedProc ctopstr;
    HYUnusedProc pstrcpy;
    HYUnusedProc strcpy;
    HYUnusedProc strlen;
    HYUnusedProc GetLocalizedString;
    HYPluginResult (*GetFrame)(void* instance, SInt32 frameIndex, GWorldPtr* outFrame, SInt16 width,
                               SInt16 height, HYRefDVQuality quality, SInt16* outVolume,
                               void** outCookie);
    HYPluginResult (*ReleaseFrame)(void* instance, void* cookie);
    HYUnusedProc GetAudioFrame;
    HYUnusedProc ReleaseAudioFrame;
    HYPluginResult (*GetMovieInfo)(SInt16* outVideoStandard, SInt16* outWidth, SInt16* outHeight,
                                   SInt32* outTotalFrames);
    HYPluginResult (*GetClipInfo)(void* instance, SInt32 clipNumber, void* outClipInfo);
    HYUnusedProc SetClipInfo;
    HYPluginResult (*Blit)(const PixMap* source, const PixMap* dest, const Rect* sourceRect,
                           const Rect* destRect, SInt16 opacity);
    HYUnusedProc FillRect;
    HYUnusedProc TextBounds;
    HYUnusedProc DrawText;
    HYUnusedProc GetTitleInfo;
    HYUnusedProc ReleaseTitleInfo;
    HYUnusedProc GetTransitionInfo;
    HYUnusedProc ReleaseTransitionInfo;
    HYPluginResult (*MixAudio)(void* instance, void* cookie, SInt16 level);
    HYPluginResult (*GetFilterInfo)(void* instance, HYPluginFilterInfo** outInfo);
    HYPluginResult (*ReleaseFilterInfo)(void* instance, HYPluginFilterInfo* info);
    HYUnusedProc StringWidth;
    HYUnusedProc CGDrawText;
    HYUnusedProc CGStringWidth;
};

struct PluginParams {
    SInt16 interfaceVersion;
    void* instance;
    HYPluginSelector selector;
    HYProcs* procs;
    HYPluginGetInfo getInfo;
    SInt32 startFrame;
    SInt32 renderFrame;
    SInt32 frameCount;
    Boolean proxyOnly;
    Rect frameRect;
    GWorldPtr frame;
    void* clientData;
    HY2PluginGetInfo getInfo2;
    HY3PluginGetInfo getInfo3;
    HY4PluginGetInfo getInfo4;
};

// Flags the effect sets in getInfo.pluginFlags; their meaning is the host's.
enum : UInt32 {
    kBrimtonePluginFlagsA = 0x00000380,
    kBrimtonePluginFlagsB = 0x00001000,
};

// The entry point's C type, as a host finds it with dlsym(bundle, "main").
typedef SInt32 (*HYPluginEntry)(SInt32 which, PluginParams* params);

static_assert(sizeof(HYPluginGetInfo) == 48);
static_assert(sizeof(HYPluginFilterSliderInfo) == 388);
static_assert(sizeof(HY2PluginGetInfo) == 1328);
static_assert(sizeof(HY4PluginGetInfo) == 388);
static_assert(sizeof(HYPluginFilterInfo) == 20);
static_assert(offsetof(HYPluginGetInfo, pluginFlags) == 4);
static_assert(offsetof(HYPluginGetInfo, framesToBeRendered) == 8);
static_assert(offsetof(HYPluginGetInfo, takeFromClipBefore) == 12);
static_assert(offsetof(HYPluginGetInfo, takeFromClipAfter) == 16);
static_assert(offsetof(HYPluginGetInfo, minSpeedFrames) == 20);
static_assert(offsetof(HYPluginGetInfo, maxSpeedFrames) == 24);
static_assert(offsetof(HYPluginGetInfo, mustTakeFromSingleClips) == 28);
static_assert(offsetof(HYPluginGetInfo, bestThumbOffset) == 32);
static_assert(offsetof(HYPluginGetInfo, defaultColor) == 36);
static_assert(offsetof(HYPluginGetInfo, defaultDirection) == 42);
static_assert(offsetof(HYPluginGetInfo, justify) == 43);
static_assert(offsetof(HYPluginGetInfo, defaultFontNum) == 44);
static_assert(offsetof(HYPluginGetInfo, defaultFontSize) == 46);
static_assert(offsetof(HYPluginFilterSliderInfo, minLabel) == 128);
static_assert(offsetof(HYPluginFilterSliderInfo, maxLabel) == 256);
static_assert(offsetof(HYPluginFilterSliderInfo, defaultValue) == 384);
static_assert(offsetof(HY2PluginGetInfo, filterSliders) == 128);
static_assert(offsetof(HY2PluginGetInfo, defaultFadeInFrames) == 1292);
static_assert(offsetof(HY2PluginGetInfo, defaultFadeOutFrames) == 1296);
static_assert(offsetof(HY2PluginGetInfo, minHangFrames) == 1300);
static_assert(offsetof(HY2PluginGetInfo, maxHangFrames) == 1304);
static_assert(offsetof(HY2PluginGetInfo, defaultFontSizeScale) == 1308);
static_assert(offsetof(HY2PluginGetInfo, selectedFrames) == 1312);
static_assert(offsetof(HY2PluginGetInfo, speedFrames) == 1316);
static_assert(offsetof(HY2PluginGetInfo, hangFrames) == 1320);
static_assert(offsetof(HY2PluginGetInfo, baseMemoryNeeded) == 1324);
static_assert(offsetof(HYPluginFilterInfo, fadeInFrames) == 12);
static_assert(offsetof(HYPluginFilterInfo, fadeOutFrames) == 16);

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PluginParams) == 1940);
static_assert(sizeof(HYProcs) == 120);
static_assert(sizeof(HY3PluginGetInfo) == 128);
static_assert(offsetof(PluginParams, instance) == 4);
static_assert(offsetof(PluginParams, selector) == 8);
static_assert(offsetof(PluginParams, procs) == 12);
static_assert(offsetof(PluginParams, getInfo) == 16);
static_assert(offsetof(PluginParams, startFrame) == 64);
static_assert(offsetof(PluginParams, renderFrame) == 68);
static_assert(offsetof(PluginParams, frameCount) == 72);
static_assert(offsetof(PluginParams, proxyOnly) == 76);
static_assert(offsetof(PluginParams, frameRect) == 78);
static_assert(offsetof(PluginParams, frame) == 88);
static_assert(offsetof(PluginParams, clientData) == 92);
static_assert(offsetof(PluginParams, getInfo2) == 96);
static_assert(offsetof(PluginParams, getInfo3) == 1424);
static_assert(offsetof(PluginParams, getInfo4) == 1552);
static_assert(offsetof(HY3PluginGetInfo, fileInfo) == 16);
static_assert(offsetof(HY3PluginGetInfo, buttonTitle) == 96);
static_assert(offsetof(HYPluginFileInfo, hTypes) == 4);
static_assert(offsetof(HYPluginFileInfo, chosenFile) == 8);
static_assert(offsetof(HYProcs, NewPtrClear) == 4);
static_assert(offsetof(HYProcs, DisposePtr) == 8);
static_assert(offsetof(HYProcs, GetFrame) == 36);
static_assert(offsetof(HYProcs, ReleaseFrame) == 40);
static_assert(offsetof(HYProcs, GetMovieInfo) == 52);
static_assert(offsetof(HYProcs, GetClipInfo) == 56);
static_assert(offsetof(HYProcs, Blit) == 64);
static_assert(offsetof(HYProcs, MixAudio) == 96);
static_assert(offsetof(HYProcs, GetFilterInfo) == 100);
static_assert(offsetof(HYProcs, ReleaseFilterInfo) == 104);
static_assert(offsetof(HYProcs, CGStringWidth) == 116);
#endif
