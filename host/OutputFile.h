// The one place the host opens a user's output. Three rules keep the user's
// files safe:
//   RefuseInPlace   the output is never the input, whatever path names it;
//   ConfirmReplace  an existing output is replaced only when the user says so;
//   CommitOutput    frames go to a temporary folder beside the output and
//                   take the output's name only once they are finished.
// Anything not committed is removed, so a failed or abandoned render leaves
// no broken file and an old output stays whole.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"

namespace brimtone::host {

struct OutputRequest {
    std::string path;   // as the user gave it: a file or a PNG pattern
    std::string input;  // the file read, empty for the built-in clip
    int frameCount = 1;
    Replace replace = Replace::Ask;
    std::string format;  // the container the user named (--format), empty: by extension
};

// The files a PNG pattern names for frames first..last (numbered as written);
// a plain path names itself.
std::vector<std::string> OutputFrameFiles(const std::string& path, int first, int last);

// An error when the path is not an output the host can write `frameCount`
// frames to: an unknown type, a PNG pattern it cannot number, or one PNG
// name for many frames.
std::string CheckOutputName(const std::string& path, int frameCount, const std::string& format = {});

// An error when one of `outputs` is the input or one of its frames: same
// device and inode, through links, `./` and hard links.
std::string RefuseInPlace(const std::string& input, const std::vector<std::string>& outputs);

// An error unless the existing `outputs` may be replaced: -y says yes, -n
// no; otherwise the question is asked on the terminal, and refused without one.
std::string ConfirmReplace(const std::string& shownName, const std::vector<std::string>& outputs,
                           Replace replace);

// Where an output is written while it is made, and putting it in place. The
// writer (a media sink, an image writer) is the caller's: it writes to
// writePath() and finishes there before commit().
class OutputFile {
public:
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
    // Where the writer puts the output (a file, or a PNG pattern) until commit.
    const std::string& writePath() const { return written_; }

    // Gives the `frames` finished frames (1 for a single file) their final
    // names (CommitOutput). On failure nothing of this render remains.
    bool commit(int frames, std::string& error);
    // Drops what was written.
    void discard();

private:
    OutputFile() = default;

    std::string path_;    // as the user gave it, for messages
    std::string target_;  // the file (or pattern) that is replaced, links followed
    std::string scratch_; // the temporary folder beside the target
    std::string written_; // the writer's path inside it
    bool pattern_ = false;
};

}  // namespace brimtone::host
