#pragma once
// Saving a file so that it is either the old file or the complete new one: the data goes to a
// temporary file beside the target, which is flushed to disk and renamed onto the target.
// Every writer of output files (page files, the multi-page TIFF, the PDF, settings) goes
// through here, so all of them treat odd targets the same way:
// - a symbolic link is followed and its final target replaced, so the link keeps working;
// - an existing target that is not a regular file (device, FIFO, socket, folder) is refused;
// - an existing target without any write bit is refused (by mode bits: root passes access());
// - a replaced file keeps its mode, and its owner when we run as root;
// - a new file gets the mode open() would give it (0666 less the umask).
#include <sys/types.h>

#include <string>

namespace lumipage::platform {

// Where a save to a name really goes.
struct TSaveTarget {
  std::string Path;  // after following symbolic links
  bool Exists = false;
  mode_t Mode = 0;
  uid_t Owner = 0;
  gid_t Group = 0;
};

// Resolves name for saving. Empty result: target filled; otherwise the reason the name cannot
// be saved to ("Not a regular file", "Permission denied", "Too many levels of symbolic links", ...).
[[nodiscard]] std::string ResolveSaveTarget(const std::string& name, TSaveTarget& target);

// Temporary files are named "." + target name + ".lumipage-<pid>-<6 characters>.tmp" in the
// target's folder, so a later job can tell them from everything else and see whose they are.
[[nodiscard]] bool IsTemporaryFileName(const std::string& fileName);
// The process that made a temporary file (0 when the name is not one of ours).
[[nodiscard]] pid_t TemporaryFileOwner(const std::string& fileName);
// Removes the temporary files in folder that a process no longer running left behind (a job
// killed while saving). Returns how many were removed.
int RemoveStaleTemporaries(const std::string& folder);
// Unlinks every temporary file this process has open right now. Async-signal-safe: for
// handlers of fatal signals.
void RemoveOwnTemporaries() noexcept;

// How a replacement reaches the disk before Commit returns.
enum class TFlush {
  FileAndFolder,  // the file, then its folder after the rename
  FileNow,        // the file; its folder is left to SyncDeferred (one flush for many pages)
  // As FileNow, but the file's flush and the rename happen on a helper thread, in the order of
  // the commits, while the job scans and saves the next pages; Commit returns at once (unless a
  // few are already waiting) and the outcome comes from BackgroundProgress or FinishBackground.
  Background,
  None,           // scratch files that nobody reads after the job (flushed if they are kept)
};
// Folders (or files) whose flush was put off; SyncDeferred flushes them all. A job flushes them
// before its report says what it stored.
void DeferSync(const std::string& path);
// Flushes what DeferSync collected. False on the first failure, with failedPath and errno set;
// the list is empty afterwards either way.
bool SyncDeferred(std::string& failedPath);

// The work of the helper thread: the saves Commit(TFlush::Background) handed over and the
// flushes FlushInBackground did, in the order they were handed over. done gets how many of
// them were done since the last look. False when one failed: target names its file, error the
// reason; that target is as it was (a temporary file is removed), and every later save handed
// over is dropped the same way and not counted in done.
// BackgroundProgress does not wait, unless one failed: then it waits for the dropping to end.
[[nodiscard]] bool BackgroundProgress(int& done, std::string& target, std::string& error);
// Waits until the helper thread has done everything it was handed.
[[nodiscard]] bool FinishBackground(int& done, std::string& target, std::string& error);
// Hands the flush of an open file to the helper thread; fd must stay open until
// FinishBackground. A failure is reported under name.
void FlushInBackground(int fd, const std::string& name);

// fsync of a folder, making renames and new names in it durable. False on failure.
bool SyncFolder(const std::string& folder);
// fsync of a file by name. False on failure.
bool SyncFile(const std::string& fileName);

// The replacement of one file. Nothing on disk changes until Commit; destroying an uncommitted
// replacement removes its temporary file.
class TFileReplacement {
 public:
  // Resolves and checks the target and creates the temporary file. On failure Ok() is false
  // and Error() says why; nothing was created.
  explicit TFileReplacement(const std::string& target);
  ~TFileReplacement();
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;

  [[nodiscard]] bool Ok() const { return fd_ >= 0 && error_.empty(); }
  [[nodiscard]] const std::string& Error() const { return error_; }
  // The system's error number behind Error() when the temporary file could not be made; 0 otherwise.
  [[nodiscard]] int ErrorNumber() const { return errno_; }
  [[nodiscard]] const std::string& TemporaryName() const { return tempName_; }
  [[nodiscard]] const TSaveTarget& Target() const { return target_; }
  // Read-write descriptor of the temporary file, owned by the replacement. Writers that open
  // the temporary file by name may do so instead.
  [[nodiscard]] int Handle() const { return fd_; }

  // Flushes the temporary file, gives it the target's mode (and owner), renames it onto the
  // target and flushes the folder. False with Error() set when any step fails; the target is
  // then as it was and the temporary file is gone, except when only the folder's flush failed:
  // a new target is removed again, a replaced one holds the new content.
  [[nodiscard]] bool Commit(TFlush flush = TFlush::FileAndFolder);

 private:
  void Discard() noexcept;

  TSaveTarget target_;
  std::string tempName_;
  std::string error_;
  int errno_ = 0;
  int fd_ = -1;
  int slot_ = -1;
  bool committed_ = false;
};

// Deletes an old output file: a link is followed and its target deleted (the link stays, so the
// next save puts the new file where the link points); nothing that is not a regular file, and
// no file without a write bit, is ever deleted. True when a file was deleted.
bool DeleteTargetFile(const std::string& name);

// Something (a file, a folder, a link, even a dangling one) has that name.
[[nodiscard]] bool NameTaken(const std::string& name);

// Moves a file to a name that must not exist yet (across file systems by copying). 0 on
// success, else an errno value (EEXIST when the new name is taken).
int MoveFileNoReplace(const std::string& from, const std::string& to);

}  // namespace lumipage::platform
