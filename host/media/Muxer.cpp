#include "Muxer.h"

#include <algorithm>
#include <cctype>
#include <cstring>

extern "C" {
#include <libavutil/opt.h>
}

namespace brimtone::host {

namespace {

std::string lowerExtension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

// Tags that describe one encoding of a stream, wrong once it is encoded again or cut.
void dropEncodingTags(AVDictionary** tags)
{
    for (const char* key : {"encoder", "DURATION", "BPS", "NUMBER_OF_FRAMES", "NUMBER_OF_BYTES", "rotate",
                            "_STATISTICS_TAGS", "_STATISTICS_WRITING_APP", "_STATISTICS_WRITING_DATE_UTC"})
        av_dict_set(tags, key, nullptr, 0);
}

// The input's codec tag where the container knows it for the same codec,
// as ffmpeg's stream copy keeps it.
uint32_t keptTag(const AVOutputFormat* container, const AVCodecParameters* par)
{
    unsigned int other = 0;
    if (!container->codec_tag || av_codec_get_id(container->codec_tag, par->codec_tag) == par->codec_id ||
        !av_codec_get_tag2(container->codec_tag, par->codec_id, &other))
        return par->codec_tag;
    return 0;
}

}  // namespace

const AVOutputFormat* chooseContainer(const std::string& path, const std::string& format, std::string& error)
{
    const std::string ext = lowerExtension(path);
    const AVOutputFormat* container = nullptr;
    if (!format.empty()) {
        container = av_guess_format(format.c_str(), nullptr, nullptr);
        if (!container)
            error = "--format " + format + ": no such container in this FFmpeg";
        return container;
    }
    if (path == "-")
        return av_guess_format("matroska", nullptr, nullptr);
    if (ext == "png")
        return av_guess_format("image2", nullptr, nullptr);
    static const char* const known[][2] = {{"mp4", "mp4"}, {"m4v", "mp4"},  {"mkv", "matroska"}, {"mov", "mov"},
                                           {"webm", "webm"}, {"avi", "avi"}, {"nut", "nut"}};
    for (const auto& [extension, name] : known)
        if (ext == extension)
            return av_guess_format(name, nullptr, nullptr);
    error = quotedPath(path) +
            ": unknown output type; use .mp4, .mkv, .mov, .webm, .avi, .nut (or --format), or a PNG pattern "
            "such as frames/%05d.png";
    return nullptr;
}

std::unique_ptr<Muxer> Muxer::open(const std::string& path, const AVOutputFormat* container,
                                   const std::string& shownPath, std::string& error)
{
    std::unique_ptr<Muxer> muxer(new Muxer);
    muxer->shown_ = shownPath.empty() ? path : shownPath;
    AVFormatContext* raw = nullptr;
    const std::string url = outputUrl(path);
    const int r = avformat_alloc_output_context2(&raw, container, nullptr, url.c_str());
    if (r < 0 || !raw) {
        error = "cannot write " + quotedPath(muxer->shown_) + ": " + avErrorText(r);
        return nullptr;
    }
    muxer->format_.reset(raw);
    return muxer;
}

AVStream* Muxer::addEncoded(const AVCodecContext* encoder, const AVStream* like, std::string& error)
{
    AVStream* stream = avformat_new_stream(format_.get(), nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, encoder) < 0) {
        error = "cannot write " + quotedPath(shown_) + ": out of memory";
        return nullptr;
    }
    stream->time_base = encoder->time_base;
    if (encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
        stream->avg_frame_rate = encoder->framerate;
        stream->sample_aspect_ratio = encoder->sample_aspect_ratio;
    }
    if (like) {
        av_dict_copy(&stream->metadata, like->metadata, 0);
        dropEncodingTags(&stream->metadata);
        stream->disposition = like->disposition & ~AV_DISPOSITION_ATTACHED_PIC;
    }
    return stream;
}

AVStream* Muxer::addStreams(const AVFormatContext* input, int video, const AVCodecContext* encoder,
                            const std::vector<CarriedStream>& plan, int64_t offset, int64_t end, std::string& error)
{
    offset_ = offset;
    carried_.clear();
    carried_.resize(input->nb_streams);
    AVStream* videoOut = nullptr;
    const bool cut = offset > 0 || end > 0;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* in = input->streams[i];
        if (static_cast<int>(i) == video) {
            videoOut = addEncoded(encoder, in, error);
            if (!videoOut)
                return nullptr;
            continue;
        }
        const auto s = std::find_if(plan.begin(), plan.end(), [&](const CarriedStream& c) { return c.input == int(i); });
        if (s == plan.end() || s->action == CarriedStream::Action::Leave)
            continue;
        Carried& c = carried_[i];
        c.in = in;
        if (s->action == CarriedStream::Action::Convert) {
            c.converter = StreamConverter::open(in, s->encoder, globalHeader(), error);
            if (!c.converter) {
                error = "cannot write " + quotedPath(shown_) + ": " + error;
                return nullptr;
            }
            c.out = addEncoded(c.converter->encoder(), in, error);
            if (!c.out)
                return nullptr;
            continue;
        }
        c.out = avformat_new_stream(format_.get(), nullptr);
        if (!c.out || avcodec_parameters_copy(c.out->codecpar, in->codecpar) < 0) {
            error = "cannot write " + quotedPath(shown_) + ": out of memory";
            return nullptr;
        }
        c.out->codecpar->codec_tag = keptTag(format_->oformat, in->codecpar);
        c.out->time_base = in->time_base;
        c.out->avg_frame_rate = in->avg_frame_rate;
        c.out->r_frame_rate = in->r_frame_rate;
        c.out->sample_aspect_ratio = in->sample_aspect_ratio;
        c.out->disposition = in->disposition;
        av_dict_copy(&c.out->metadata, in->metadata, 0);
        if (isCoverPicture(in) && !std::strcmp(format_->oformat->name, "matroska") && !coverAttachment(c, error))
            return nullptr;
        if (cut)
            dropEncodingTags(&c.out->metadata);
        for (int k = 0; k < in->nb_side_data; ++k) {
            const AVPacketSideData& side = in->side_data[k];
            uint8_t* data = av_stream_new_side_data(c.out, side.type, side.size);
            if (data)
                std::memcpy(data, side.data, side.size);
        }
    }
    av_dict_copy(&format_->metadata, input->metadata, 0);
    av_dict_set(&format_->metadata, "encoder", nullptr, 0);
    if (cut)
        av_dict_set(&format_->metadata, "duration", nullptr, 0);
    // Chapters as they fall in the part.
    for (unsigned i = 0; i < input->nb_chapters; ++i) {
        const AVChapter* in = input->chapters[i];
        const int64_t startAt = av_rescale_q(in->start, in->time_base, AV_TIME_BASE_Q) - offset;
        int64_t endAt = av_rescale_q(in->end, in->time_base, AV_TIME_BASE_Q) - offset;
        const int64_t limit = end > 0 ? end - offset : INT64_MAX;
        if (endAt <= 0 || startAt >= limit)
            continue;
        endAt = std::min(endAt, limit);
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!chapter) {
            error = "cannot write " + quotedPath(shown_) + ": out of memory";
            return nullptr;
        }
        chapter->id = in->id;
        chapter->time_base = in->time_base;
        chapter->start = av_rescale_q(std::max<int64_t>(startAt, 0), AV_TIME_BASE_Q, in->time_base);
        chapter->end = av_rescale_q(endAt, AV_TIME_BASE_Q, in->time_base);
        av_dict_copy(&chapter->metadata, in->metadata, 0);
        if (av_dynarray_add_nofree(&format_->chapters, reinterpret_cast<int*>(&format_->nb_chapters), chapter) < 0) {
            av_dict_free(&chapter->metadata);
            av_free(chapter);
            error = "cannot write " + quotedPath(shown_) + ": out of memory";
            return nullptr;
        }
    }
    return videoOut;
}

bool Muxer::start(std::string& error)
{
    AVFormatContext* f = format_.get();
    const bool toPipe = std::strcmp(f->url, "pipe:1") == 0;
    if (!(f->oformat->flags & AVFMT_NOFILE)) {
        const int r = avio_open(&f->pb, f->url, AVIO_FLAG_WRITE);
        if (r < 0) {
            error = "cannot write " + quotedPath(shown_) + ": " + avErrorText(r);
            return false;
        }
    }
    AVDictionary* options = nullptr;
    const std::string name = f->oformat->name;
    if (name == "image2" && !std::strchr(f->url, '%'))
        av_dict_set(&options, "update", "1", 0);
    if (name == "mp4" || name == "mov")
        av_dict_set(&options, "movflags", toPipe ? "+frag_keyframe+empty_moov+default_base_moof" : "+faststart", 0);
    const int r = avformat_write_header(f, &options);
    av_dict_free(&options);
    if (r < 0) {
        error = "cannot write " + quotedPath(shown_) + ": " + avErrorText(r);
        return false;
    }
    // A cover picture is part of its stream, not a packet in the file's
    // order: the demuxer hands it out once at the start, before any seek.
    for (Carried& c : carried_) {
        if (!c.out || c.converter || !isCoverPicture(c.in) || c.in->attached_pic.size <= 0 ||
            c.out->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT)
            continue;
        PacketPtr picture(av_packet_clone(&c.in->attached_pic));
        if (!picture) {
            error = "cannot write " + quotedPath(shown_) + ": out of memory";
            return false;
        }
        av_packet_rescale_ts(picture.get(), c.in->time_base, c.out->time_base);
        picture->stream_index = c.out->index;
        picture->pos = -1;
        if (!write(picture.get(), error))
            return false;
    }
    return true;
}

// Matroska holds a cover picture as the attachment it came as: the picture's
// bytes with a file name and type.
bool Muxer::coverAttachment(Carried& c, std::string& error)
{
    AVCodecParameters* par = c.out->codecpar;
    const AVPacket& picture = c.in->attached_pic;
    const char* type = coverMimeType(par->codec_id);
    if (!type || picture.size <= 0) {
        error = "cannot write " + quotedPath(shown_) + ": " + streamLabel(c.in) + " is no picture Matroska can attach";
        return false;
    }
    av_freep(&par->extradata);
    par->extradata_size = 0;
    par->extradata = static_cast<uint8_t*>(av_mallocz(size_t(picture.size) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) {
        error = "cannot write " + quotedPath(shown_) + ": out of memory";
        return false;
    }
    std::memcpy(par->extradata, picture.data, size_t(picture.size));
    par->extradata_size = picture.size;
    par->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    c.out->disposition = 0;
    if (!av_dict_get(c.out->metadata, "mimetype", nullptr, 0))
        av_dict_set(&c.out->metadata, "mimetype", type, 0);
    if (!av_dict_get(c.out->metadata, "filename", nullptr, 0))
        av_dict_set(&c.out->metadata, "filename", (std::string("cover.") + (std::strchr(type, '/') + 1)).c_str(), 0);
    return true;
}

bool Muxer::write(AVPacket* packet, std::string& error)
{
    const int r = av_interleaved_write_frame(format_.get(), packet);
    if (r < 0) {
        error = "cannot write " + quotedPath(shown_) + ": " + avErrorText(r);
        return false;
    }
    return true;
}

bool Muxer::writeEncoded(AVPacket* packet, AVStream* stream, AVRational from, std::string& error)
{
    av_packet_rescale_ts(packet, from, stream->time_base);
    packet->stream_index = stream->index;
    return write(packet, error);
}

bool Muxer::writeCarried(AVPacket* packet, std::string& error)
{
    const auto index = static_cast<size_t>(packet->stream_index);
    if (index >= carried_.size() || !carried_[index].out)
        return true;
    Carried& c = carried_[index];
    if (isCoverPicture(c.in))
        return true;  // written with the header
    const int64_t shift = av_rescale_q(offset_, AV_TIME_BASE_Q, c.in->time_base);
    if (offset_ > 0 && packet->pts != AV_NOPTS_VALUE && packet->pts + std::max<int64_t>(packet->duration, 1) <= shift &&
        c.in->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT)
        return true; // before the part
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts -= shift;
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts -= shift;
    if (offset_ > 0 && packet->pts != AV_NOPTS_VALUE && packet->pts < 0) {
        // A subtitle on screen when the part starts is shown from its start;
        // sound that starts before it is left out, rather than move everything.
        if (c.in->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE)
            return true;
        packet->duration = std::max<int64_t>(packet->duration + packet->pts, 1);
        packet->pts = packet->dts = 0;
    }
    if (c.converter) {
        // The converter's packets come in its encoder's time base.
        return c.converter->convert(packet, [&](AVPacket* out) {
            return writeEncoded(out, c.out, c.converter->encoder()->time_base, error);
        }, error);
    }
    // Packets may share a time (two subtitle lines that start together) but
    // never go back in it.
    if (packet->dts != AV_NOPTS_VALUE) {
        if (c.lastDts != AV_NOPTS_VALUE && packet->dts < c.lastDts)
            return true;
        c.lastDts = packet->dts;
    }
    av_packet_rescale_ts(packet, c.in->time_base, c.out->time_base);
    packet->stream_index = c.out->index;
    packet->pos = -1;
    return write(packet, error);
}

bool Muxer::drainCarried(std::string& error)
{
    for (Carried& c : carried_)
        if (c.converter && !c.converter->convert(nullptr, [&](AVPacket* out) {
                return writeEncoded(out, c.out, c.converter->encoder()->time_base, error);
            }, error))
            return false;
    return true;
}

bool Muxer::finish(std::string& error)
{
    int r = av_write_trailer(format_.get());
    if (r < 0) {
        error = "cannot write " + quotedPath(shown_) + ": " + avErrorText(r);
        return false;
    }
    if (format_->pb && !(format_->oformat->flags & AVFMT_NOFILE)) {
        r = avio_closep(&format_->pb);
        if (r < 0) {
            error = "cannot write " + quotedPath(shown_) + ": " + avErrorText(r);
            return false;
        }
    }
    return true;
}

}  // namespace brimtone::host
