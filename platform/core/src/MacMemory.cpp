// Memory Manager: pointer and handle blocks on the C heap.
//
// A block is a 16-byte header (size and magic) followed by the caller's
// bytes, so any module of the process can ask a block's size. A handle is a
// small master block whose first field points at a data block.

#include "MacMemory.h"

#include "MacErrors.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UInt64 kPtrMagic = 0x54425074724D6167ULL;
constexpr UInt64 kHandleDataMagic = 0x544248446174614DULL;
constexpr UInt64 kMasterMagic = 0x54424D6173746572ULL;
constexpr UInt64 kDeadMagic = 0xDEADDEADDEADDEADULL;

// No caller of this toolbox needs more; larger requests are treated as
// garbage sizes and fail cleanly instead of reaching the allocator.
constexpr Size kMaxBlockSize = Size(1) << 33;

struct alignas(16) BlockHeader {
    Size size;
    UInt64 magic;
};
static_assert(sizeof(BlockHeader) == 16);

struct MasterPointer {
    Ptr data;  // first, so that a Handle is the address of this record
    UInt64 magic;
};

std::atomic<OSErr> gMemError{noErr};
std::atomic<long> gFailCountdown{0};
std::atomic<long> gLiveBlocks{0};

void SetMemError(OSErr err)
{
    gMemError.store(err, std::memory_order_relaxed);
}

bool ValidSize(Size byteCount)
{
    return byteCount >= 0 && byteCount <= kMaxBlockSize;
}

BlockHeader* HeaderOf(const void* data)
{
    return reinterpret_cast<BlockHeader*>(const_cast<char*>(static_cast<const char*>(data)) -
                                          sizeof(BlockHeader));
}

Ptr DataOf(BlockHeader* header)
{
    return reinterpret_cast<Ptr>(header + 1);
}

// Allocates a block without consulting fault injection; nil on failure.
Ptr RawAllocate(Size byteCount, bool clear, UInt64 magic)
{
    if (!ValidSize(byteCount))
        return nullptr;
    const size_t total = sizeof(BlockHeader) + size_t(byteCount);
    void* memory = clear ? std::calloc(1, total) : std::malloc(total);
    if (memory == nullptr)
        return nullptr;
    gLiveBlocks.fetch_add(1, std::memory_order_relaxed);
    auto* header = static_cast<BlockHeader*>(memory);
    header->size = byteCount;
    header->magic = magic;
    return DataOf(header);
}

void RawFree(Ptr data)
{
    BlockHeader* header = HeaderOf(data);
    header->magic = kDeadMagic;
    std::free(header);
    gLiveBlocks.fetch_sub(1, std::memory_order_relaxed);
}

Ptr AllocatePtr(Size byteCount, bool clear)
{
    if (!ValidSize(byteCount) || TBInjectedAllocationFailure()) {
        SetMemError(memFullErr);
        return nullptr;
    }
    Ptr p = RawAllocate(byteCount, clear, kPtrMagic);
    SetMemError(p != nullptr ? OSErr(noErr) : OSErr(memFullErr));
    return p;
}

MasterPointer* MasterOf(Handle h)
{
    return reinterpret_cast<MasterPointer*>(h);
}

// The handle's master block, or nil (with MemError set) when h is not a live
// handle of this heap.
MasterPointer* CheckedMaster(Handle h)
{
    if (h == nullptr) {
        SetMemError(nilHandleErr);
        return nullptr;
    }
    MasterPointer* master = MasterOf(h);
    if (master->magic != kMasterMagic) {
        SetMemError(memWZErr);
        return nullptr;
    }
    if (master->data == nullptr) {
        SetMemError(nilHandleErr);
        return nullptr;
    }
    return master;
}

// A new handle whose data block holds byteCount bytes, without fault injection.
Handle RawNewHandle(Size byteCount, bool clear)
{
    auto* master = static_cast<MasterPointer*>(std::malloc(sizeof(MasterPointer)));
    if (master == nullptr)
        return nullptr;
    master->data = RawAllocate(byteCount, clear, kHandleDataMagic);
    if (master->data == nullptr) {
        std::free(master);
        return nullptr;
    }
    master->magic = kMasterMagic;
    return &master->data;
}

Handle AllocateHandle(Size byteCount, bool clear)
{
    if (!ValidSize(byteCount) || TBInjectedAllocationFailure()) {
        SetMemError(memFullErr);
        return nullptr;
    }
    Handle h = RawNewHandle(byteCount, clear);
    SetMemError(h != nullptr ? OSErr(noErr) : OSErr(memFullErr));
    return h;
}

}  // namespace

Ptr NewPtr(Size byteCount)
{
    return AllocatePtr(byteCount, false);
}

Ptr NewPtrClear(Size byteCount)
{
    return AllocatePtr(byteCount, true);
}

void DisposePtr(Ptr p)
{
    if (p == nullptr) {
        SetMemError(noErr);
        return;
    }
    if (HeaderOf(p)->magic != kPtrMagic) {
        SetMemError(memWZErr);
        return;
    }
    RawFree(p);
    SetMemError(noErr);
}

Size GetPtrSize(Ptr p)
{
    if (p == nullptr || HeaderOf(p)->magic != kPtrMagic) {
        SetMemError(memWZErr);
        return 0;
    }
    SetMemError(noErr);
    return HeaderOf(p)->size;
}

Handle NewHandle(Size byteCount)
{
    return AllocateHandle(byteCount, false);
}

Handle NewHandleClear(Size byteCount)
{
    return AllocateHandle(byteCount, true);
}

void DisposeHandle(Handle h)
{
    if (h == nullptr) {
        SetMemError(nilHandleErr);
        return;
    }
    MasterPointer* master = MasterOf(h);
    if (master->magic != kMasterMagic) {
        SetMemError(memWZErr);
        return;
    }
    if (master->data != nullptr)
        RawFree(master->data);
    master->magic = kDeadMagic;
    master->data = nullptr;
    std::free(master);
    SetMemError(noErr);
}

Size GetHandleSize(Handle h)
{
    MasterPointer* master = CheckedMaster(h);
    if (master == nullptr)
        return 0;
    SetMemError(noErr);
    return HeaderOf(master->data)->size;
}

OSErr HandToHand(Handle* theHndl)
{
    if (theHndl == nullptr) {
        SetMemError(nilHandleErr);
        return nilHandleErr;
    }
    MasterPointer* master = CheckedMaster(*theHndl);
    if (master == nullptr)
        return MemError();
    const Size size = HeaderOf(master->data)->size;
    Handle copy = TBInjectedAllocationFailure() ? nullptr : RawNewHandle(size, false);
    if (copy == nullptr) {
        SetMemError(memFullErr);
        return memFullErr;
    }
    std::memcpy(*copy, master->data, size_t(size));
    *theHndl = copy;
    SetMemError(noErr);
    return noErr;
}

void BlockMoveData(const void* srcPtr, void* destPtr, Size byteCount)
{
    if (srcPtr == nullptr || destPtr == nullptr || byteCount <= 0)
        return;
    std::memmove(destPtr, srcPtr, size_t(byteCount));
}

OSErr MemError()
{
    return gMemError.load(std::memory_order_relaxed);
}

bool TBInjectedAllocationFailure()
{
    long remaining = gFailCountdown.load(std::memory_order_relaxed);
    while (remaining > 0) {
        if (gFailCountdown.compare_exchange_weak(remaining, remaining - 1))
            return remaining == 1;
    }
    return false;
}

void TBFailAllocationAfter(long n)
{
    gFailCountdown.store(n > 0 ? n : 0, std::memory_order_relaxed);
}

bool TBAllocationFailurePending()
{
    return gFailCountdown.load(std::memory_order_relaxed) > 0;
}

long TBLiveBlockCount()
{
    return gLiveBlocks.load(std::memory_order_relaxed);
}
