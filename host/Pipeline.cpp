#include "Pipeline.h"

#include <malloc.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "MediaSink.h"
#include "MediaSource.h"
#include "QuickDraw.h"

namespace brimtone::host {

namespace {

// A 32-bit frame made through the toolbox, which is called on the plug-in's
// thread only; the other threads touch nothing but its pixels.
struct FrameBuffer {
    GWorldPtr world = nullptr;
    uint8_t* pixels = nullptr;
    int rowBytes = 0;
    int width = 0;
    int height = 0;

    bool make(int frameWidth, int frameHeight)
    {
        const Rect bounds{0, 0, SInt16(frameHeight), SInt16(frameWidth)};
        if (NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0) != noErr || !world) {
            world = nullptr;
            return false;
        }
        PixMapHandle map = GetGWorldPixMap(world);
        LockPixels(map);
        pixels = reinterpret_cast<uint8_t*>(GetPixBaseAddr(map));
        rowBytes = GetPixRowBytes(map);
        width = frameWidth;
        height = frameHeight;
        return true;
    }
    void dispose()
    {
        if (world) DisposeGWorld(world);
        world = nullptr;
    }
};

std::string noMemoryFor(int width, int height)
{
    return "not enough memory for a " + std::to_string(width) + "x" + std::to_string(height) + " frame";
}

}  // namespace

struct FramePrefetcher::Impl {
    // Lent to the plug-in by take(); Output: lent to the render as the frame
    // to draw into, and shared with the plug-in when it fetches that frame.
    enum class State { Free, Queued, Lent, Output };
    struct Slot {
        FrameBuffer buffer;
        State state = State::Free;
        // Written by the decoding thread while queued and not ready.
        int index = -1;
        bool ready = false;
        bool shared = false;  // an Output frame that the plug-in fetched too
        bool pictureOk = false;
        bool soundOk = false;
        std::string error;
        std::vector<float> audio;
    };

    MediaSource& source;
    const int frameCount;
    const bool withAudio;
    const int depth;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<Slot>> slots;
    std::thread thread;
    bool running = false;
    bool stopping = false;
    bool halted = false;  // a frame failed: nothing more is decoded until a restart
    // What the thread decodes: the next frame, where it stops, and how.
    int next = 0;
    int end = 0;
    int width = 0;
    int height = 0;
    bool highQuality = true;
    int made = 0;

    Impl(MediaSource& clip, int frames, bool audio, int buffers)
        : source(clip), frameCount(frames), withAudio(audio), depth(std::max(buffers, 1))
    {
    }

    bool fits(const Slot& slot) const { return slot.buffer.width == width && slot.buffer.height == height; }

    Slot* freeSlot()
    {
        for (auto& slot : slots)
            if (slot->state == State::Free && fits(*slot)) return slot.get();
        return nullptr;
    }

    Slot* queued(int index)
    {
        for (auto& slot : slots)
            if (slot->state == State::Queued && slot->index == index) return slot.get();
        return nullptr;
    }

    // The frame the thread hands out next.
    int expected()
    {
        int lowest = next;
        for (auto& slot : slots)
            if (slot->state == State::Queued) lowest = std::min(lowest, slot->index);
        return lowest;
    }

    int usable()
    {
        return int(std::count_if(slots.begin(), slots.end(),
                                 [this](const auto& slot) {
                                     return (slot->state == State::Free || slot->state == State::Queued) && fits(*slot);
                                 }));
    }

    bool addSlot()
    {
        auto slot = std::make_unique<Slot>();
        if (!slot->buffer.make(width, height)) return false;
        slots.push_back(std::move(slot));
        ++made;
        return true;
    }

    void decode()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            Slot* slot = nullptr;
            changed.wait(lock, [&] {
                return stopping || (!halted && next < end && (slot = freeSlot()) != nullptr);
            });
            if (stopping) return;
            slot->state = State::Queued;
            slot->index = next++;
            slot->ready = false;
            const int index = slot->index, frameWidth = width, frameHeight = height;
            const bool quality = highQuality;
            lock.unlock();

            std::string error;
            const bool pictureOk = source.readFrame(index, frameWidth, frameHeight, quality, slot->buffer.pixels,
                                                    slot->buffer.rowBytes, error);
            bool soundOk = true;
            if (pictureOk && withAudio)
                soundOk = source.readAudio(index, slot->audio, error);
            else
                slot->audio.clear();

            lock.lock();
            slot->pictureOk = pictureOk;
            slot->soundOk = soundOk;
            slot->error = std::move(error);
            slot->ready = true;
            if (!pictureOk) halted = true;
            changed.notify_all();
        }
    }

    void stop(std::unique_lock<std::mutex>& lock)
    {
        if (!running) return;
        stopping = true;
        changed.notify_all();
        lock.unlock();
        thread.join();
        lock.lock();
        stopping = false;
        running = false;
    }

    // Decoding starts again at `index`, for frames of the given shape.
    std::string restart(std::unique_lock<std::mutex>& lock, int index, int frameWidth, int frameHeight, bool quality)
    {
        stop(lock);
        width = frameWidth;
        height = frameHeight;
        highQuality = quality;
        next = index;
        end = index < frameCount ? frameCount : index + 1;
        halted = false;
        std::erase_if(slots, [this](auto& slot) {
            if (slot->state == State::Queued) slot->state = State::Free;
            if (slot->state != State::Free || fits(*slot)) return false;
            slot->buffer.dispose();
            return true;
        });
        while (usable() < depth && addSlot()) {
        }
        if (usable() == 0) return noMemoryFor(width, height);
        running = true;
        thread = std::thread([this] { decode(); });
        return {};
    }
};

FramePrefetcher::FramePrefetcher(MediaSource& source, int frameCount, bool withAudio, int depth)
    : impl_(std::make_unique<Impl>(source, frameCount, withAudio, depth))
{
}

FramePrefetcher::~FramePrefetcher()
{
    std::unique_lock lock(impl_->mutex);
    impl_->stop(lock);
    for (auto& slot : impl_->slots) slot->buffer.dispose();
}

FrameSupply::Frame FramePrefetcher::take(int index, int width, int height, bool highQuality)
{
    Impl& s = *impl_;
    std::unique_lock lock(s.mutex);
    Frame frame;
    // The frame the render draws into: the plug-in gets the same buffer once,
    // and the render's frame shows what the plug-in draws over it.
    for (auto& held : s.slots) {
        if (held->state != Impl::State::Output || held->shared || held->index != index || width != s.width ||
            height != s.height || highQuality != s.highQuality || !s.fits(*held))
            continue;
        held->shared = true;
        frame.world = held->buffer.world;
        frame.audio = held->soundOk ? &held->audio : nullptr;
        if (!held->soundOk) frame.error = held->error;
        return frame;
    }
    const bool inOrder = s.running && width == s.width && height == s.height && highQuality == s.highQuality &&
                         index == s.expected() && index < s.end && !(s.halted && !s.queued(index));
    if (!inOrder) {
        frame.error = s.restart(lock, index, width, height, highQuality);
        if (!frame.error.empty()) return frame;
    } else if (s.usable() == 0 && !s.addSlot()) {  // the plug-in holds every buffer
        frame.error = noMemoryFor(width, height);
        return frame;
    }
    s.changed.notify_all();
    Impl::Slot* slot = nullptr;
    s.changed.wait(lock, [&] { return (slot = s.queued(index)) != nullptr && slot->ready; });
    if (!slot->pictureOk) {
        frame.error = slot->error;
        slot->state = Impl::State::Free;
        return frame;
    }
    slot->state = Impl::State::Lent;
    frame.world = slot->buffer.world;
    frame.audio = slot->soundOk ? &slot->audio : nullptr;
    if (!slot->soundOk) frame.error = slot->error;
    return frame;
}

void FramePrefetcher::giveBack(GWorldPtr world)
{
    Impl& s = *impl_;
    std::unique_lock lock(s.mutex);
    const auto found = std::find_if(s.slots.begin(), s.slots.end(),
                                    [world](const auto& slot) { return slot->buffer.world == world; });
    if (found == s.slots.end()) return;
    if ((*found)->state == Impl::State::Output) {  // the render still writes it
        (*found)->shared = false;
        return;
    }
    if ((*found)->state != Impl::State::Lent) return;
    if (s.fits(**found)) {
        (*found)->state = Impl::State::Free;
        s.changed.notify_all();
    } else {
        (*found)->buffer.dispose();
        s.slots.erase(found);
    }
}

GWorldPtr FramePrefetcher::lendForOutput(int index, int width, int height)
{
    Impl& s = *impl_;
    std::unique_lock lock(s.mutex);
    if (!s.running || width != s.width || height != s.height || index != s.expected() || index >= s.end ||
        (s.halted && !s.queued(index)))
        return nullptr;
    if (s.usable() == 0 && !s.addSlot()) return nullptr;
    s.changed.notify_all();
    Impl::Slot* slot = nullptr;
    s.changed.wait(lock, [&] { return (slot = s.queued(index)) != nullptr && slot->ready; });
    if (!slot->pictureOk) return nullptr;
    slot->state = Impl::State::Output;
    slot->shared = false;
    return slot->buffer.world;
}

void FramePrefetcher::outputWritten(GWorldPtr world)
{
    Impl& s = *impl_;
    std::unique_lock lock(s.mutex);
    for (auto& slot : s.slots) {
        if (slot->buffer.world != world || slot->state != Impl::State::Output) continue;
        // A buffer of another size stays free until the next start disposes of
        // it: only the plug-in's thread calls the toolbox.
        slot->state = slot->shared ? Impl::State::Lent : Impl::State::Free;
        slot->shared = false;
        s.changed.notify_all();
        return;
    }
}

int FramePrefetcher::buffersMade() const
{
    std::unique_lock lock(impl_->mutex);
    return impl_->made;
}

namespace {

// Rendered frames go to the sink on a thread of their own, in the order
// they were handed in; the plug-in draws into the next free slot meanwhile.
// A slot's frame is a buffer lent by the decoding side, which gets it back
// once written, or else one of the slot's own.
class FrameWriter {
public:
    struct Slot {
        FrameBuffer own;  // made when first needed
        GWorldPtr world = nullptr;
        uint8_t* pixels = nullptr;
        int rowBytes = 0;
        bool lent = false;
        std::vector<float> audio;
        enum class State { Free, Drawing, Queued, Writing } state = State::Free;
        int64_t order = 0;
    };

    // `giveBack` takes each lent buffer once it is written, on the writing thread.
    FrameWriter(MediaSink& sink, int width, int height, int depth, std::function<void(GWorldPtr)> giveBack)
        : sink_(sink), width_(width), height_(height), giveBack_(std::move(giveBack))
    {
        for (int i = 0; i < depth; ++i) slots_.push_back(std::make_unique<Slot>());
        thread_ = std::thread([this] { write(); });
    }

    ~FrameWriter()
    {
        stop();
        for (auto& slot : slots_) slot->own.dispose();
    }

    // The slot draws into `lent`, or into its own buffer when that is nil.
    // False when its own cannot be made.
    bool drawInto(Slot* slot, GWorldPtr lent, std::string& error)
    {
        slot->lent = lent != nullptr;
        if (lent) {
            PixMapHandle map = GetGWorldPixMap(lent);
            slot->world = lent;
            slot->pixels = reinterpret_cast<uint8_t*>(GetPixBaseAddr(map));
            slot->rowBytes = GetPixRowBytes(map);
            return true;
        }
        if (!slot->own.world && !slot->own.make(width_, height_)) {
            error = noMemoryFor(width_, height_);
            return false;
        }
        slot->world = slot->own.world;
        slot->pixels = slot->own.pixels;
        slot->rowBytes = slot->own.rowBytes;
        return true;
    }

    // A slot to draw the next frame into; nullptr once writing has failed.
    Slot* acquire(std::string& error)
    {
        std::unique_lock lock(mutex_);
        Slot* slot = nullptr;
        changed_.wait(lock, [&] { return failed_ || (slot = inState(Slot::State::Free)) != nullptr; });
        if (failed_) {
            error = error_;
            return nullptr;
        }
        slot->state = Slot::State::Drawing;
        return slot;
    }

    void submit(Slot* slot)
    {
        std::unique_lock lock(mutex_);
        slot->state = Slot::State::Queued;
        slot->order = submitted_++;
        changed_.notify_all();
    }

    // A slot drawn in vain, as when the plug-in failed.
    void discard(Slot* slot)
    {
        if (slot->lent) giveBack_(slot->world);
        std::unique_lock lock(mutex_);
        slot->lent = false;
        slot->state = Slot::State::Free;
        changed_.notify_all();
    }

    // Waits until every frame handed in is in the sink.
    bool drain(std::string& error)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return failed_ || (!inState(Slot::State::Queued) && !inState(Slot::State::Writing));
        });
        if (failed_) error = error_;
        return !failed_;
    }

private:
    Slot* inState(Slot::State state)
    {
        Slot* first = nullptr;
        for (auto& slot : slots_)
            if (slot->state == state && (!first || slot->order < first->order)) first = slot.get();
        return first;
    }

    void write()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            Slot* slot = nullptr;
            changed_.wait(lock, [&] { return stopping_ || (!failed_ && (slot = inState(Slot::State::Queued))); });
            if (stopping_) return;
            slot->state = Slot::State::Writing;
            lock.unlock();
            std::string error;
            const bool ok =
                sink_.writeFrame(slot->pixels, slot->rowBytes, slot->audio.empty() ? nullptr : &slot->audio, error);
            if (slot->lent) giveBack_(slot->world);
            lock.lock();
            slot->lent = false;
            slot->state = Slot::State::Free;
            if (!ok) {
                failed_ = true;
                error_ = std::move(error);
            }
            changed_.notify_all();
        }
    }

    void stop()
    {
        {
            std::unique_lock lock(mutex_);
            stopping_ = true;
            changed_.notify_all();
        }
        if (thread_.joinable()) thread_.join();
    }

    MediaSink& sink_;
    const int width_, height_;
    const std::function<void(GWorldPtr)> giveBack_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
    int64_t submitted_ = 0;
    bool stopping_ = false;
    bool failed_ = false;
    std::string error_;
};

// Two buffers ahead of the plug-in and two behind it keep every stage busy
// without holding more frames than the encoder's own look-ahead.
constexpr int kFramesAhead = 3;
constexpr int kFramesBehind = 2;

}  // namespace

RenderOutcome renderPipelined(PluginHost& host, MediaSource& source, MediaSink& sink, const RenderJob& job)
{
    // The plug-in makes and frees frame-sized buffers on every frame: keep
    // that memory in the process rather than mapping fresh pages each time.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);

    RenderOutcome outcome;
    // A file's sound is carried to the output as it is, not through the frames.
    FramePrefetcher prefetcher(source, job.frameCount, !job.proxy && source.hasAudio() && !source.soundIsCarried(),
                               kFramesAhead);
    FrameWriter writer(sink, job.width, job.height, kFramesBehind,
                       [&prefetcher](GWorldPtr world) { prefetcher.outputWritten(world); });

    PluginParams& params = host.params();
    params.startFrame = 0;
    params.frameCount = job.frameCount;
    params.proxyOnly = job.proxy;
    params.frameRect = Rect{0, 0, SInt16(job.height), SInt16(job.width)};
    params.frame = nullptr;
    host.supplyFrames(&prefetcher);

    SInt32 result = host.call(kPlugInitialize);
    if (result != kPluginOK) outcome.failure = pluginFailure(host, "starting the render", result);
    for (int index = 0; index < job.frameCount && outcome.failure.empty(); ++index) {
        if (job.stopRequested && job.stopRequested()) {
            outcome.stopped = true;
            break;
        }
        FrameWriter::Slot* slot = writer.acquire(outcome.failure);
        if (!slot) break;
        // The frame the plug-in will fetch, when it is decoded already: it
        // draws there in place.
        GWorldPtr lent = prefetcher.lendForOutput(params.startFrame + index, job.width, job.height);
        if (!writer.drawInto(slot, lent, outcome.failure)) {
            writer.discard(slot);
            break;
        }
        params.frame = slot->world;
        params.renderFrame = index;
        result = host.call(kPlugDoFrame);
        if (result != kPluginOK) {
            outcome.failure = pluginFailure(host, "rendering frame " + std::to_string(index), result);
            writer.discard(slot);
            break;
        }
        host.takeMixedAudio(slot->audio);
        writer.submit(slot);
        outcome.framesRendered = index + 1;
        if (job.progress) job.progress(outcome.framesRendered);
    }
    host.call(kPlugTerminate);
    host.supplyFrames(nullptr);
    params.frame = nullptr;
    if (outcome.failure.empty()) writer.drain(outcome.failure);
    return outcome;
}

}  // namespace brimtone::host
