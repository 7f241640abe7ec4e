#include "plugin/DataHandling.h"

#include "plugin/globals.h"

namespace {

RGBColor MakeRGB(UInt16 red, UInt16 green, UInt16 blue)
{
    RGBColor theColor;
    theColor.red = red;
    theColor.green = green;
    theColor.blue = blue;
    return theColor;
}

}  // namespace

void ResetConfig(pluginDataPtr theConfig, Boolean fullInit)
{
    if (theConfig == nullptr)
        return;
    InitRelRect(theConfig->StartRel);
    InitRelRect(theConfig->EndRel);

    theConfig->Colors[kDarkColor] = MakeRGB(0, 0, 65535);
    theConfig->Colors[kLightColor] = MakeRGB(65535, 65535, 65535);
    for (int i = 2; i < cNumColors; ++i)
        theConfig->Colors[i] = MakeRGB(0, 0, 0);

    theConfig->Sliders[kThresholdSlider] = 17;
    for (int i = 1; i < cNumSliders; ++i)
        theConfig->Sliders[i] = 0;

    theConfig->FrameStartColor = MakeRGB(65535, 0, 0);
    theConfig->MediaType = 1;
    theConfig->KeepProps = false;
    theConfig->TwoColors = true;
    if (fullInit) {
        theConfig->TheOriginalImage = nullptr;
        theConfig->TheRendered = nullptr;
    }
    theConfig->Sync = false;
    theConfig->Outside = true;
    theConfig->ClipActive = false;
}

relRect GetCurrentRel()
{
    if (gConfigWorkSpace.TheConfig == nullptr) {
        relRect theWhole;
        InitRelRect(theWhole);
        return theWhole;
    }
    return gConfigWorkSpace.TheConfig->StartRel;
}

void PutCurrentRel(relRect theRel)
{
    if (gConfigWorkSpace.TheConfig != nullptr)
        gConfigWorkSpace.TheConfig->StartRel = theRel;
}
