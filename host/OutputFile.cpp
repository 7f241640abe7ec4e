#include "OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include "Interrupt.h"
#include "MediaSink.h"
#include "TemporaryFolder.h"

namespace brimtone::host {

bool endsWithPng(const std::string& name)
{
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".png") == 0;
}

namespace {

// More digits than a 32-bit frame number has make no sense.
constexpr int kMaxFrameDigits = 10;
// The writer's frames inside the temporary folder.
constexpr char kScratchFrames[] = "%010d.png";
constexpr char kScratchStem[] = ".brimtone";

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

std::string plural(long count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// Reads `path` by the rule in OutputFile.h; false with the reason for a
// sequence's name that cannot be used.
bool parseFrameNames(const std::string& path, bool onePicture, FrameNames& names, std::string& error)
{
    names = FrameNames{};
    names.folder = folderOf(path);
    const std::string file = nameOf(path);
    if (onePicture || !endsWithPng(path) || file.find('%') == std::string::npos) {
        names.name = file;
        return true;
    }
    std::string text;
    int fields = 0;
    bool loneSign = false;
    for (size_t i = 0; i < file.size(); ++i) {
        if (file[i] != '%') {
            text += file[i];
            continue;
        }
        if (i + 1 < file.size() && file[i + 1] == '%') {
            text += '%';
            ++i;
            continue;
        }
        size_t end = i + 1;
        while (end < file.size() && file[end] >= '0' && file[end] <= '9') ++end;
        if (end >= file.size() || file[end] != 'd') {
            loneSign = true;
            text += '%';
            continue;
        }
        if (++fields == 1) {
            names.name = text;
            text.clear();
            std::string width = file.substr(i + 1, end - i - 1);
            width.erase(0, width.find_first_not_of('0'));
            names.digits = width.size() > 2 ? INT_MAX : std::max(std::atoi(width.c_str()), 1);
        }
        i = end;
    }
    if (fields == 0) {
        names.name = file;
        return true;
    }
    const std::string quoted = quotedPath(path);
    if (fields > 1) error = quoted + ": a PNG sequence's name holds one frame number (such as %05d), not " +
                            std::to_string(fields);
    else if (loneSign) error = quoted + ": write %% for a percent sign in a PNG sequence's name";
    else if (names.digits > kMaxFrameDigits)
        error = quoted + ": a frame number has at most " + std::to_string(kMaxFrameDigits) + " digits";
    names.suffix = text;
    names.sequence = true;
    return error.empty();
}

std::pair<dev_t, ino_t> identity(const struct stat& info)
{
    return {info.st_dev, info.st_ino};
}

// Frame `index` of an input pattern as FFmpeg numbers it, or empty.
std::string inputFrameName(const std::string& pattern, int index)
{
    char name[PATH_MAX];
    return av_get_frame_filename2(name, sizeof name, pattern.c_str(), index, 0) < 0 ? std::string() : name;
}

// The files that `input` reads: itself, or the frames of a PNG pattern from
// the first number that exists (FFmpeg starts looking at 0 to 4).
std::set<std::pair<dev_t, ino_t>> inputFiles(const std::string& input)
{
    std::set<std::pair<dev_t, ino_t>> read;
    struct stat info {};
    if (input.empty()) return read;
    if (stat(input.c_str(), &info) == 0) return {identity(info)};
    if (input.find('%') == std::string::npos) return read;
    for (int index = 0; index < INT_MAX; ++index) {
        const std::string name = inputFrameName(input, index);
        if (name.empty()) break;
        if (stat(name.c_str(), &info) == 0) read.insert(identity(info));
        else if (!read.empty() || index >= 4) break;
    }
    return read;
}

// A frame of the old sequence found in the output's folder.
struct OldFrame {
    long frame;
    std::string path;
};

// The files of the folder that this sequence names: one listing, whatever
// the number of frames asked for.
std::vector<OldFrame> oldFrames(const FrameNames& names)
{
    std::vector<OldFrame> found;
    DIR* folder = opendir(names.folder.c_str());
    if (!folder) return found;
    while (const dirent* entry = readdir(folder)) {
        const long frame = names.frameOf(entry->d_name);
        if (frame < 0) continue;
        const std::string path = names.folder + "/" + entry->d_name;
        struct stat info {};
        if (lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) found.push_back({frame, path});
    }
    closedir(folder);
    return found;
}

// The file a path names once links are followed, whether it exists or not.
std::string followLinks(std::string path, std::string& error)
{
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length < 0) return path;
        const std::string next(target, size_t(length));
        path = next[0] == '/' ? next : folderOf(path) + "/" + next;
    }
    error = std::strerror(ELOOP);
    return path;
}

// Writes the file's blocks to the disk before its name is given away.
bool syncPath(const std::string& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

// Frames of the whole temporary folder at once: one flush for the file
// system instead of one for each frame.
bool syncFolderContents(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = syncfs(fd) == 0;
    close(fd);
    return synced;
}

// Test hook: BRIMTONE_COMMIT_PAUSE_MS pauses each step of putting a sequence
// in place, so that a test can send a signal between two of them.
void pauseBetweenSteps()
{
    static const long pause = [] {
        const char* value = std::getenv("BRIMTONE_COMMIT_PAUSE_MS");
        return value ? std::strtol(value, nullptr, 10) : 0L;
    }();
    if (pause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
}

// Why the name, for `frameCount` frames in the container `format` (empty: by
// the name), is not an output the host can write; empty when it is.
std::string CheckOutputName(const std::string& path, const FrameNames& names, int frameCount,
                            const std::string& format)
{
    if (!endsWithPng(path) || !format.empty()) {
        Encoding encoding;
        encoding.format = format;
        return MediaSink::checkName(path, encoding);
    }
    if (!names.sequence) {
        if (frameCount <= 1) return {};
        std::string stem = path.substr(0, path.size() - 4);
        for (size_t at = stem.find('%'); at != std::string::npos; at = stem.find('%', at + 2)) stem.insert(at, "%");
        return quotedPath(path) + " holds one picture, not " + std::to_string(frameCount) +
               " frames; give a pattern such as " + stem + "%05d.png";
    }
    if (names.fileName(frameCount).size() > NAME_MAX) return quotedPath(path) + ": the frames' names would be too long";
    struct statvfs room {};
    if (statvfs(names.folder.c_str(), &room) == 0 && room.f_files > 0 && room.f_favail < fsfilcnt_t(frameCount))
        return quotedPath(path) + ": its file system has room for " + std::to_string(room.f_favail) +
               " more files, not " + plural(frameCount, "frame");
    return {};
}

// An error when the output, or a frame of the old sequence it replaces, is
// the input: same device and inode, through links, `./` and hard links.
std::string RefuseInPlace(const std::string& input, const std::set<std::pair<dev_t, ino_t>>& read,
                          const std::string& shownName, bool sequence, const std::vector<std::string>& outputs)
{
    if (read.empty()) return {};
    for (const std::string& output : outputs) {
        struct stat info {};
        if (stat(output.c_str(), &info) == 0 && read.count(identity(info)))
            return "cannot write " + quotedPath(sequence ? output : shownName) + ": it is the input " + quotedPath(input) +
                   "; brimtone never writes over its input, so choose another output";
    }
    return {};
}

// An error unless the `existing` files of the output may be replaced (and
// `beyond` of them, past the new last frame, removed): -y says yes, -n no;
// otherwise the question is asked on the terminal, and refused without one.
std::string ConfirmReplace(const std::string& shownName, bool sequence, size_t existing, size_t beyond,
                           int frameCount, Replace replace)
{
    if (existing == 0 || replace == Replace::Always) return {};
    std::string what = quotedPath(shownName) + " exists";
    if (sequence) {
        what = quotedPath(shownName) + ": " + std::to_string(existing) + " of its frames exist";
        if (beyond > 0)
            what += ", " + std::to_string(beyond) + " of them past frame " + std::to_string(frameCount) +
                    " (those are removed)";
    }
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

// Renames the finished files onto their names, first to last; an old file
// there keeps its permissions in the new one and is kept in `scratch`, so
// that a failure can put everything back: as a hard link, or moved there
// where the file system has none (FAT, some network shares).
std::string renameInPlace(const FrameNames& written, const FrameNames& target, int frames, const std::string& scratch)
{
    enum Was : char { absent, kept, moved, lost };  // what was at each name before
    std::vector<Was> before;
    const auto keptName = [&](int frame) { return scratch + "/old-" + std::to_string(frame); };
    for (int frame = 1; frame <= frames; ++frame) {
        if (target.sequence) pauseBetweenSteps();
        const std::string from = written.folder + "/" + written.fileName(frame);
        const std::string to = target.folder + "/" + target.fileName(frame);
        struct stat old {};
        before.push_back(absent);
        if (lstat(to.c_str(), &old) == 0) {
            if (S_ISREG(old.st_mode)) chmod(from.c_str(), old.st_mode & 07777);
            // Only a file is moved, and only when a later frame could still
            // fail: a folder in the way is the user's and fails the rename
            // below, and a rename over the last name needs nothing put back.
            if (link(to.c_str(), keptName(frame).c_str()) == 0)
                before.back() = Was::kept;
            else if (S_ISREG(old.st_mode) && frame < frames && rename(to.c_str(), keptName(frame).c_str()) == 0)
                before.back() = Was::moved;
            else
                before.back() = Was::lost;
        }
        if (rename(from.c_str(), to.c_str()) != 0) {
            const std::string error = "cannot write " + quotedPath(to) + ": " + std::strerror(errno);
            if (before.back() == Was::moved) rename(keptName(frame).c_str(), to.c_str());
            for (int done = frame - 1; done >= 1; --done) {
                const std::string name = target.folder + "/" + target.fileName(done);
                const Was was = before[size_t(done - 1)];
                if (was == Was::kept || was == Was::moved) rename(keptName(done).c_str(), name.c_str());
                else if (was == Was::absent) unlink(name.c_str());
            }
            return error;
        }
    }
    return {};
}

// Gives the `frames` finished files of `written` the names of `target`, all
// of them or none, then removes the old sequence's other frames. Signals wait
// until it is over. `committed` says what is on disk.
std::string CommitOutput(const std::string& shownName, const FrameNames& written, const FrameNames& target, int frames,
                         const std::set<std::pair<dev_t, ino_t>>& input, std::string& committed)
{
    if (frames <= 0) return "cannot write " + quotedPath(shownName) + ": no frame was written";
    for (int frame = 1; frame <= frames; ++frame) {
        struct stat info {};
        if (lstat((written.folder + "/" + written.fileName(frame)).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return "cannot write " + quotedPath(shownName) + ": " +
                   (target.sequence ? "frame " + std::to_string(frame) + " was not written" : "nothing was written");
    }
    const bool synced = target.sequence ? syncFolderContents(written.folder)
                                        : syncPath(written.folder + "/" + written.name, 0);
    if (!synced) return "cannot write " + quotedPath(shownName) + ": " + std::strerror(errno);
    std::vector<OldFrame> stale = target.sequence ? oldFrames(target) : std::vector<OldFrame>{};
    stale.erase(std::remove_if(stale.begin(), stale.end(),
                               [&](const OldFrame& old) {
                                   struct stat info {};
                                   return (old.frame >= 1 && old.frame <= frames) ||
                                          (stat(old.path.c_str(), &info) == 0 && input.count(identity(info)));
                               }),
                stale.end());
    // Last first, so that what is on disk is one run of frames at every step.
    std::sort(stale.begin(), stale.end(), [](const OldFrame& a, const OldFrame& b) { return a.frame > b.frame; });

    Interrupt::Commit holdSignals;
    if (std::string error = renameInPlace(written, target, frames, written.folder); !error.empty()) return error;
    size_t removed = 0;
    for (const OldFrame& old : stale) {
        pauseBetweenSteps();
        removed += unlink(old.path.c_str()) == 0 ? 1 : 0;
    }
    syncPath(target.folder, O_DIRECTORY);
    holdSignals.succeeded();

    committed = shownName;
    if (!target.sequence) return {};
    committed += " (" + plural(frames, "frame");
    if (removed > 0) committed += "; " + plural(long(removed), "old frame") + " after them removed";
    if (removed < stale.size())
        committed += "; " + plural(long(stale.size() - removed), "old frame") + " after them could not be removed";
    committed += ")";
    return {};
}

bool isScratchStem(const std::string& stem)
{
    return stem.size() > sizeof kScratchStem && stem[0] == '.' &&
           stem.compare(stem.size() - (sizeof kScratchStem - 1), std::string::npos, kScratchStem) == 0;
}

} // namespace

std::string FrameNames::fileName(int frame) const
{
    if (!sequence) return name;
    std::string number = std::to_string(frame);
    if (int(number.size()) < digits) number.insert(0, size_t(digits) - number.size(), '0');
    return name + number + suffix;
}

long FrameNames::frameOf(const std::string& file) const
{
    if (!sequence) return file == name ? 1 : -1;
    if (file.size() <= name.size() + suffix.size() || file.compare(0, name.size(), name) != 0 ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
        return -1;
    const std::string number = file.substr(name.size(), file.size() - name.size() - suffix.size());
    if (number.size() > size_t(kMaxFrameDigits) ||
        number.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const long frame = std::stol(number);
    // Only the spelling this sequence gives the number: 007 is frame 7 of
    // %03d, but not of %d.
    std::string spelt = std::to_string(frame);
    if (int(spelt.size()) < digits) spelt.insert(0, size_t(digits) - spelt.size(), '0');
    return spelt == number ? frame : -1;
}

std::string OutputFile::checkName(const std::string& path, const Encoding& encoding)
{
    FrameNames names;
    std::string error;
    if (!parseFrameNames(path, !encoding.format.empty(), names, error)) return error;
    // PNG frames, or one PNG picture, whatever the name holds.
    if (endsWithPng(path) && encoding.format.empty()) return {};
    return MediaSink::checkName(path, encoding);
}

std::unique_ptr<OutputFile> OutputFile::open(const OutputRequest& request, std::string& error)
{
    const std::string& path = request.path;
    error.clear();
    std::unique_ptr<OutputFile> output(new OutputFile);
    output->path_ = path;
    FrameNames& names = output->names_;
    // A container named by --format takes any name as one file.
    if (!parseFrameNames(path, request.onePicture || !request.format.empty(), names, error)) return nullptr;
    error = CheckOutputName(path, names, request.frameCount, request.format);
    if (!error.empty()) return nullptr;
    if (path == "-") {
        output->written_ = path;
        output->committed_ = "standard output";
        return output;
    }

    std::vector<std::string> replaced;
    size_t beyond = 0;
    struct stat info {};
    if (names.sequence) {
        for (const OldFrame& old : oldFrames(names)) {
            replaced.push_back(old.path);
            beyond += old.frame < 1 || old.frame > request.frameCount ? 1 : 0;
        }
    } else {
        // A link is followed, even to a file yet to be made: the file it
        // names is the one written.
        const std::string target = followLinks(path, error);
        if (!error.empty()) {
            error = "cannot write " + quotedPath(path) + ": " + error;
            return nullptr;
        }
        names.folder = folderOf(target);
        names.name = nameOf(target);
        if (stat(target.c_str(), &info) == 0) {
            if (S_ISDIR(info.st_mode)) {
                error = "cannot write " + quotedPath(path) + ": it is a folder";
                return nullptr;
            }
            if (!S_ISREG(info.st_mode)) {
                error = "cannot write " + quotedPath(path) + ": it is not a regular file";
                return nullptr;
            }
            replaced.push_back(target);
        }
    }
    output->input_ = inputFiles(request.input);
    error = RefuseInPlace(request.input, output->input_, path, names.sequence, replaced);
    if (!error.empty()) return nullptr;
    error = ConfirmReplace(path, names.sequence, replaced.size(), beyond, request.frameCount, request.replace);
    if (!error.empty()) return nullptr;

    if (stat(names.folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = "cannot write " + quotedPath(path) + ": folder " + quotedPath(names.folder) + " does not exist";
        return nullptr;
    }
    // What killed runs left here goes first; then this run's folder: hidden,
    // named after the output, and free of '%' so that the writer takes the
    // name as it is.
    TemporaryFolder::removeStale(names.folder, isScratchStem);
    std::string hint = names.sequence ? nameOf(path) : names.name;
    std::replace(hint.begin(), hint.end(), '%', '_');
    // The folder's name is cut to fit; the file keeps its whole name, whose
    // extension chooses the container.
    output->scratch_ = TemporaryFolder::make(names.folder, "." + hint.substr(0, 160) + kScratchStem, true, error);
    if (!output->scratch_) {
        error = "cannot write " + quotedPath(path) + ": " + error;
        return nullptr;
    }
    output->written_ = output->scratch_->path() + "/" + (names.sequence ? kScratchFrames : hint);
    return output;
}

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::commit(int frames, std::string& error)
{
    if (path_ == "-") return true;
    if (!scratch_) {
        error = "cannot write " + quotedPath(path_) + ": the output was dropped";
        return false;
    }
    FrameNames written;
    std::string ignored;
    parseFrameNames(written_, false, written, ignored);
    error = CommitOutput(path_, written, names_, names_.sequence ? frames : std::min(frames, 1), input_, committed_);
    discard();
    return error.empty();
}

void OutputFile::discard()
{
    scratch_.reset();
}

}  // namespace brimtone::host
