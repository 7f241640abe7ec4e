// QuickTime graphics importers on Qt's image readers: a file's first image
// as a Core Graphics image or as a QuickDraw picture.
#pragma once

#include "CoreGraphics.h"
#include "Files.h"
#include "MacTypes.h"
#include "QuickDraw.h"

struct ComponentInstanceRecord;
typedef ComponentInstanceRecord* ComponentInstance;
typedef ComponentInstance GraphicsImportComponent;
typedef SInt32 ComponentResult;

enum {
    invalidComponentID = -3000,
    noCodecErr = -8961,
    codecErr = -8960,
};

enum : UInt32 {
    kGraphicsImportCreateCGImageUsingCurrentSettings = 1,
};

// An importer for a file that a reader knows; noCodecErr (and nil) for
// other files, fnfErr for a missing one. Closed with CloseComponent.
TB_EXPORT OSErr GetGraphicsImporterForFile(const FSSpec* theFile, ComponentInstance* gi);
// A new picture of the image's size whose frame starts at (0,0), recorded
// from a 32-bit buffer holding the image's pixels; the caller kills it.
// codecErr when the file does not decode, memFullErr without memory.
TB_EXPORT ComponentResult GraphicsImportGetAsPicture(GraphicsImportComponent ci, PicHandle* picture);
// A new image that the caller releases; flags are accepted and ignored.
TB_EXPORT ComponentResult GraphicsImportCreateCGImage(GraphicsImportComponent ci, CGImageRef* imageRef,
                                                      UInt32 flags);
// invalidComponentID for nil or a closed importer.
TB_EXPORT OSErr CloseComponent(ComponentInstance aComponentInstance);
