// Core Foundation subset: reference-counted objects and immutable strings.
//
// Strings hold UTF-16 code units, as on the platform, so lengths and indices
// count UTF-16 units. Conversions to and from bytes use the encodings below;
// Mac OS Roman is exact both ways for all 256 bytes.
#pragma once

#include "MacTypes.h"

#include <atomic>
#include <string>

typedef long CFIndex;
typedef unsigned long CFHashCode;
typedef const void* CFTypeRef;
typedef UInt32 CFStringEncoding;
typedef CFIndex CFComparisonResult;
typedef OptionBits CFStringCompareFlags;

struct CFRange {
    CFIndex location;
    CFIndex length;
};
inline CFRange CFRangeMake(CFIndex location, CFIndex length)
{
    return CFRange{location, length};
}

// Allocators are accepted for source compatibility; every object comes from
// the C++ heap.
struct OpaqueCFAllocator;
typedef const OpaqueCFAllocator* CFAllocatorRef;
constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

enum : CFStringEncoding {
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingISOLatin1 = 0x0201,
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUTF8 = 0x08000100,
};

enum : CFIndex {
    kCFCompareLessThan = -1,
    kCFCompareEqualTo = 0,
    kCFCompareGreaterThan = 1,
};

enum : CFStringCompareFlags {
    // Folds ASCII letters only.
    kCFCompareCaseInsensitive = 1,
};

constexpr CFIndex kCFNotFound = -1;

// Base of every Core Foundation object of the toolbox, so that CFRetain,
// CFRelease and CFEqual work on strings, URLs and bundles alike. A toolbox
// library that adds a Core Foundation type derives from it and hands out
// pointers to the derived object; the count starts at 1 (the creator's
// reference) and the object deletes itself when it drops to 0.
struct TB_EXPORT TBCFObject {
    TBCFObject() = default;
    TBCFObject(const TBCFObject&) = delete;
    TBCFObject& operator=(const TBCFObject&) = delete;
    virtual ~TBCFObject();

    // Value equality for CFEqual; the default is identity.
    virtual bool Equals(const TBCFObject& other) const;

    std::atomic<CFIndex> retainCount{1};
    // Constant objects (CFSTR) ignore retain and release.
    bool immortal = false;
};

TB_EXPORT CFTypeRef CFRetain(CFTypeRef cf);
// Nil is ignored.
TB_EXPORT void CFRelease(CFTypeRef cf);

// Strings
struct OpaqueCFString;
typedef const OpaqueCFString* CFStringRef;

// A constant string of UTF-8 text that lives as long as the process; the
// same text always gives the same object.
TB_EXPORT CFStringRef TBCFSTR(const char* cStr);
#define CFSTR(cStr) TBCFSTR("" cStr "")

// Creation fails (nil) when the bytes are not valid in the encoding or the
// encoding is not one of the above.
TB_EXPORT CFStringRef CFStringCreateWithPascalString(CFAllocatorRef alloc, ConstStr255Param pStr,
                                                     CFStringEncoding encoding);
TB_EXPORT CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                                CFStringEncoding encoding);
// Strings are immutable, so the copy is the same object, retained.
TB_EXPORT CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef theString);

TB_EXPORT CFIndex CFStringGetLength(CFStringRef theString);
TB_EXPORT UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx);

// False, with an empty result where the buffer has room for one, when the
// text does not fit in bufferSize - 1 bytes (at most 255 for a Pascal
// string) or holds a character that the encoding lacks.
TB_EXPORT Boolean CFStringGetPascalString(CFStringRef theString, StringPtr buffer, CFIndex bufferSize,
                                          CFStringEncoding encoding);
// As above, for a zero-terminated text in bufferSize bytes.
TB_EXPORT Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                                     CFStringEncoding encoding);


// For the toolbox libraries: the text as UTF-8 (nil gives an empty text;
// unpaired surrogates become U+FFFD) and a new string from UTF-8 (nil when
// the text is not valid UTF-8).
TB_EXPORT std::string TBCFStringToUTF8(CFStringRef theString);
TB_EXPORT CFStringRef TBCFStringCreateWithUTF8(const std::string& utf8);

// Used inside the toolbox only, so not exported.
// True for the same object and for objects of equal value (strings with the
// same characters); false when either is nil.
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);
// The range must lie inside the string; nothing is copied otherwise.
void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer);
// Compares UTF-16 code units.
CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions);
