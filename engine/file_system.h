#ifndef ENGINE_FILE_SYSTEM_H_
#define ENGINE_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/status.h"

namespace pklfix {

// The engine's only way to the disk. Everything it does to files goes through
// here, so tests can swap in a FileSystem that fails any one call.

enum class FileType { Missing, Regular, Directory, Symlink, Other };

struct FileInfo {
  FileType type = FileType::Missing;
  // For a symbolic link, the type of what it names, links followed (Missing
  // when it names nothing); otherwise the same as `type`. So a caller can
  // tell a folder, or a link to one, without a second call.
  FileType targetType = FileType::Missing;
  std::filesystem::perms permissions = std::filesystem::perms::none;
  std::uintmax_t size = 0;
};

// How many temporaries createExclusive() keeps track of for
// installInterruptCleanup(): callers keep no more of them alive at once, or
// a fatal signal leaves the rest behind.
inline constexpr std::size_t kMaxLiveTemporaries = 32;

// A drive a folder chooser offers, as the system names it.
struct Drive {
  std::filesystem::path root;  // C:\ ..., or a mount point
  std::string label;           // UTF-8: "c:", "c: [DATA]", "z: [\\server\share]"; or the mount point
};

struct FolderEntry {
  std::string name;                 // UTF-8
  FileType type = FileType::Other;  // of the entry itself; links are not followed
};

// "cannot <operation> <path>: <reason>", with the code that fits `reason`.
Error fileError(std::string_view operation, const std::filesystem::path& path,
                std::error_code reason);

class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to `size` bytes; 0 means the end of the file.
  virtual Result<std::size_t> read(char* buffer, std::size_t size) = 0;
};

class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Writes all `size` bytes or fails; a failure may leave some written.
  virtual Status write(const char* data, std::size_t size) = 0;
  // Returns once everything written so far is on the disk.
  virtual Status sync() = 0;
  // Starts putting what was written so far on the disk and returns without
  // waiting. Only a hint, so the disk can take several files, or a large
  // file's first part, while more is written; only sync() promises anything.
  virtual void startSync() {}
  // Gives the open file these permission bits. Done on the open file, not by
  // path, so nothing put under its name meanwhile can receive them. Where
  // the system keeps only a read-only attribute (Windows), that attribute
  // follows owner_write.
  virtual Status setPermissions(std::filesystem::perms permissions) = 0;
  // Closing reports errors the earlier writes could not (for example on
  // network file systems), so its result matters. Destroying an open file
  // closes it and ignores the result.
  virtual Status close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Describes `path` itself; a symbolic link is reported as such, not
  // followed. A path that does not exist gives FileType::Missing, not an error.
  virtual Result<FileInfo> stat(const std::filesystem::path& path) = 0;
  // Opens an existing regular file (following links) for reading.
  virtual Result<std::unique_ptr<ReadableFile>> openForReading(
      const std::filesystem::path& path) = 0;
  // Creates a new, empty file for writing, readable and writable by its owner
  // only. Fails if anything at all already has that name, a symbolic link
  // included, which is never followed.
  virtual Result<std::unique_ptr<WritableFile>> createExclusive(
      const std::filesystem::path& path) = 0;
  // Opens a file for appending, creating it (with the usual permissions,
  // not the temporaries' owner-only ones) when it is missing; every write
  // goes to the file's end. For a record kept across runs. Not pure: the
  // platform's way (record_platform_*.cpp) serves every file system that
  // writes to the disk.
  virtual Result<std::unique_ptr<WritableFile>> openForAppending(const std::filesystem::path& path);
  // Puts `from` in the place of `to` in one step; `to` may exist.
  virtual Status rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  virtual Status remove(const std::filesystem::path& path) = 0;
  // The entries of a folder, in no particular order.
  virtual Result<std::vector<FolderEntry>> listFolder(const std::filesystem::path& folder) = 0;
  // Makes the renames done in `folder` durable.
  virtual Status syncFolder(const std::filesystem::path& folder) = 0;
  // The drives, never none. Where paths have drive letters, every letter in
  // use, removable drives with no medium and network drives included, in
  // letter order; no drive is asked for its medium, so none is an error.
  // Elsewhere the mount points of the volumes that hold files, "/" first.
  virtual std::vector<Drive> listDrives() = 0;
};

// The operating system's file system.
FileSystem& realFileSystem();

// For a program's main(), before its first run: makes SIGINT, SIGTERM,
// SIGHUP, SIGQUIT and SIGPIPE first remove every temporary file
// realFileSystem() created and has not yet renamed or removed, then end the
// process as the signal would have. Result files are never touched, and
// nothing the process did not create is removed. Signals the caller ignores
// stay ignored. Does nothing on Windows.
void installInterruptCleanup();

// A path as UTF-8 text, for messages and names; and back. On Windows the
// narrow std::filesystem conversions use the ANSI code page, which cannot
// hold every name, so all text crossing into paths goes through these.
std::string pathText(const std::filesystem::path& path);
std::filesystem::path utf8Path(std::string_view text);

// The program's arguments after its name, as UTF-8. On Windows `argv` holds
// them in the ANSI code page, which cannot hold every file name, so there
// they are read again from the command line the process was started with.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// The streams for a program's results and errors: its standard output and
// standard error, written in UTF-8. On Windows a console shows text in its
// own code page, often an OEM one that has no letters for most names; when
// the handle behind a stream is a console, the stream hands the console
// UTF-16 instead (WriteConsoleW), a line at a time, so every name shows
// whole. Redirected to a file or a pipe, and on other systems, the bytes go
// out unchanged (std::cout, std::cerr).
std::ostream& standardOutput();
std::ostream& standardError();

}  // namespace pklfix

#endif  // ENGINE_FILE_SYSTEM_H_
