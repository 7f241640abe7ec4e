// Core Foundation URLs, and file references (FSRef) made from paths.
//
// A file URL's text is "file://" followed by the percent-encoded absolute
// path; a directory's URL ends in "/". Other URLs are kept as text only.
#pragma once

#include "CoreFoundation.h"
#include "Files.h"
#include "MacTypes.h"

#include <string>

struct OpaqueCFURL;
typedef const OpaqueCFURL* CFURLRef;

// Option dictionaries are accepted for source compatibility and ignored.
struct __CFDictionary;
typedef const struct __CFDictionary* CFDictionaryRef;

typedef CFIndex CFURLPathStyle;
enum : CFIndex {
    kCFURLPOSIXPathStyle = 0,
};

// Nil when the text holds characters that a URL cannot carry (blanks,
// control characters, non-ASCII, broken percent escapes) or is empty.
// A base URL is not supported: nil when one is given.
TB_EXPORT CFURLRef CFURLCreateWithString(CFAllocatorRef allocator, CFStringRef URLString, CFURLRef baseURL);
// The URL's text; owned by the URL.
TB_EXPORT CFStringRef CFURLGetString(CFURLRef anURL);
// True when the URL names an existing file or folder.
TB_EXPORT Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef);
TB_EXPORT CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef* fsRef);

// File references. An FSRef names an existing item by its path; the path
// is kept in a process-wide table, so an FSRef can be copied freely.
TB_EXPORT OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);

// For the toolbox libraries: the path of a file URL (empty for others) and
// the path behind an FSRef (false when it is not one).
TB_EXPORT std::string TBCFURLGetPath(CFURLRef url);
TB_EXPORT bool TBFSRefGetPath(const FSRef* ref, std::string& path);
TB_EXPORT CFURLRef TBCFURLCreateWithPath(const std::string& path, bool isDirectory);
