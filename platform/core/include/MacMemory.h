// Memory Manager: pointer and handle blocks.
//
// Every block carries its size in a header, so GetPtrSize and GetHandleSize
// answer for blocks that any module of the process allocated. Sizes below 0
// or above 8 GiB fail with memFullErr. Blocks are 16-byte aligned.
#pragma once

#include "MacTypes.h"

#include <new>
#include <utility>

TB_EXPORT Ptr NewPtr(Size byteCount);
TB_EXPORT Ptr NewPtrClear(Size byteCount);
TB_EXPORT void DisposePtr(Ptr p);
TB_EXPORT Size GetPtrSize(Ptr p);

TB_EXPORT Handle NewHandle(Size byteCount);
TB_EXPORT Handle NewHandleClear(Size byteCount);
TB_EXPORT void DisposeHandle(Handle h);
TB_EXPORT Size GetHandleSize(Handle h);
TB_EXPORT OSErr HandToHand(Handle* theHndl);

TB_EXPORT void BlockMoveData(const void* srcPtr, void* destPtr, Size byteCount);

// How the toolbox makes its own records (strings, URLs, events, windows...):
// nil when memory runs out or fault injection says so, never an exception,
// as the Memory Manager answers. Callers answer nil with their API's error.
TB_EXPORT bool TBInjectedAllocationFailure();
template <class T, class... Args>
T* TBNew(Args&&... args) noexcept
{
    if (TBInjectedAllocationFailure())
        return nullptr;
    try {
        return new T(std::forward<Args>(args)...);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
template <class T>
T* TBNewArray(size_t count) noexcept
{
    return TBInjectedAllocationFailure() ? nullptr : new (std::nothrow) T[count];
}

// Test support: make the n-th allocation from now on fail (1 = the next one),
// 0 switches the failure off. Counts NewPtr*, NewHandle*, HandToHand
// and the toolbox's records (TBNew).
TB_EXPORT void TBFailAllocationAfter(long n);
// Whether the failure set up above has not happened yet.
TB_EXPORT bool TBAllocationFailurePending();
// Pointer and handle blocks allocated and not yet disposed of, for leak checks.
TB_EXPORT long TBLiveBlockCount();

// Used inside the toolbox only, so not exported.
// Result of the most recent Memory Manager call.
OSErr MemError();
