// The queue of carried packets: a packet read again after a seek back goes
// in once, packets that only share a time each go in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/Demuxer.h"

using namespace brimtone::host;

namespace {

PacketPtr packet(int stream, int64_t dts, int64_t pos, const std::string& text)
{
    PacketPtr p(av_packet_alloc());
    EXPECT_EQ(av_new_packet(p.get(), int(text.size())), 0);
    std::copy(text.begin(), text.end(), p->data);
    p->stream_index = stream;
    p->dts = p->pts = dts;
    p->pos = pos;
    return p;
}

TEST(PacketQueue, PacketsReadAgainGoInOnceAndPacketsSharingATimeEachGoIn)
{
    PacketQueue queue;
    // Two subtitle lines that start together, sound beside them, then the
    // same packets read again after a seek back, and one from before them.
    const std::vector<PacketPtr> read = [] {
        std::vector<PacketPtr> all;
        all.push_back(packet(0, 1000, 500, "World"));
        all.push_back(packet(0, 1000, 600, "Together"));
        all.push_back(packet(1, 1000, 700, "sound"));
        all.push_back(packet(0, 900, 400, "Hello"));
        all.push_back(packet(0, 1000, 500, "World"));
        all.push_back(packet(0, 1000, 600, "Together"));
        all.push_back(packet(1, 1000, 700, "sound"));
        all.push_back(packet(0, 1000, -1, "Also"));
        return all;
    }();
    for (const PacketPtr& p : read) queue.push(p.get());
    std::vector<std::string> queued;
    for (const PacketPtr& p : queue.takeAll())
        queued.push_back(std::to_string(p->stream_index) + ":" +
                         std::string(reinterpret_cast<char*>(p->data), size_t(p->size)));
    EXPECT_EQ(queued, (std::vector<std::string>{"0:World", "0:Together", "1:sound", "0:Also"}));
}

}  // namespace
