// The host front end: the entry point and the handlers of the host's
// selectors for the Brimtone filter.
#pragma once

#include "Effects/AdjustColors/HostInterface.h"
#include "MacTypes.h"
#include "QuickDraw.h"
#include "plugin/PluginDefines.h"

// The per-pass block hung on PluginParams.clientData; allocated and freed
// through the host's memory callbacks.
struct EffectData {
    SInt32 frameCount;         // not used
    SInt32 effectSourceCount;  // 1 once the pass began
    Float32 sliderValues[3];   // the host's sliders; not used for rendering
    SInt32 fadeInFrames;       // clamped, never negative
    SInt32 fadeOutFrames;
    GWorldPtr effectGWorld;    // the frame's working buffer; nil between frames
    pluginDataPtr configCopy;  // the pass renders with this copy of the master
};
typedef EffectData* EffectDataPtr;

// String lists of the bundle's resources.
inline constexpr SInt16 kSliderLabelsID = 128;
inline constexpr SInt16 kSliderEndLabelsID = 129;
inline constexpr SInt16 kButtonTitleID = 130;
inline constexpr SInt16 kGroupNameID = 17000;

inline constexpr SInt32 kBaseMemoryNeeded = 50000;
inline constexpr SInt16 kMixAudioLevel = 256;
// Proxy renderings of frames up to this height are fetched at low quality.
inline constexpr SInt16 kProxyLowQualityMaxHeight = 259;

// The entry point's work; the bundle exports it under the name "main".
SInt32 BrimtoneMain(SInt32 which, PluginParams* params);

HYPluginResult EffectGetInfos(SInt16 which, PluginParams* params);
void SetFilterParamInfos(SInt16 which, PluginParams* params);
HYPluginResult EffectBegins(SInt16 which, PluginParams* params);
HYPluginResult EffectDrives(SInt16 which, PluginParams* params);
HYPluginResult ApplyEffect(GWorldPtr sourceFrame, PluginParams* params);
void ApplyLineArtEffect(GWorldPtr sourceFrame, GWorldPtr targetFrame, PluginParams* params);
HYPluginResult EffectEnds(SInt16 which, PluginParams* params);
HYPluginResult MakeEffectPlaceHolders(SInt16 which, PluginParams* params);
HYPluginResult CustomButtons(SInt16 which, PluginParams* params);

// What the effect's button runs on its preview frame (ConfigurePlugIn's
// signature); false when the user's OK could not save the settings. The
// effect library has no dialog: the bundle's entry installs ConfigurePlugIn,
// and without a routine the button fetches no frame and answers kPluginOK.
using ConfigureProcPtr = Boolean (*)(pluginDataPtr theData, GWorldPtr theGW, PluginParams* params,
                                     SInt32 firstFrameIndex, SInt32 numberOfFrames, SInt32 currentFrame);
void SetConfigureProc(ConfigureProcPtr theProc);

// The host's fade counts made fit for a clip of frameCount frames: negative
// counts become 0; two fades share the clip, one alone may fill it.
// A frame index the host can be asked for, or -1 when the sum is negative or
// leaves the 32-bit range.
SInt32 AbsoluteFrameIndex(SInt32 base, SInt32 offset);
HYRefDVQuality FrameQuality(const PluginParams* params, SInt32 height);
void ClampFades(SInt32& fadeInFrames, SInt32& fadeOutFrames, SInt32 frameCount);
// Whether renderFrame lies in a fade, and the opacity (0 to 255) at which
// the untouched frame is laid over the effect there.
Boolean FadeFrameOpacity(SInt32 renderFrame, SInt32 fadeInFrames, SInt32 fadeOutFrames,
                         SInt32 frameCount, SInt16& opacity);
// Width and height of the dialog's preview frame for a media type.
void PreviewSizeForMedia(SInt16 theMediaType, SInt16& width, SInt16& height);
