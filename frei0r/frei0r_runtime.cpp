// The two services of the plug-in's common module that the saved
// configuration's reader calls, without the alert machinery of the dialog
// layer: a frei0r filter has no display of its own.
#include "common/CommonProcs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Processes.h"

void CString2PString(const char* theCString, Str255 outString)
{
    outString[0] = 0;
    if (theCString == nullptr)
        return;
    const size_t length = std::min<size_t>(std::strlen(theCString), 255);
    std::memcpy(outString + 1, theCString, length);
    outString[0] = static_cast<unsigned char>(length);
}

void Assert(const void* thePtr, ConstStr255Param failLocation)
{
    if (thePtr != nullptr)
        return;
    const int length = failLocation != nullptr ? failLocation[0] : 0;
    std::fprintf(stderr, "brimtone: Assertion Failure: Assertion failed in: %.*s\n", length,
                 failLocation != nullptr ? reinterpret_cast<const char*>(failLocation + 1) : "");
    ExitToShell();
}
