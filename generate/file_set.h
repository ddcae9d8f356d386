// FileSet: several files replaced all or nothing.
//
// Each file's new content is first staged as a temporary beside it, named
// ".<file name>.morvane-<pid>-<n>" (hex) so that listings pass over it, and
// held under an exclusive flock() while it is written: a temporary whose
// writer is still at work can be told from one left by a killed process,
// whatever process id the system has handed out since
// (RemoveStaleTemporaries()). Commit() then renames the temporaries into
// place one after another, keeping a hard link to each replaced file as a
// backup until the last rename has succeeded; when one fails, every file
// already replaced gets its old content back (a file that did not exist is
// removed again) and no temporary or backup is left.
//
// A file whose content would not change is not staged, so its time stamp
// stays. The mode of a replaced regular file is kept; a new file gets 0666
// less the umask. No fsync: this guards against a process dying, not
// against the machine losing power.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// Why a file could not be written: its temporary could not be created, or
// it could not be written, closed or renamed into place.
enum class ReplaceFailure { kNone, kCreate, kWrite };

// What a symbolic link standing at a file's path becomes.
enum class LinkPolicy {
    // The link itself is replaced by the new file and its target left as
    // it is: for generated files, so that a link planted in an output
    // directory never writes elsewhere.
    kReplaceLink,
    // The link stays and the file it leads to (through every link, a
    // dangling one included) is replaced: for files a user keeps behind a
    // link of their own.
    kReplaceTarget,
};

class FileSet {
  public:
    explicit FileSet(LinkPolicy links);
    // Removes whatever is still staged: a set not committed changes nothing.
    ~FileSet();
    FileSet(const FileSet&) = delete;
    FileSet& operator=(const FileSet&) = delete;

    // Stages content for path (written into a temporary in the directory
    // of the file finally replaced). False, with failure() describing it,
    // when the temporary cannot be created or written, or path is a
    // directory; nothing else has changed then. Nothing is logged.
    bool Add(const std::string& path, std::string_view content);
    // As Add(), with links for this file instead of the set's policy: a set
    // may hold a user's file kept behind a link beside generated ones.
    bool Add(const std::string& path, std::string_view content, LinkPolicy links);

    // Puts every staged file in place, all or nothing (see above). False,
    // with failure() naming the file whose rename failed, after restoring
    // the files already replaced. Nothing is logged. The set is empty
    // afterwards either way.
    bool Commit();

    struct Failure {
        ReplaceFailure kind = ReplaceFailure::kNone;
        std::string path;  // the file that could not be written, as given to Add()
        int error = 0;     // errno of the failing call
    };
    const Failure& failure() const { return failure_; }
    // "<path>: <strerror>" of the failure, for a message.
    std::string Reason() const;

    // Files staged and not yet committed.
    size_t staged() const { return files_.size(); }

  private:
    struct Staged {
        std::string path;       // as given
        std::string target;     // the name renamed over (path, or the end of its links)
        std::string temporary;  // the new content
        std::string backup;     // a second name of the replaced file; empty when none
    };

    bool Fail(ReplaceFailure kind, const std::string& path, int error);
    void RemoveTemporaries();

    LinkPolicy links_;
    std::vector<Staged> files_;
    Failure failure_;
};

// Removes the temporaries and backups of FileSet left in directory by a
// writer that is gone: names of the form above whose lock nobody holds and
// whose process id is no running process but this one (no temporary of
// this process exists yet when it is called at start-up). Anything else is
// left alone. Returns the number removed; nothing is logged.
size_t RemoveStaleTemporaries(const std::string& directory);

}  // namespace morvane
