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

// A relative path is taken against the current directory.
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef allocator, CFStringRef filePath,
                                       CFURLPathStyle pathStyle, Boolean isDirectory);
CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef allocator, const UInt8* buffer,
                                                 CFIndex bufLen, Boolean isDirectory);
// Nil when the text holds characters that a URL cannot carry (blanks,
// control characters, non-ASCII, broken percent escapes) or is empty.
// A base URL is not supported: nil when one is given.
CFURLRef CFURLCreateWithString(CFAllocatorRef allocator, CFStringRef URLString, CFURLRef baseURL);
// The URL's text; owned by the URL.
CFStringRef CFURLGetString(CFURLRef anURL);
// The path of a file URL without a trailing slash; nil for other URLs.
CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle);
// The path as zero-terminated UTF-8; false for other URLs or too small a buffer.
Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer,
                                         CFIndex maxBufLen);
// True when the URL names an existing file or folder.
Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef);
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef* fsRef);

// File references. An FSRef names an existing item by its path; the path
// is kept in a process-wide table, so an FSRef can be copied freely.
OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);
// fnfErr for an FSRef that was not made by FSPathMakeRef; the path is UTF-8.
OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);

// For the toolbox libraries: the path of a file URL (empty for others) and
// the path behind an FSRef (false when it is not one).
std::string TBCFURLGetPath(CFURLRef url);
bool TBFSRefGetPath(const FSRef* ref, std::string& path);
CFURLRef TBCFURLCreateWithPath(const std::string& path, bool isDirectory);
