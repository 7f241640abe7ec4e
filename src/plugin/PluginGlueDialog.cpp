// The dialog on a preview frame: the effect's button path, which the bundle
// hands to the front end (SetConfigureProc) so that the effect library never
// names the dialog.
#include "plugin/PluginGlue.h"

#include <algorithm>

#include "common/CommonProcs.h"
#include "dialog/clipCTRL.h"
#include "dialog/colorCTRL.h"
#include "dialog/configdlghandler.h"
#include "dialog/pictCTRL.h"
#include "effect/CallPixelFX.h"
#include "graphics/CommonProcs.h"
#include "plugin/globals.h"

Boolean ConfigurePlugIn(pluginDataPtr TheData, GWorldPtr TheGW, PluginParams* Params,
                        SInt32 FirstFrameIndex, SInt32 NumberOfFrames, SInt32 CurrentFrame)
{
    gTheConfig = TheData;
    gConfigWorkSpace.TheConfig = gTheConfig;
    gConfigWorkSpace.SourceClip = TheGW;
    gConfigWorkSpace.IMovieParams = Params;
    gConfigWorkSpace.MinFrameIndex = FirstFrameIndex;
    gConfigWorkSpace.MaxFrameIndex = std::max<SInt32>(NumberOfFrames, 1) - 1;
    gConfigWorkSpace.CurrFrameIndex = std::clamp<SInt32>(CurrentFrame, 0, gConfigWorkSpace.MaxFrameIndex);
    gConfigWorkSpace.ActiveRel = 1;

    gConfigWorkSpace.TheFXClip = AllocateRectGWorld(GetPortRect(TheGW));
    Assert(gConfigWorkSpace.TheFXClip, PStr("Unable to allocate theProcessed in ConffigurePlug Init run"));
    Assert(TheData,
           PStr("uninited theData in Configure master proc. need to call init before calling me"));

    CallPixelEffect(TheGW, gConfigWorkSpace.TheFXClip);

    RegisterColorBox();
    RegisterClipCtrl();
    RegisterPictureControl();
    const Boolean saved = DoConfig(gTheConfig);
    UnregisterClipCtrl();
    UnregisterColorBox();
    UnregisterPictureControl();

    DisposeGWorld(gConfigWorkSpace.TheFXClip);
    gConfigWorkSpace.TheFXClip = nullptr;
    return saved;
}
