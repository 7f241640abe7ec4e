// Everything the toolbox core offers, in one include.
#pragma once

#include "MacTypes.h"
#include "MacErrors.h"
#include "MacMemory.h"
#include "QuickDraw.h"
#include "CoreFoundation.h"
#include "CoreGraphics.h"
#include "Dialogs.h"
#include "Events.h"
#include "Processes.h"

#if __has_include("Resources.h")
#include "Resources.h"
#endif
#if __has_include("Files.h")
#include "Files.h"
#endif
#if __has_include("Folders.h")
#include "Folders.h"
#endif
