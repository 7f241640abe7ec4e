#include "OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <filesystem>
#include <set>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include "Interrupt.h"
#include "MediaSink.h"

namespace brimtone::host {

namespace fs = std::filesystem;

namespace {

// More digits than a 32-bit frame number has make no sense.
constexpr int kMaxFrameDigits = 10;

bool isPattern(const std::string& path)
{
    return path.find('%') != std::string::npos;
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Why the frame number of a PNG pattern (one that FFmpeg can number) is
// unusable, or empty.
std::string checkPattern(const std::string& path)
{
    if (folderOf(path).find('%') != std::string::npos)
        return quotedPath(path) + ": the frame number goes in the file's name, not in its folder";
    size_t at = path.find('%');
    while (at != std::string::npos && path.compare(at, 2, "%%") == 0) at = path.find('%', at + 2);
    std::string width = path.substr(at + 1, path.find('d', at) - at - 1);
    width.erase(0, width.find_first_not_of('0'));
    if (width.size() > 2 || (!width.empty() && std::stoi(width) > kMaxFrameDigits))
        return quotedPath(path) + ": a frame number has at most " + std::to_string(kMaxFrameDigits) + " digits";
    return {};
}

std::pair<dev_t, ino_t> identity(const struct stat& info)
{
    return {info.st_dev, info.st_ino};
}

// The files that `input` reads: itself, or the frames of a PNG pattern from
// the first number that exists (FFmpeg starts looking at 0 to 4).
std::vector<std::string> inputFiles(const std::string& input)
{
    struct stat info {};
    if (input.empty()) return {};
    if (stat(input.c_str(), &info) == 0 || !isPattern(input)) return {input};
    std::vector<std::string> files;
    for (int index = 0; index < INT_MAX; ++index) {
        const std::vector<std::string> name = OutputFrameFiles(input, index, index);
        if (name.empty()) break;
        if (stat(name[0].c_str(), &info) == 0) files.push_back(name[0]);
        else if (!files.empty() || index >= 4) break;
    }
    return files;
}

// Writes the file's blocks to the disk before its name is given away.
bool syncFile(const std::string& path, bool folder)
{
    const int fd = ::open(path.c_str(), (folder ? O_DIRECTORY : 0) | O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

// The finished `written` file (or frames 1..frames of a pattern) takes the
// name of `target`; an old file there keeps its permissions in the new one.
std::string CommitOutput(const std::string& written, const std::string& target, bool pattern, int frames)
{
    const std::vector<std::string> from = OutputFrameFiles(written, 1, pattern ? frames : 1);
    const std::vector<std::string> to = OutputFrameFiles(target, 1, pattern ? frames : 1);
    for (size_t i = 0; i < from.size() && i < to.size(); ++i) {
        struct stat old {};
        if (stat(to[i].c_str(), &old) == 0 && S_ISREG(old.st_mode)) chmod(from[i].c_str(), old.st_mode & 07777);
        if (!syncFile(from[i], false) || rename(from[i].c_str(), to[i].c_str()) != 0)
            return "cannot write " + quotedPath(to[i]) + ": " + std::strerror(errno);
    }
    syncFile(folderOf(target), true);
    return {};
}

} // namespace

std::vector<std::string> OutputFrameFiles(const std::string& path, int first, int last)
{
    if (!isPattern(path)) return {path};
    std::vector<std::string> files;
    char name[PATH_MAX];
    for (int index = first; index <= last && index >= 0; ++index) {
        if (av_get_frame_filename2(name, sizeof name, path.c_str(), index, 0) < 0) break;
        files.emplace_back(name);
        if (index == INT_MAX) break;
    }
    return files;
}

std::string CheckOutputName(const std::string& path, int frameCount, const std::string& format)
{
    Encoding encoding;
    encoding.format = format;
    if (std::string error = MediaSink::checkName(path, encoding); !error.empty()) return error;
    const bool png = path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".png") == 0;
    if (!png || !format.empty()) return {};
    if (isPattern(path)) {
        if (std::string error = checkPattern(path); !error.empty()) return error;
        const std::vector<std::string> last = OutputFrameFiles(path, frameCount, frameCount);
        if (last.empty() || nameOf(last[0]).size() > NAME_MAX)
            return quotedPath(path) + ": the frames' names would be too long";
        return {};
    }
    if (frameCount > 1)
        return quotedPath(path) + " holds one picture, not " + std::to_string(frameCount) +
               " frames; give a pattern such as " + path.substr(0, path.size() - 4) + "%05d.png";
    return {};
}

std::string RefuseInPlace(const std::string& input, const std::vector<std::string>& outputs)
{
    std::set<std::pair<dev_t, ino_t>> read;
    for (const std::string& file : inputFiles(input)) {
        struct stat info {};
        if (stat(file.c_str(), &info) == 0) read.insert(identity(info));
    }
    if (read.empty()) return {};
    for (const std::string& output : outputs) {
        struct stat info {};
        if (stat(output.c_str(), &info) == 0 && read.count(identity(info)))
            return "cannot write " + quotedPath(output) + ": it is the input " + quotedPath(input) +
                   "; brimtone never writes over its input, so choose another output";
    }
    return {};
}

std::string ConfirmReplace(const std::string& shownName, const std::vector<std::string>& outputs, Replace replace)
{
    size_t existing = 0;
    for (const std::string& output : outputs) {
        struct stat info {};
        if (lstat(output.c_str(), &info) == 0) ++existing;
    }
    if (existing == 0 || replace == Replace::Always) return {};
    const std::string what = outputs.size() == 1 && !isPattern(shownName)
                                 ? quotedPath(shownName) + " exists"
                                 : quotedPath(shownName) + ": " + std::to_string(existing) + " of its frames exist";
    if (replace == Replace::Never) return what + "; not replaced (-n)";
    if (isatty(STDIN_FILENO) != 1) return what + "; give -y to replace it or -n to keep it";
    std::fprintf(stderr, "%s. Overwrite? [y/N] ", what.c_str());
    std::fflush(stderr);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, stdin)) {
        std::fputc('\n', stderr);
        return what + "; not replaced";
    }
    const std::string word(answer, strcspn(answer, " \t\r\n"));
    if (strcasecmp(word.c_str(), "y") == 0 || strcasecmp(word.c_str(), "yes") == 0) return {};
    return what + "; not replaced";
}

std::unique_ptr<OutputFile> OutputFile::open(const OutputRequest& request, std::string& error)
{
    const std::string& path = request.path;
    error = CheckOutputName(path, request.frameCount, request.format);
    if (!error.empty()) return nullptr;
    if (path == "-") {
        std::unique_ptr<OutputFile> output(new OutputFile);
        output->path_ = output->written_ = path;
        return output;
    }
    const std::vector<std::string> files = OutputFrameFiles(path, 1, std::max(request.frameCount, 1));
    error = RefuseInPlace(request.input, files);
    if (!error.empty()) return nullptr;

    std::unique_ptr<OutputFile> output(new OutputFile);
    output->path_ = path;
    output->target_ = path;
    output->pattern_ = isPattern(path);
    struct stat info {};
    if (!output->pattern_ && lstat(path.c_str(), &info) == 0) {
        // A link is followed: the file it names is the one replaced.
        std::error_code ec;
        if (S_ISLNK(info.st_mode) && stat(path.c_str(), &info) == 0) output->target_ = fs::canonical(path, ec).string();
        if (ec) output->target_ = path;
        if (S_ISDIR(info.st_mode)) {
            error = "cannot write " + quotedPath(path) + ": it is a folder";
            return nullptr;
        }
        if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
            error = "cannot write " + quotedPath(path) + ": it is not a regular file";
            return nullptr;
        }
    }
    error = ConfirmReplace(path, files, request.replace);
    if (!error.empty()) return nullptr;

    const std::string folder = folderOf(output->target_);
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "cannot write " + quotedPath(path) + ": folder " + quotedPath(folder) + " does not exist";
        return nullptr;
    }
    // Hidden, named after the output, and free of '%' so that a PNG pattern
    // numbers only the frames inside it.
    std::string hint = nameOf(output->target_).substr(0, 200);
    for (char& c : hint)
        if (c == '%') c = '_';
    std::string scratch = folder + "/." + hint + ".brimtone-XXXXXX";
    if (!mkdtemp(scratch.data())) {
        error = "cannot write " + quotedPath(path) + ": " + std::strerror(errno);
        return nullptr;
    }
    output->scratch_ = scratch;
    Interrupt::setScratch(scratch);
    output->written_ = scratch + "/" + nameOf(output->target_);
    return output;
}

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::commit(int frames, std::string& error)
{
    if (path_ == "-") return true;
    error = CommitOutput(written_, target_, pattern_, frames);
    discard();
    return error.empty();
}

void OutputFile::discard()
{
    if (scratch_.empty()) return;
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
    Interrupt::setScratch({});
    scratch_.clear();
}

}  // namespace brimtone::host
