#include "dialog/sliderHandlers.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "Effects/iMovieGlue.h"
#include "common/CommonProcs.h"
#include "dialog/carbonmacros.h"
#include "dialog/dlgUtils.h"
#include "effect/CallPixelFX.h"
#include "effect/lineEffect.h"
#include "plugin/DataHandling.h"
#include "plugin/PluginDefines.h"
#include "plugin/globals.h"

namespace {

constexpr OSType kSliderSig = FOUR_CHAR_CODE("Sldr");
constexpr OSType kLegendSig = FOUR_CHAR_CODE("Lgnd");
constexpr OSType kLabelSig = FOUR_CHAR_CODE("Labl");
constexpr OSType kClipSliderSig = FOUR_CHAR_CODE("ClpS");
constexpr OSType kClipTextSig = FOUR_CHAR_CODE("ClpM");
constexpr OSType kThresholdFieldSig = FOUR_CHAR_CODE("Sval");
constexpr OSType kEdgeFieldSig = FOUR_CHAR_CODE("Redg");

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
    SimpleSetControlValueByID(theWindow, kThresholdFieldSig, 1, theConfig->Sliders[kThresholdSlider]);
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
    ShowRegionValues();
    RenderPreview();
    ControlRef theFrame = gConfigWorkSpace.TheFrameCtrl;
    if (theFrame == nullptr)
        return;
    // The value means "redraw": changing it makes the toolbox draw the preview.
    SetControl32BitValue(theFrame, GetControl32BitValue(theFrame) != 0 ? 0 : 1);
}

void AccessRenderAndBlit(SInt32 theVal, Boolean quick)
{
    if (gConfigWorkSpace.SourceClip != nullptr && gConfigWorkSpace.IMovieParams != nullptr) {
        const SInt64 theIndex = SInt64(gConfigWorkSpace.MinFrameIndex) + theVal;
        if (theIndex >= INT32_MIN && theIndex <= INT32_MAX)
            GetFrameIntoGW(gConfigWorkSpace.SourceClip, gConfigWorkSpace.IMovieParams,
                           SInt32(theIndex), cUseDisposeGWInSlider, quick);
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
    SimpleSetControlValueByID(gConfigWorkSpace.TheWindow, kThresholdFieldSig, 1, theValue);
    RenderLineArt(theConfig);
    ReRenderAndBlit();
}

// While the thumb moves, a nearby frame that decodes at once keeps the
// preview with the mouse on long stretches between key frames; the exact
// frame comes when it is let go (ClipSliderReleased).
void ClipSliderAction(ControlRef theControl, ControlPartCode /*thePart*/)
{
    const SInt32 theValue = GetControl32BitValue(theControl);
    gConfigWorkSpace.CurrFrameIndex = theValue;
    ShowFramePosition(theValue);
    AccessRenderAndBlit(theValue, true);
}

void ClipSliderReleased()
{
    ControlRef theSlider = gConfigWorkSpace.ClipSlider;
    if (theSlider == nullptr)
        return;
    const SInt32 theValue = GetControl32BitValue(theSlider);
    gConfigWorkSpace.CurrFrameIndex = theValue;
    ShowFramePosition(theValue);
    AccessRenderAndBlit(theValue);
}

void KillSliders() {}

void ThresholdTyped(WindowRef theWindow)
{
    ControlRef theSlider = gConfigWorkSpace.Sliders[kThresholdSlider];
    if (theSlider == nullptr)
        return;
    // Through the slider, which keeps it in its range; the action does the rest.
    SetControl32BitValue(theSlider, SimpleGetControlValueByID(theWindow, kThresholdFieldSig, 1));
    Slider1Action(theSlider, 0);
}

void ShowRegionValues()
{
    pluginDataPtr theConfig = gConfigWorkSpace.TheConfig;
    WindowRef theWindow = gConfigWorkSpace.TheWindow;
    if (theConfig == nullptr || theWindow == nullptr)
        return;
    const relRect& r = theConfig->StartRel;
    const double edges[4] = {r.left, r.top, r.right, r.bottom};
    for (SInt16 n = 1; n <= 4; ++n) {
        const double percent = std::clamp(edges[n - 1] * 100.0, -1e6, 1e6);
        SimpleSetControlValueByID(theWindow, kEdgeFieldSig, n, SInt32(std::lround(percent)));
    }
}

void RegionEdgeTyped(WindowRef theWindow, SInt16 theEdge)
{
    pluginDataPtr theConfig = gConfigWorkSpace.TheConfig;
    if (theConfig == nullptr || theEdge < 1 || theEdge > 4)
        return;
    relRect theRel = GetCurrentRel();
    double* const edges[4] = {&theRel.left, &theRel.top, &theRel.right, &theRel.bottom};
    *edges[theEdge - 1] = SimpleGetControlValueByID(theWindow, kEdgeFieldSig, theEdge) / 100.0;
    // An edge typed past the opposite one turns the region round, as a
    // corner dragged past the opposite one does.
    if (theRel.left > theRel.right)
        std::swap(theRel.left, theRel.right);
    if (theRel.top > theRel.bottom)
        std::swap(theRel.top, theRel.bottom);
    PutCurrentRel(theRel);
    if (theConfig->KeepProps)
        CalcAndKeepImageProps();
    ReRenderAndBlit();
}
