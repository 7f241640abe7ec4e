// A render changes the picture and nothing else: real files shaped like
// users' (made by ffmpeg in a temporary folder), rendered by the brimtone
// executable, checked with ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class Faithful : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string pattern = (fs::temp_directory_path() / "brimtone-faithful-XXXXXX").string();
        dir_ = new fs::path(mkdtemp(pattern.data()));
        setenv("XDG_CONFIG_HOME", (*dir_ / "config").c_str(), 1);
        fs::create_directories(*dir_ / "config");
        std::ofstream(*dir_ / "subs.srt") << "1\n00:00:00,200 --> 00:00:00,800\nHello\n\n"
                                             "2\n00:00:01,000 --> 00:00:01,500\nWorld\n\n"
                                             "3\n00:00:01,000 --> 00:00:01,300\nTogether\n";
        std::ofstream(*dir_ / "meta.txt") << ";FFMETADATA1\ntitle=Holiday\ncreation_time=2024-05-01T10:00:00.000000Z\n"
                                             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=800\ntitle=Arrival\n"
                                             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=800\nEND=1600\ntitle=Beach\n";
        // A film: H.264, AAC in English, MP3 in French (not the default),
        // English subtitles (forced), an attachment, a title, a creation time,
        // two chapters.
        ASSERT_EQ(shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=96x64:rate=25 -f lavfi -i "
                        "sine=f=440:sample_rate=48000 -f lavfi -i sine=f=660:sample_rate=44100 -i subs.srt -i meta.txt "
                        "-attach meta.txt -metadata:s:t:0 mimetype=text/plain "
                        "-map 0:v -map 1:a -map 2:a -map 3:s -map_metadata 4 -map_chapters 4 -t 1.6 -c:v libx264 -g 10 "
                        "-c:a:0 aac -c:a:1 libmp3lame -c:s srt -metadata:s:a:0 language=eng -metadata:s:a:1 "
                        "language=fre -metadata:s:s:0 language=eng -disposition:a:1 0 -disposition:s:0 forced film.mkv")
                      .status,
                  0);
    }
    static void TearDownTestSuite()
    {
        std::error_code ignored;
        fs::remove_all(*dir_, ignored);
        delete dir_;
    }

    static std::string path(const std::string& name) { return (*dir_ / name).string(); }

    // A command in the test's folder; its standard output and error.
    static Outcome shell(const std::string& command)
    {
        const std::string line = "cd '" + dir_->string() + "' && ( " + command + " ) >'" + path("sh.out") + "' 2>'" +
                                 path("sh.err") + "' </dev/null";
        const int status = std::system(line.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(path("sh.out")), readText(path("sh.err"))};
    }

    static Outcome brimtone(const std::string& arguments)
    {
        return shell(std::string("'") + BRIMTONE_HOST_EXE + "' " + arguments);
    }

    static std::string probe(const std::string& file, const std::string& entries)
    {
        return shell("ffprobe -v error -of json " + entries + " '" + file + "'").out;
    }

    // Everything about a file but its picture's pixels.
    static std::string description(const std::string& file)
    {
        // A stream's length is a tag of its own, which a pipe cannot go back to write.
        std::string text = probe(file, "-show_entries stream=codec_type,codec_name,width,height:stream_tags=language,title,"
                           "handler_name:stream_disposition=default,forced:format_tags=title,creation_time:"
                           "chapter=start_time,end_time:chapter_tags=title");
        const std::string empty = ",\n            \"tags\": {\n\n            }";
        for (size_t at; (at = text.find(empty)) != std::string::npos;) text.erase(at, empty.size());
        return text;
    }

    static std::string md5(const std::string& file, const std::string& map)
    {
        return shell("ffmpeg -nostdin -v error -i '" + file + "' -map " + map + " -c copy -f md5 -").out;
    }

    static std::vector<double> frameTimes(const std::string& file)
    {
        std::istringstream lines(
            shell("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 '" + file + "'").out);
        std::vector<double> times;
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) times.push_back(std::stod(line));
        return times;
    }

    static inline fs::path* dir_ = nullptr;
};

TEST_F(Faithful, EveryStreamTagChapterAndDispositionIsKeptAndCopiedPacketsAreIdentical)
{
    const Outcome mkv = brimtone("render film.mkv -o out.mkv -q");
    ASSERT_EQ(mkv.status, 0) << mkv.err;
    EXPECT_EQ(mkv.err, "");
    EXPECT_EQ(description(path("out.mkv")), description(path("film.mkv")));
    for (const std::string map : {"0:a:0", "0:a:1", "0:s:0", "0:t:0"})
        EXPECT_EQ(md5(path("out.mkv"), map), md5(path("film.mkv"), map)) << map;
    EXPECT_NE(md5(path("out.mkv"), "0:v:0"), md5(path("film.mkv"), "0:v:0"));

    // MP4 holds no SubRip: the subtitles become MP4's own text, said on a line.
    const Outcome mp4 = brimtone("render film.mkv -o out.mp4");
    ASSERT_EQ(mp4.status, 0) << mp4.err;
    EXPECT_NE(mp4.err.find("brimtone: stream #3 (subrip, eng): converted to mov_text: mp4 cannot hold subrip\n"),
              std::string::npos)
        << mp4.err;
    EXPECT_NE(mp4.err.find("stream #4 (none): left out: mp4 holds no attachments"), std::string::npos) << mp4.err;
    const std::string streams = probe(path("out.mp4"), "-show_entries stream=codec_name:stream_tags=language:"
                                                      "stream_disposition=forced -show_chapters");
    for (const std::string kept : {"\"h264\"", "\"aac\"", "\"mp3\"", "\"mov_text\"", "\"fre\"", "\"Beach\""})
        EXPECT_NE(streams.find(kept), std::string::npos) << kept << streams;
    EXPECT_EQ(md5(path("out.mp4"), "0:a:1"), md5(path("film.mkv"), "0:a:1"));
    const std::string text = shell("ffmpeg -nostdin -v error -i out.mp4 -map 0:s:0 -f srt -").out;
    EXPECT_NE(text.find("00:00:00,2"), std::string::npos) << text;
    EXPECT_NE(text.find("World"), std::string::npos) << text;
    EXPECT_NE(text.find("Together"), std::string::npos) << "a line that starts with another is kept\n" << text;

    // WebM takes neither: the sound is converted, the subtitles become WebVTT;
    // --audio-codec copy refuses before anything is written.
    const Outcome webm = brimtone("render film.mkv -o out.webm -q");
    ASSERT_EQ(webm.status, 0) << webm.err;
    EXPECT_NE(probe(path("out.webm"), "-show_entries stream=codec_name").find("\"vp9\""), std::string::npos);
    const Outcome copy = brimtone("render film.mkv -o copy.webm --audio-codec copy");
    EXPECT_EQ(copy.status, 2);
    EXPECT_NE(copy.err.find("--audio-codec copy: stream #1 (aac, eng): webm cannot hold aac"), std::string::npos)
        << copy.err;
    EXPECT_FALSE(fs::exists(path("copy.webm")));

    // A render without sound leaves the sound out and says so.
    const Outcome proxy = brimtone("render film.mkv -o proxy.mkv --proxy --size 48x32");
    ASSERT_EQ(proxy.status, 0) << proxy.err;
    EXPECT_NE(proxy.err.find("stream #2 (mp3, fre): left out: this render has no sound"), std::string::npos);
    EXPECT_EQ(probe(path("proxy.mkv"), "-show_entries stream=codec_type").find("audio"), std::string::npos);

    // info says the same before anything is rendered.
    const Outcome info = brimtone("info film.mkv -o x.mp4 --json");
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("\"action\": \"convert\", \"why\": \"converted to mov_text: mp4 cannot hold subrip\""),
              std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("\"threshold\": \"17 %\""), std::string::npos) << info.out;
}

// An input with a display matrix, as phones write: the packets of `from`
// with the matrix of a picture turned by `degrees`.
void remuxTurned(const std::string& from, const std::string& to, double degrees)
{
    AVFormatContext* in = nullptr;
    ASSERT_EQ(avformat_open_input(&in, from.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(in, nullptr), 0);
    AVFormatContext* out = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&out, nullptr, nullptr, to.c_str()), 0);
    AVStream* video = avformat_new_stream(out, nullptr);
    avcodec_parameters_copy(video->codecpar, in->streams[0]->codecpar);
    video->codecpar->codec_tag = 0;
    video->time_base = in->streams[0]->time_base;
    auto* matrix = reinterpret_cast<int32_t*>(av_stream_new_side_data(video, AV_PKT_DATA_DISPLAYMATRIX, 9 * 4));
    av_display_rotation_set(matrix, degrees);
    ASSERT_GE(avio_open(&out->pb, to.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(out, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(in, packet) >= 0) {
        av_packet_rescale_ts(packet, in->streams[0]->time_base, video->time_base);
        if (packet->stream_index == 0) av_interleaved_write_frame(out, packet);
        av_packet_unref(packet);
    }
    av_write_trailer(out);
    av_packet_free(&packet);
    avio_closep(&out->pb);
    avformat_free_context(out);
    avformat_close_input(&in);
}

TEST_F(Faithful, PhoneVideoIsUprightWithTheRegionInTheUprightPictureAndKeepsItsFrameTimes)
{
    // 28 frames shown over 1.5 s: 25 a second, then slower.
    ASSERT_EQ(shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48:rate=25 -t 1.6 -vf "
                    "\"setpts='if(lt(N,20),N*0.04,0.8+(N-20)*0.1)/TB'\" -fps_mode passthrough -c:v libx264 "
                    "upright-less.mp4")
                  .status,
              0);
    remuxTurned(path("upright-less.mp4"), path("phone.mp4"), -90.0);
    const std::vector<double> times = frameTimes(path("phone.mp4"));
    ASSERT_EQ(times.size(), 28u);

    const Outcome run = brimtone("render phone.mp4 -o phone-out.mp4 -q --region 0,0,1,0.5");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string shape = probe(path("phone-out.mp4"), "-show_entries stream=width,height:stream_side_data");
    EXPECT_NE(shape.find("\"width\": 48"), std::string::npos) << shape;
    EXPECT_NE(shape.find("\"height\": 64"), std::string::npos) << shape;
    EXPECT_EQ(shape.find("rotation"), std::string::npos) << shape;
    EXPECT_EQ(frameTimes(path("phone-out.mp4")), times);

    // Frame 0 losslessly: the top half two colours, the bottom half the
    // picture as ffmpeg (which turns it too) shows it.
    ASSERT_EQ(brimtone("render phone.mp4 --frames 1 -o 'f%02d.png' -q --region 0,0,1,0.5").status, 0);
    ASSERT_EQ(shell("ffmpeg -nostdin -v error -i phone.mp4 -frames:v 1 -pix_fmt rgb24 -f rawvideo ref.rgb && "
                    "ffmpeg -nostdin -v error -i f01.png -pix_fmt rgb24 -f rawvideo ours.rgb")
                  .status,
              0);
    const std::string ours = readText(path("ours.rgb")), ref = readText(path("ref.rgb"));
    ASSERT_EQ(ours.size(), 48u * 64 * 3);
    ASSERT_EQ(ref.size(), ours.size());
    for (size_t i = 0; i < ours.size() / 2; i += 3) {
        const std::string pixel = ours.substr(i, 3);
        ASSERT_TRUE(pixel == std::string("\x00\x00\xff", 3) || pixel == "\xff\xff\xff") << "pixel " << i / 3;
    }
    double error = 0;
    for (size_t i = ours.size() / 2; i < ours.size(); ++i) error += std::abs(int(uint8_t(ours[i])) - int(uint8_t(ref[i])));
    EXPECT_LT(error / double(ours.size() / 2), 6.0) << "the lower half is not the upright picture";

    // A part, exact to the frame by the frames' own times, fades at its ends.
    const Outcome part = brimtone("render phone.mp4 --from 0.4 --to 1.2 -o part.mkv -q --fade-in 2");
    ASSERT_EQ(part.status, 0) << part.err;
    const std::vector<double> kept = frameTimes(path("part.mkv"));
    ASSERT_EQ(kept.size(), 14u);  // 0.40 .. 1.08
    EXPECT_NEAR(kept.front(), 0.0, 0.002);
    EXPECT_NEAR(kept.back(), 1.08 - 0.4, 0.002);
}

TEST_F(Faithful, PartsAreExactToTheFrameWithTheirSoundAndChapters)
{
    const Outcome run = brimtone("render film.mkv --from 0.4 --to 1:01.2 -o part.mp4 -q");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(frameTimes(path("part.mp4")).size(), 30u);  // 0.4 to the end at 1.6
    const Outcome short_ = brimtone("render film.mkv --from 00:00.4 --to 0.7 -o short.mkv -q");
    ASSERT_EQ(short_.status, 0) << short_.err;
    EXPECT_EQ(frameTimes(path("short.mkv")).size(), 7u);  // those that start from 0.4 to before 0.7
    const std::string format = probe(path("short.mkv"), "-show_entries format=duration -show_chapters");
    EXPECT_NE(format.find("Arrival"), std::string::npos) << format;
    EXPECT_EQ(format.find("Beach"), std::string::npos) << format;  // it starts at 0.8
    const std::string sound = shell("ffprobe -v error -select_streams a:0 -show_entries packet=pts_time,duration_time "
                                    "-of csv=p=0 short.mkv | tail -n 1").out;
    const double end = std::stod(sound.substr(0, sound.find(','))) + std::stod(sound.substr(sound.find(',') + 1));
    EXPECT_NEAR(end, 0.28, 0.03) << sound;  // to its packet
    EXPECT_EQ(brimtone("render film.mkv --from 1 --to 0.5 -o x.mkv").status, 2);
    EXPECT_EQ(brimtone("render film.mkv --from 1:75 -o x.mkv").status, 2);
    EXPECT_EQ(brimtone("render film.mkv --from 5 -o x.mkv").status, 1);
}

// A camera's QuickTime timecode track: its time stays with the video in
// every container, and the line says so rather than naming no codec.
TEST_F(Faithful, ACameraTimecodeStaysWithTheVideo)
{
    ASSERT_EQ(shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 3 "
                    "-timecode 01:02:03:04 -c:v libx264 camera.mov")
                  .status,
              0);
    for (const std::string out : {"camera.mkv", "camera-out.mov"}) {
        const Outcome run = brimtone("render camera.mov -o " + out);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find("stream #1 (tmcd"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("left out: its timecode is kept with the video"), std::string::npos) << run.err;
        EXPECT_NE(probe(path(out), "-show_entries stream_tags").find("01:02:03:04"), std::string::npos) << out;
    }
}

// A cover picture goes with the file where the container keeps one (MP4,
// Matroska as an attachment), the same picture; elsewhere a line says so.
TEST_F(Faithful, ACoverPictureIsKeptWhereTheContainerKeepsOne)
{
    ASSERT_EQ(shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi -i color=red:size=32x32 "
                    "-map 0 -map 1 -frames:v:0 3 -frames:v:1 1 -c:v:0 libx264 -c:v:1 png -disposition:v:1 attached_pic "
                    "cover.mp4")
                  .status,
              0);
    const std::string picture = md5(path("cover.mp4"), "0:1");
    ASSERT_NE(picture, "");
    for (const std::string out : {"cover-out.mp4", "cover-out.mkv"}) {
        const Outcome run = brimtone("render cover.mp4 -q -o " + out);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(md5(path(out), "0:1"), picture) << out;
        EXPECT_NE(probe(path(out), "-show_entries stream_disposition=attached_pic").find("\"attached_pic\": 1"),
                  std::string::npos)
            << out;
    }
    const Outcome mov = brimtone("render cover.mp4 -o cover-out.mov");
    ASSERT_EQ(mov.status, 0) << mov.err;
    EXPECT_NE(mov.err.find("stream #1 (png): left out: mov keeps no cover picture"), std::string::npos) << mov.err;
}

TEST_F(Faithful, DeepInputIsWrittenDeepAndEachEncoderWritesAPlayableFile)
{
    ASSERT_EQ(shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 6 "
                    "-pix_fmt yuv420p10le -c:v libx264 deep.mkv")
                  .status,
              0);
    ASSERT_EQ(brimtone("render deep.mkv -o deep-out.mkv -q --region 0,0,0.1,0.1 --video-codec ffv1").status, 0);
    EXPECT_NE(probe(path("deep-out.mkv"), "-show_entries stream=pix_fmt").find("yuv420p10le"), std::string::npos);
    // The conversion back uses the depth: luma between the 8-bit steps.
    const std::string between = shell("ffmpeg -nostdin -v error -i deep-out.mkv -frames:v 1 -f rawvideo -pix_fmt "
                                      "yuv420p10le - | od -An -tu2 -v -w2 | head -n 3072 | awk '$1 % 4 != 0' | wc -l")
                                    .out;
    EXPECT_GT(std::stoi(between), 1000) << "10-bit output with 8-bit steps";

    const std::vector<std::pair<std::string, std::string>> encoders = {
        {"libx264", "mp4"}, {"libx265", "mkv"}, {"prores_ks", "mov"}, {"dnxhd", "mov"}, {"ffv1", "mkv"},
        {"libvpx-vp9", "webm"}, {"libaom-av1", "mkv"}, {"libsvtav1", "mkv"}, {"png", "mov"}};
    for (const auto& [encoder, extension] : encoders) {
        if (shell("ffmpeg -hide_banner -encoders | grep -q ' " + encoder + " '").status != 0) continue;
        const std::string out = "enc-" + encoder + "." + extension;
        const Outcome run = brimtone("render deep.mkv --frames 3 --size 256x144 -q --video-codec " + encoder + " -o " + out);
        ASSERT_EQ(run.status, 0) << encoder << ": " << run.err;
        const std::string decoded =
            shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of "
                  "csv=p=0 " + out).out;
        EXPECT_EQ(decoded, "3\n") << encoder;
    }
    // A codec the container cannot hold is refused before anything is written.
    const Outcome refused = brimtone("render deep.mkv -o ffv1.mp4 --video-codec ffv1");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("mp4 cannot hold ffv1"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(path("ffv1.mp4")));
    EXPECT_EQ(brimtone("render deep.mkv -o x.mkv --video-codec nosuch").status, 2);
    EXPECT_EQ(brimtone("render deep.mkv -o x.mkv --video-codec ffv1 --crf 20").status, 2);
    const Outcome crf = brimtone("render deep.mkv -o x.webm --video-codec libvpx-vp9 --crf 99");
    EXPECT_EQ(crf.status, 2);
    EXPECT_NE(crf.err.find("--crf 99 is out of libvpx-vp9's range"), std::string::npos) << crf.err;
}

TEST_F(Faithful, DamagedOrCutOffMatroskaFailsNamingTheFileAndTheFrame)
{
    ASSERT_EQ(shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=96x64:rate=25 -frames:v 100 -c:v libx264 "
                    "-g 25 whole.mkv")
                  .status,
              0);
    const std::string whole = readText(path("whole.mkv"));
    std::ofstream(path("cut.mkv"), std::ios::binary) << whole.substr(0, whole.size() * 6 / 10);
    std::string damaged = whole;
    for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 2000; ++i) damaged[i] = char(damaged[i] * 7 + 13);
    std::ofstream(path("damaged.mkv"), std::ios::binary) << damaged;
    for (const std::string name : {"cut.mkv", "damaged.mkv"}) {
        const Outcome run = brimtone("render " + name + " -o out-" + name);
        EXPECT_EQ(run.status, 1) << name;
        const size_t message = run.err.rfind("brimtone: '" + name + "' ");
        ASSERT_NE(message, std::string::npos) << run.err;
        EXPECT_NE(run.err.find(" frame ", message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(path("out-" + name)));
        // Through a pipe, found at the frame.
        const Outcome piped = brimtone("render - -o piped.mkv < " + name);
        EXPECT_EQ(piped.status, 1) << name;
        EXPECT_NE(piped.err.find("brimtone: standard input is damaged at frame "), std::string::npos) << piped.err;
        EXPECT_FALSE(fs::exists(path("piped.mkv")));
    }
    EXPECT_EQ(brimtone("render whole.mkv -o whole-out.mkv -q").status, 0);
}

TEST_F(Faithful, StandardInputOutputAndFifosRenderInOrder)
{
    // A real pipe in, a real pipe out.
    const Outcome piped = shell("cat film.mkv | '" + std::string(BRIMTONE_HOST_EXE) + "' render - -o - -q | cat > piped.mkv");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(description(path("piped.mkv")), description(path("film.mkv")));
    EXPECT_EQ(frameTimes(path("piped.mkv")).size(), 40u);
    EXPECT_EQ(md5(path("piped.mkv"), "0:a:1"), md5(path("film.mkv"), "0:a:1"));
    // MP4 to a pipe is fragmented.
    const Outcome mp4 = brimtone("render film.mkv -o - --format mp4 -q --frames 10 > piped.mp4");
    ASSERT_EQ(mp4.status, 0) << mp4.err;
    EXPECT_EQ(frameTimes(path("piped.mp4")).size(), 10u);
    // Ctrl-C on a render to a pipe: the stream so far, finished, and the
    // frame it stopped at.
    const std::string exe = BRIMTONE_HOST_EXE;
    ASSERT_EQ(shell("( '" + exe + "' render --frames 1000000 --size 64x48 -o - 2>sig.err & echo $! > sig.pid; "
                    "wait $!; echo $? > sig.status ) | cat > stream.mkv &")
                  .status,
              0);
    for (int wait = 0; wait < 600 && (!fs::exists(path("sig.pid")) || !fs::exists(path("stream.mkv")) ||
                                      fs::file_size(path("stream.mkv")) < 20000);
         ++wait)
        usleep(50000);
    ASSERT_EQ(shell("kill -INT $(cat sig.pid)").status, 0);
    for (int wait = 0; wait < 600 && readText(path("sig.status")).empty(); ++wait) usleep(50000);
    EXPECT_EQ(readText(path("sig.status")), "130\n");
    const std::string said = readText(path("sig.err"));
    const size_t at = said.find("stopped at frame ");
    ASSERT_NE(at, std::string::npos) << said;
    EXPECT_NE(said.find("; wrote standard output"), std::string::npos) << said;
    EXPECT_EQ(frameTimes(path("stream.mkv")).size(), size_t(std::atoi(said.c_str() + at + 17)));

    // A FIFO, read once.
    ASSERT_EQ(mkfifo(path("film.fifo").c_str(), 0600), 0);
    const Outcome fifo = shell("cat film.mkv > film.fifo & '" + std::string(BRIMTONE_HOST_EXE) +
                           "' render film.fifo -o fifo.mkv -q");
    ASSERT_EQ(fifo.status, 0) << fifo.err;
    EXPECT_EQ(description(path("fifo.mkv")), description(path("film.mkv")));
}

}  // namespace
