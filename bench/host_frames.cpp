// Writes the first COUNT frames of INPUT as the host hands them to the
// plug-in (decoded and converted to A, R, G, B at the clip's size) into a
// lossless PNG pattern, for host_bench.sh to compare conversions.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "MediaSink.h"
#include "MediaSource.h"

using namespace brimtone::host;

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: host_frames INPUT COUNT PATTERN.png\n");
        return 2;
    }
    setMediaLogQuiet(true);
    std::string error;
    auto source = MediaSource::openFile(argv[1], error);
    const int count = std::atoi(argv[2]);
    const int width = source ? source->width() : 0, height = source ? source->height() : 0;
    auto sink = source ? MediaSink::open(argv[3], width, height, source->frameRate(), false, error) : nullptr;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    for (int index = 0; sink && index < count; ++index)
        if (!source->readFrame(index, width, height, true, pixels.data(), width * 4, error) ||
            !sink->writeFrame(pixels.data(), width * 4, nullptr, error))
            sink.reset();
    if (!sink || !sink->finish(error)) {
        std::fprintf(stderr, "host_frames: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
