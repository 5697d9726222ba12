#pragma once
// Files and folders as the job sees them: POSIX paths, "read-only" meaning no write bit at all.
#include <cstddef>
#include <string>

namespace lumipage::platform {

// Folder of the running executable (/proc/self/exe), with a trailing '/'.
[[nodiscard]] std::string ExeFolder();
// $TMPDIR, else /tmp, with a trailing '/'.
[[nodiscard]] std::string TempFolder();

// A regular file (or anything that is not a folder) exists at path.
[[nodiscard]] bool FileExists(const std::string& path);
[[nodiscard]] bool DirectoryExists(const std::string& path);
// A regular file (not a folder, FIFO, socket or device) exists at path.
[[nodiscard]] bool IsRegularFile(const std::string& path);
// No write bit in the mode. Deliberately not access(W_OK): root passes that for every file.
[[nodiscard]] bool IsReadOnly(const std::string& path);
// unlink; false when the file is absent or cannot be removed for any reason.
bool DeleteFile(const std::string& path);
// Creates every missing folder of path, outermost first; folders that cannot be created are
// passed over. True when the whole path exists afterwards.
bool ForceDirectories(const std::string& path);

// Replaces path with data as one step: the data goes to a temporary file in the same folder,
// which is flushed to disk and renamed over path, and then the folder is flushed, so a reader
// sees the old file or the whole new one and a crash afterwards keeps the new one. Links are
// followed, an existing file keeps its mode (and owner), and a target that is not a regular
// file or has no write bit is refused (TFileReplacement). On failure nothing changes at path,
// the temporary file is gone and error names the file and the reason.
bool ReplaceFileDurably(const std::string& path, const std::string& data, std::string& error);
// Writes all of data to fd, resuming after signals; false with errno set when a write fails
// (ENOSPC when the system accepts no more bytes).
bool WriteAll(int fd, const void* data, std::size_t size);
bool WriteAll(int fd, const std::string& data);
// The system's text for an errno value ("No space left on device").
[[nodiscard]] std::string SystemErrorText(int error);

// The absolute name of path, taken against the current folder when it is relative, with "." and
// empty parts dropped and ".." taking off the part before it. Symbolic links stay as they are
// named, except one that a ".." follows: it is resolved first, as the system would resolve it.
// A name that ends in '/' keeps it. Unchanged when the current folder cannot be had.
[[nodiscard]] std::string AbsoluteFileName(const std::string& path);
// Folder part including the trailing '/', empty when the name has none.
[[nodiscard]] std::string ExtractFilePath(const std::string& name);
// Name after the last '/'.
[[nodiscard]] std::string ExtractFileName(const std::string& name);
// Extension of the name part with its dot, empty when there is none.
[[nodiscard]] std::string ExtractFileExt(const std::string& name);
// Replaces (or appends) the extension of the name part; ext carries its dot.
[[nodiscard]] std::string ChangeFileExt(const std::string& name, const std::string& ext);

}  // namespace lumipage::platform
