// Image I/O: image files read with Qt's image readers into Core Graphics
// images.
#pragma once

#include "CFURL.h"
#include "CoreGraphics.h"

#include <cstddef>

struct OpaqueCGImageSource;
typedef const OpaqueCGImageSource* CGImageSourceRef;

// Nil when the URL is not a file or no reader knows its format. Released
// with CFRelease.
TB_EXPORT CGImageSourceRef CGImageSourceCreateWithURL(CFURLRef url, CFDictionaryRef options);
TB_EXPORT size_t CGImageSourceGetCount(CGImageSourceRef isrc);
// Nil for an index past the count or an image that does not decode.
TB_EXPORT CGImageRef CGImageSourceCreateImageAtIndex(CGImageSourceRef isrc, size_t index, CFDictionaryRef options);
