// The image box: a custom control that shows an image fitted and centred on
// white with a one-pixel black border; pressed, it shows inverted.
//
// A control value is 32 bits and cannot hold an image pointer, so the value
// is an image number from PictureControlImageNumber; 0, or a number that
// names no image, shows an empty box. The box neither retains nor releases
// the image: its owner keeps it alive while a box shows its number.
#pragma once

#include "CarbonEvents.h"
#include "CoreGraphics.h"
#include "MacTypes.h"

// See clipCTRL.h for the class ids.
inline constexpr char cImageCtrlID[] = "com.brimtone.plugin.imageCTRL";

void RegisterPictureControl();
void UnregisterPictureControl();
OSStatus PictureControlHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                               void* inUserData);

// A number for theImage, the same while it stays listed; 0 for nil.
SInt32 PictureControlImageNumber(CGImageRef theImage);
// Drops the image from the list; its number then shows an empty box.
void ForgetPictureControlImage(CGImageRef theImage);
// The image of a number; nil for 0 and unknown numbers.
CGImageRef PictureControlImage(SInt32 theNumber);
