// Bridge between the host front end and the effect and dialog code: the
// configuration records' life, one rendered frame, and the dialog on a
// preview frame.
#pragma once

#include "Effects/AdjustColors/HostInterface.h"
#include "MacTypes.h"
#include "QuickDraw.h"
#include "plugin/PluginDefines.h"

// Makes sure the preferences file exists, then puts the defaults, overwritten
// by the saved configuration, into theData; the defaults are saved when the
// file holds no usable configuration. A nil theData ends the process with an
// alert. Where nothing is saved yet the media type is theFirstMediaType (the
// one nearest the clip's shape, MediaTypeForShape).
void InitMyPlugIn(pluginDataPtr& theData, SInt16 theFirstMediaType = 1);
void InitPluginData(pluginDataPtr theConfig, SInt16 theFirstMediaType = 1);
// The media type whose preview is nearest a picture of theWidth x theHeight
// in shape; 1 for a size that is not one.
SInt16 MediaTypeForShape(SInt32 theWidth, SInt32 theHeight);

// Size of a configuration block as the host allocates it.
void pGetConfigSize(UInt32& theSize);
void pNewConfig(Ptr& theData);
// Copies source into dest, giving dest its own copy of TheRendered and no
// TheOriginalImage. Blocks of different sizes end the process with an alert.
void pCopyConfig(pluginDataPtr source, pluginDataPtr dest);
// Releases what the record owns; the caller frees the block.
void pUncopyConfig(pluginDataPtr theData);
void pDestroyConfig(Ptr aConfig);
SInt16 GetMediaFormat(pluginDataPtr theData);

// Renders one frame of the effect from TheSource into TheTarget. Fades are
// the front end's: the frame numbers, fades, sliders and Opacity are carried
// but not used.
void DoEffect(pluginDataPtr MyConfig, PluginParams* Params, GWorldPtr TheSource,
              GWorldPtr TheTarget, SInt32 CurrentFrameIndex, SInt32 FadeInFrames,
              SInt32 FadeOutFrames, SInt32 TotalFrames, Float32 S1, Float32 S2, Float32 S3,
              SInt16& Opacity);

// Fills gConfigWorkSpace for TheData on the preview frame TheGW, renders the
// first preview and runs the configuration dialog. The frame slider counts
// the clip's NumberOfFrames frames, position 0 being FirstFrameIndex, and
// opens at CurrentFrame (brought into the clip). False when OK could not
// save the settings. In the dialog library: the front end reaches it
// through SetConfigureProc.
Boolean ConfigurePlugIn(pluginDataPtr TheData, GWorldPtr TheGW, PluginParams* Params,
                        SInt32 FirstFrameIndex, SInt32 NumberOfFrames, SInt32 CurrentFrame = 0);
