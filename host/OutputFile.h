// The one place the host opens a user's output. Three rules keep the user's
// files safe:
//   RefuseInPlace   the output is never the input, whatever path names it;
//   ConfirmReplace  an existing output is replaced only when the user says so;
//   CommitOutput    frames go to a temporary folder beside the output and
//                   take the output's name only once they are finished, all
//                   of them or none.
// Anything not committed is removed, so a failed or abandoned render leaves
// no broken file and an old output stays whole.
//
// What OUTPUT names is decided by one rule: a name ending in .png (in any
// case) whose file name holds one frame number, % then d with an optional
// width (%d, %05d), is a sequence of PNG frames numbered from 1, and %% in
// it stands for a percent sign. Every other name is one file, whatever
// characters it holds.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <utility>

#include <sys/types.h>

#include "CommandLine.h"
#include "media/Encoding.h"

namespace brimtone::host {

// A name ending in .png, in any case: a picture, or a sequence of them.
bool endsWithPng(const std::string& name);

class TemporaryFolder;

struct OutputRequest {
    std::string path;   // as the user gave it
    std::string input;  // the file read, empty for the built-in clip
    int frameCount = 1;
    Replace replace = Replace::Ask;
    std::string format{};  // the container the user named (--format), empty: by extension
    // One picture (a thumbnail, a screenshot): one file whatever its name.
    bool onePicture = false;
};

// How the output's frames are named: one file, or a PNG sequence.
struct FrameNames {
    std::string folder;  // where the files go
    std::string name;    // one file's name; a sequence's text before the number
    std::string suffix;  // a sequence's text after the number
    int digits = 0;      // a sequence's least number of digits; 0 for one file
    bool sequence = false;

    // The file name of `frame` (one file's own name).
    std::string fileName(int frame) const;
    // The frame that the file name `file` is in this sequence, or -1.
    long frameOf(const std::string& file) const;
};

// Where an output is written while it is made, and putting it in place. The
// writer (a media sink, an image writer) is the caller's: it writes to
// writePath() and finishes there before commit().
class OutputFile {
public:
    // Why `path`, with `encoding`, names no output the host can write (a
    // sequence's name it cannot number, an unknown type, a codec the
    // container cannot hold); empty when it is good. Nothing is opened.
    static std::string checkName(const std::string& path, const Encoding& encoding);
    // Checks the request against the three rules and makes the temporary
    // folder; nullptr and the reason when that cannot be. "-" is standard
    // output: written as it comes, nothing to replace or put in place.
    static std::unique_ptr<OutputFile> open(const OutputRequest& request, std::string& error);
    // Removes the temporary folder unless committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The output as the user gave it, for messages.
    const std::string& path() const { return path_; }
    // Where the writer puts the output until commit: one file, whose name
    // holds no '%'; or, for a sequence, a PNG pattern with one %010d field
    // numbered from 1.
    const std::string& writePath() const { return written_; }
    bool isSequence() const { return names_.sequence; }

    // Gives the `frames` finished frames (1 for one file) their final names
    // (CommitOutput); frames of an old, longer sequence are removed after
    // them. On failure the old output is as it was and nothing of this
    // render remains. A signal meanwhile waits until the commit is over
    // (Interrupt::stopSignal() then tells it).
    bool commit(int frames, std::string& error);
    // What the commit put in place, for "wrote ...": the name, and for a
    // sequence its frames and the old ones removed.
    const std::string& committed() const { return committed_; }
    // Drops what was written.
    void discard();

private:
    OutputFile() = default;

    std::string path_;     // as the user gave it, for messages
    FrameNames names_;     // the files replaced, links followed for one file
    std::unique_ptr<TemporaryFolder> scratch_;
    std::string written_;  // the writer's path inside it
    std::string committed_;
    std::set<std::pair<dev_t, ino_t>> input_;  // never removed, whatever its name
};

}  // namespace brimtone::host
