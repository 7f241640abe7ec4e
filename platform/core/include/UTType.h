// Uniform type identifiers: a fixed table of common types with their file
// name extensions, four-character file types and conformance.
//
// Identifiers compare without regard to ASCII case. A tag that no known type
// carries gives a dynamic identifier ("dyn." ...) that conforms to
// public.data and public.item.
#pragma once

#include "CoreFoundation.h"
#include "MacTypes.h"

#define kUTTagClassFilenameExtension CFSTR("public.filename-extension")
#define kUTTagClassOSType CFSTR("com.apple.ostype")

#define kUTTypeItem CFSTR("public.item")
#define kUTTypeContent CFSTR("public.content")
#define kUTTypeData CFSTR("public.data")
#define kUTTypeImage CFSTR("public.image")
#define kUTTypeJPEG CFSTR("public.jpeg")
#define kUTTypePNG CFSTR("public.png")
#define kUTTypeTIFF CFSTR("public.tiff")
#define kUTTypePDF CFSTR("com.adobe.pdf")
#define kUTTypeMovie CFSTR("public.movie")
#define kUTTypeMPEG4 CFSTR("public.mpeg-4")
#define kUTTypeQuickTimeMovie CFSTR("com.apple.quicktime-movie")
#define kUTTypeText CFSTR("public.text")
#define kUTTypePlainText CFSTR("public.plain-text")

// The preferred identifier for the tag (an extension without its dot, or a
// four-character type as UTCreateStringForOSType writes it) among the types
// that conform to inConformingToUTI (any type when nil); an unknown tag
// gives its dynamic identifier when that conforms. A new string that the
// caller releases; nil for a nil or empty tag, an unknown tag class or no
// conforming type.
TB_EXPORT CFStringRef UTTypeCreatePreferredIdentifierForTag(CFStringRef inTagClass, CFStringRef inTag,
                                                            CFStringRef inConformingToUTI);
// The four characters of the code as a new string; empty for 0.
TB_EXPORT CFStringRef UTCreateStringForOSType(OSType inOSType);
// True when inUTI is inConformsToUTI or conforms to it through its chain;
// false when either is nil.
TB_EXPORT Boolean UTTypeConformsTo(CFStringRef inUTI, CFStringRef inConformsToUTI);
