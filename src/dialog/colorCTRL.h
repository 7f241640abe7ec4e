// Colour boxes "Colr" 1..6: a filled rectangle of the box's colour that
// opens the Color Picker when clicked. The value is the colour packed as
// 0xRRGGBB; the box's command then tells the dialog to take it over.
#pragma once

#include "CarbonEvents.h"
#include "MacTypes.h"
#include "QuickDraw.h"

// See clipCTRL.h for the class ids.
inline constexpr char cColorCtrlID[] = "com.brimtone.plugin.color";

void RegisterColorBox();
void UnregisterColorBox();
OSStatus ColorBoxControlHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                void* inUserData);
// Paints theRect in theColor in the current port and frames it in black.
void ColorBoxDraw(Rect theRect, RGBColor theColor);
// True with outColor set when the user chose a colour; outColor is left as
// it was otherwise.
Boolean UseColorPicker(Point where, ConstStr255Param prompt, RGBColor inColor,
                       RGBColor& outColor);

