// Memory Manager: pointer and handle blocks.
//
// Every block carries its size in a header, so GetPtrSize and GetHandleSize
// answer for blocks that any module of the process allocated. Sizes below 0
// or above 8 GiB fail with memFullErr. Blocks are 16-byte aligned.
#pragma once

#include "MacTypes.h"

Ptr NewPtr(Size byteCount);
Ptr NewPtrClear(Size byteCount);
void DisposePtr(Ptr p);
Size GetPtrSize(Ptr p);

Handle NewHandle(Size byteCount);
Handle NewHandleClear(Size byteCount);
void DisposeHandle(Handle h);
Size GetHandleSize(Handle h);
void SetHandleSize(Handle h, Size newSize);
OSErr HandToHand(Handle* theHndl);
void HLock(Handle h);
void HUnlock(Handle h);

void BlockMoveData(const void* srcPtr, void* destPtr, Size byteCount);
void BlockZero(void* destPtr, Size byteCount);

// Result of the most recent Memory Manager call.
OSErr MemError();

// Test support: make the n-th allocation from now on fail (1 = the next one),
// 0 switches the failure off. Counts NewPtr*, NewHandle*, HandToHand and
// SetHandleSize growth.
void TBFailAllocationAfter(long n);
// Whether the failure set up above has not happened yet.
bool TBAllocationFailurePending();
// Pointer and handle blocks allocated and not yet disposed of, for leak checks.
long TBLiveBlockCount();
