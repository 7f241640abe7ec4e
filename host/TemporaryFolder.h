// The host's own folders for one run: an unfinished output beside the user's
// file, a run's private settings in $TMPDIR. Each is named STEM-PID-XXXXXX
// after the process that made it and is removed when it goes, and when a
// signal ends the process (Interrupt). A folder that a killed run left behind
// is removed by a later run, once the process in its name is gone.
#pragma once

#include <memory>
#include <string>

namespace brimtone::host {

class TemporaryFolder {
public:
    // Makes parent/STEM-PID-XXXXXX, readable by this user only; nullptr and
    // the reason when it cannot be made.
    static std::unique_ptr<TemporaryFolder> make(const std::string& parent, const std::string& stem,
                                                 bool holdsOutput, std::string& error);
    // Removes the folder and what is in it.
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return path_; }

    // Removes the folders in `parent` named STEM-PID-XXXXXX, for a stem that
    // `isOurs` accepts, that this user owns and whose process has ended.
    // Returns how many went.
    static int removeStale(const std::string& parent, bool (*isOurs)(const std::string& stem));

    // A folder of this run's own in $TMPDIR, else /tmp:
    // brimtone-run-PID-XXXXXX.
    static std::unique_ptr<TemporaryFolder> makeRunFolder(std::string& error);
    // Those that runs killed outright left there.
    static void removeStaleRunFolders();

private:
    explicit TemporaryFolder(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

}  // namespace brimtone::host
