#include "dialog/sliderHandlers.h"

#include <algorithm>

#include "Effects/iMovieGlue.h"
#include "common/CommonProcs.h"
#include "dialog/carbonmacros.h"
#include "effect/CallPixelFX.h"
#include "effect/lineEffect.h"
#include "plugin/PluginDefines.h"
#include "plugin/globals.h"

namespace {

constexpr OSType kSliderSig = FOUR_CHAR_CODE("Sldr");
constexpr OSType kLegendSig = FOUR_CHAR_CODE("Lgnd");
constexpr OSType kLabelSig = FOUR_CHAR_CODE("Labl");
constexpr OSType kClipSliderSig = FOUR_CHAR_CODE("ClpS");
constexpr OSType kClipTextSig = FOUR_CHAR_CODE("ClpM");

void ShowFramePosition(SInt32 theFrame)
{
    Str255 theText;
    FramePositionText(theFrame, gConfigWorkSpace.MaxFrameIndex, theText);
    SimpleSetControlText(gConfigWorkSpace.TheWindow, kClipTextSig, 1, theText);
}

}  // namespace

void FramePositionText(SInt32 theFrame, SInt32 theLast, Str255 outText)
{
    Num2Text(theFrame, outText);
    AppendPString(outText, PStr("/"));
    Str255 theLastText;
    Num2Text(theLast, theLastText);
    AppendPString(outText, theLastText);
}

void SliderValueText(SInt32 theValue, Str255 outText)
{
    Num2Text(theValue, outText);
    AppendPString(outText, PStr("%"));
}

void SetupSliders(WindowRef theWindow)
{
    static const PStr kMissing[cNumSliders] = {
        PStr("Cannot access slider 1"), PStr("Cannot access slider 2"),
        PStr("Cannot access slider 3"), PStr("Cannot access slider 4"),
        PStr("Cannot access slider 5"), PStr("Cannot access slider 6"),
    };
    pluginDataPtr theConfig = gConfigWorkSpace.TheConfig;
    Assert(theConfig, PStr("Nil theConfig in SetupSliders"));

    ControlRef theControl = SimpleGetControlByID(theWindow, kSliderSig, 1);
    Assert(theControl, kMissing[0]);
    gConfigWorkSpace.Sliders[0] = theControl;
    SetControlAction(theControl, NewControlActionUPP(Slider1Action));
    SetControl32BitValue(theControl, theConfig->Sliders[kThresholdSlider]);
    Str255 theText;
    SliderValueText(theConfig->Sliders[kThresholdSlider], theText);
    SimpleSetControlText(theWindow, kLegendSig, 1, theText);

    for (SInt16 n = 2; n <= cNumSliders; ++n) {
        theControl = SimpleGetControlByID(theWindow, kSliderSig, n);
        Assert(theControl, kMissing[n - 1]);
        gConfigWorkSpace.Sliders[n - 1] = theControl;
        SimpleHideControl(theWindow, kSliderSig, n);
        SimpleHideControl(theWindow, kLegendSig, n);
        SimpleHideControl(theWindow, kLabelSig, n);
    }

    theControl = SimpleGetControlByID(theWindow, kClipSliderSig, 1);
    Assert(theControl, PStr("Cannot access clip slider"));
    gConfigWorkSpace.ClipSlider = theControl;
    SetControlAction(theControl, NewControlActionUPP(ClipSliderAction));
    SetControl32BitMinimum(theControl, 0);
    SetControl32BitMaximum(theControl, gConfigWorkSpace.MaxFrameIndex);
    SetControl32BitValue(theControl, gConfigWorkSpace.CurrFrameIndex);
    FramePositionText(gConfigWorkSpace.CurrFrameIndex, gConfigWorkSpace.MaxFrameIndex, theText);
    SimpleSetControlText(theWindow, kClipTextSig, 1, theText);
}

void ReRenderAndBlit()
{
    if (gConfigWorkSpace.SourceClip != nullptr && gConfigWorkSpace.TheFXClip != nullptr)
        CallPixelEffect(gConfigWorkSpace.SourceClip, gConfigWorkSpace.TheFXClip);
    ControlRef theFrame = gConfigWorkSpace.TheFrameCtrl;
    if (theFrame == nullptr)
        return;
    // The value means "redraw": changing it makes the toolbox draw the preview.
    SetControl32BitValue(theFrame, GetControl32BitValue(theFrame) != 0 ? 0 : 1);
}

void AccessRenderAndBlit(SInt32 theVal)
{
    if (gConfigWorkSpace.SourceClip != nullptr && gConfigWorkSpace.IMovieParams != nullptr) {
        const SInt64 theIndex = SInt64(gConfigWorkSpace.MinFrameIndex) + theVal;
        if (theIndex >= INT32_MIN && theIndex <= INT32_MAX)
            GetFrameIntoGW(gConfigWorkSpace.SourceClip, gConfigWorkSpace.IMovieParams,
                           SInt32(theIndex), cUseDisposeGWInSlider);
    }
    ReRenderAndBlit();
}

void Slider1Action(ControlRef theControl, ControlPartCode /*thePart*/)
{
    pluginDataPtr theConfig = gConfigWorkSpace.TheConfig;
    if (theConfig == nullptr)
        return;
    const SInt32 theValue = GetControl32BitValue(theControl);
    theConfig->Sliders[kThresholdSlider] = SInt16(std::clamp<SInt32>(theValue, -32768, 32767));
    Str255 theText;
    SliderValueText(theValue, theText);
    SimpleSetControlText(gConfigWorkSpace.TheWindow, kLegendSig, 1, theText);
    RenderLineArt(theConfig);
    ReRenderAndBlit();
}

void ClipSliderAction(ControlRef theControl, ControlPartCode /*thePart*/)
{
    const SInt32 theValue = GetControl32BitValue(theControl);
    gConfigWorkSpace.CurrFrameIndex = theValue;
    ShowFramePosition(theValue);
    AccessRenderAndBlit(theValue);
}

void KillSliders() {}
