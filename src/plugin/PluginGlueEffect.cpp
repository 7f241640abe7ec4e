// The configuration records' life and one rendered frame; the dialog on a
// preview frame is in PluginGlueDialog.cpp.
#include "plugin/PluginGlue.h"

#include <cmath>
#include <cstring>

#include "CoreGraphics.h"
#include "MacMemory.h"
#include "common/CommonProcs.h"
#include "effect/CallPixelFX.h"
#include "graphics/CommonProcs.h"
#include "plugin/DataHandling.h"
#include "plugin/globals.h"
#include "storage/prefsloader.h"

void InitMyPlugIn(pluginDataPtr& theData, SInt16 theFirstMediaType)
{
    Assert(theData, PStr("Unable to allocate new data structure"));
    // Another process's save (the dialog's OK) waits until this start has
    // read, and repaired if it must, so it is never written over.
    PrefsFileLock lock;
    InitPreferences();
    InitPluginData(theData, theFirstMediaType);
}

void InitPluginData(pluginDataPtr theConfig, SInt16 theFirstMediaType)
{
    Assert(theConfig, PStr("Nil theConfig on InitPluginData"));
    PrefsFileLock lock;
    ResetConfig(theConfig, true);
    theConfig->MediaType = theFirstMediaType;
    // A file that reads well is not written; one without a usable saved
    // configuration gets the defaults.
    const SavedConfig found = ReadSavedConfig(theConfig);
    if (found == SavedConfig::none || found == SavedConfig::refused)
        SaveConfig(theConfig);
}

SInt16 MediaTypeForShape(SInt32 theWidth, SInt32 theHeight)
{
    if (theWidth <= 0 || theHeight <= 0)
        return 1;
    // The preview sizes of the formats 1, 2 and 3: 720x480, 720x576, 960x540.
    const double kShapes[3] = {720.0 / 480.0, 720.0 / 576.0, 960.0 / 540.0};
    const double shape = double(theWidth) / double(theHeight);
    SInt16 nearest = 1;
    for (SInt16 n = 2; n <= 3; ++n)
        if (std::fabs(std::log(shape / kShapes[n - 1])) < std::fabs(std::log(shape / kShapes[nearest - 1])))
            nearest = n;
    return nearest;
}

void pGetConfigSize(UInt32& theSize)
{
    theSize = sizeof(pluginDataRec);
}

void pNewConfig(Ptr& theData)
{
    UInt32 theSize;
    pGetConfigSize(theSize);
    theData = NewPtrClear(static_cast<Size>(theSize));
    Assert(theData, PStr("Unable to allocate new data structure in pNewConfig"));
}

void pCopyConfig(pluginDataPtr source, pluginDataPtr dest)
{
    if (source == nullptr || dest == nullptr)
        return;
    if (GetPtrSize(reinterpret_cast<Ptr>(source)) != GetPtrSize(reinterpret_cast<Ptr>(dest)))
        Terminate(PStr("Non-Matching Blocks"), PStr("The Size of Source and Dest do not match"));
    if (source == dest)
        return;
    std::memcpy(dest, source, sizeof(pluginDataRec));
    dest->TheRendered = nullptr;
    if (source->TheRendered != nullptr)
        dest->TheRendered = CGImageCreateCopy(source->TheRendered);
    dest->TheOriginalImage = nullptr;
}

void pUncopyConfig(pluginDataPtr theData)
{
    Assert(theData, PStr("Nil data in pUncopyConfig"));
    if (theData->TheRendered != nullptr) {
        CGImageRelease(theData->TheRendered);
        theData->TheRendered = nullptr;
    }
}

void pDestroyConfig(Ptr aConfig)
{
    if (aConfig != nullptr)
        DisposePtr(aConfig);
}

SInt16 GetMediaFormat(pluginDataPtr theData)
{
    if (theData == nullptr)
        return 1;
    return theData->MediaType;
}

void DoEffect(pluginDataPtr MyConfig, PluginParams* /*Params*/, GWorldPtr TheSource,
              GWorldPtr TheTarget, SInt32 CurrentFrameIndex, SInt32 /*FadeInFrames*/,
              SInt32 /*FadeOutFrames*/, SInt32 TotalFrames, Float32 /*S1*/, Float32 /*S2*/,
              Float32 /*S3*/, SInt16& /*Opacity*/)
{
    Assert(MyConfig,
           PStr("uninited theData in Plugin Effect master proc. need to call init before calling me"));
    SavedGWorld savedGWorld;
    DoPixelEffect(TheSource, TheTarget, MyConfig, CurrentFrameIndex, TotalFrames);
}
