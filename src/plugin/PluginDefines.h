// Build constants of the plug-in and its configuration record.
#pragma once

#include "BrimtoneVersion.h"
#include "MacTypes.h"
#include "graphics/relRects.h"

// Same typedef as CoreGraphics.h; repeating it is legal and keeps this header
// free of the graphics library.
typedef struct CGImage* CGImageRef;

// ---- Product ---------------------------------------------------------------

inline constexpr char cMyPluginName[] = "brimtone";
inline constexpr char cMyClearName[] = "Brimtone";
inline constexpr char cMyBundleID[] = "com.brimtone.plugin.Brimtone";
inline constexpr char cProductCode[] = "kavlo";
// The preferences file is cProductCode followed by cPrefName.
inline constexpr char cPrefName[] = "-Prefs";
inline constexpr OSType cPrefsType = FOUR_CHAR_CODE("Pref");
inline constexpr OSType cPrefsCreator = FOUR_CHAR_CODE("Dorv");

#if defined(__x86_64__)
#define BRIMTONE_ARCH "x86_64"
#elif defined(__i386__)
#define BRIMTONE_ARCH "i386"
#elif defined(__aarch64__)
#define BRIMTONE_ARCH "arm64"
#elif defined(__powerpc__) || defined(__ppc__)
#define BRIMTONE_ARCH "PPC"
#endif
#ifdef BRIMTONE_ARCH
inline constexpr char cPlugVersion[] = BRIMTONE_VERSION " (" BRIMTONE_ARCH " Linux)";
#else
inline constexpr char cPlugVersion[] = BRIMTONE_VERSION " (Linux)";
#endif
#undef BRIMTONE_ARCH
inline constexpr SInt32 cPlugVersionNum =
    (BRIMTONE_VERSION_MAJOR << 16) | (BRIMTONE_VERSION_MINOR << 8) | BRIMTONE_VERSION_PATCH;

// ---- Controls in use -------------------------------------------------------

inline constexpr int cUsesColor1 = 1;
inline constexpr int cUsesColor2 = 1;
inline constexpr int cUsesColor3 = 0;
inline constexpr int cUsesColor4 = 0;
inline constexpr int cUsesColor5 = 0;
inline constexpr int cUsesColor6 = 0;

inline constexpr int cUsesSlider1 = 1;
inline constexpr int cUsesSlider2 = 0;
inline constexpr int cUsesSlider3 = 0;
inline constexpr int cUsesSlider4 = 0;
inline constexpr int cUsesSlider5 = 0;
inline constexpr int cUsesSlider6 = 0;

inline constexpr int cUsedNumberOfRects = 1;
inline constexpr int cHandleSize = 6;
// Room around the preview's picture for whole handles at the frame's edges.
inline constexpr int cPreviewMargin = cHandleSize + 1;
inline constexpr int cUseDisposeGWInSlider = 1;

// Layout version of a saved configuration.
inline constexpr UInt32 cConfigSaveVersion = 3;

// ---- Configuration record --------------------------------------------------

inline constexpr int cNumSliders = 6;
inline constexpr int cNumColors = 6;

// Slider and colour numbers 1 to 6 are array indices 0 to 5: Sliders[0] is
// slider 1 (the threshold), Colors[0] colour 1 (below the threshold),
// Colors[1] colour 2. These name them.
inline constexpr int kThresholdSlider = 0;
inline constexpr int kDarkColor = 0;
inline constexpr int kLightColor = 1;

// Copied as a block of sizeof(pluginDataRec) bytes; saved field by field.
struct pluginDataRec {
    relRect StartRel;
    relRect EndRel;
    SInt16 Sliders[cNumSliders];
    RGBColor Colors[cNumColors];
    RGBColor FrameStartColor;
    RGBColor FrameEndColor;
    SInt16 MediaType;  // 1 NTSC, 2 PAL, 3 HD
    Boolean Sync;
    Boolean Outside;
    Boolean ClipActive;
    CGImageRef TheOriginalImage;
    CGImageRef TheRendered;  // owned by the record
    Boolean KeepProps;
    Boolean TwoColors;
};
typedef pluginDataRec* pluginDataPtr;
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(pluginDataRec) == 144);
#endif

// ---- Dialog work record ----------------------------------------------------

#include "QuickDraw.h"

// Same spellings as the ui library, which completes these types.
typedef struct OpaqueControlRef* ControlRef;
typedef struct OpaqueWindowPtr* WindowPtr;

struct PluginParams;

// What the configuration dialog works on while it is open; its pointers are
// valid only then. Sliders[0] is slider 1, Colors[0] colour box 1.
struct pluginWorkSpace {
    pluginDataPtr TheConfig;
    PluginParams* IMovieParams;
    GWorldPtr SourceClip;
    GWorldPtr TheFXClip;
    SInt32 CurrFrameIndex;
    SInt32 MinFrameIndex;
    SInt32 MaxFrameIndex;
    SInt16 ActiveRel;
    ControlRef TheFrameCtrl;
    ControlRef Sliders[cNumSliders];
    ControlRef ClipSlider;
    ControlRef Colors[cNumColors];
    WindowPtr TheWindow;
};
