// Basic value types of the Mac toolbox, as the platform defines them.
#pragma once

#include <cstddef>
#include <cstdint>

// The toolbox libraries are built with hidden symbols; what their headers
// mark with TB_EXPORT is what the plug-in, the host and the other toolbox
// library may call.
#define TB_EXPORT __attribute__((visibility("default")))

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef float Float32;
typedef double Float64;
typedef SInt32 Fixed;

// The toolbox's Boolean is one byte, as stored records rely on.
typedef unsigned char Boolean;

typedef char* Ptr;
typedef Ptr* Handle;
typedef long Size;

typedef SInt16 OSErr;
typedef SInt32 OSStatus;
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;
typedef UInt32 OptionBits;
typedef SInt16 ScriptCode;
typedef UInt16 UniChar;

// Length-prefixed strings: one length byte, then the characters.
typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char Str32[33];
typedef unsigned char Str31[32];
typedef unsigned char Str15[16];
typedef unsigned char* StringPtr;
typedef const unsigned char* ConstStringPtr;
typedef const unsigned char* ConstStr255Param;
typedef const unsigned char* ConstStr63Param;
typedef const unsigned char* ConstStr31Param;

enum { noErr = 0 };

struct Point {
    SInt16 v;
    SInt16 h;
};
typedef Point* PointPtr;

struct Rect {
    SInt16 top;
    SInt16 left;
    SInt16 bottom;
    SInt16 right;
};
typedef Rect* RectPtr;

struct RGBColor {
    UInt16 red;
    UInt16 green;
    UInt16 blue;
};
typedef RGBColor* RGBColorPtr;

// Four-character code from a literal such as 'Pref' is implementation-defined
// in C++; this spelling is exact on every compiler.
constexpr FourCharCode FOUR_CHAR_CODE(const char (&text)[5])
{
    return (FourCharCode(UInt8(text[0])) << 24) | (FourCharCode(UInt8(text[1])) << 16) |
           (FourCharCode(UInt8(text[2])) << 8) | FourCharCode(UInt8(text[3]));
}
