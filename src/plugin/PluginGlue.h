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
// alert.
void InitMyPlugIn(pluginDataPtr& theData);
void InitPluginData(pluginDataPtr theConfig);

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
// first preview and runs the configuration dialog. In the dialog library:
// the front end reaches it through SetConfigureProc.
void ConfigurePlugIn(pluginDataPtr TheData, GWorldPtr TheGW, PluginParams* Params,
                     SInt32 FirstFrameIndex, SInt32 NumberOfFrames);
