#ifndef ENGINE_FILES_FILE_SYSTEM_H_
#define ENGINE_FILES_FILE_SYSTEM_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/base/status.h"

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
  // When its content last changed, in the system's own units (nanoseconds
  // on POSIX, 100 ns on Windows); with the size, tells whether a file is
  // still as it was read.
  std::int64_t modificationTime = 0;
  // Where the system keeps them (Windows): the file's attributes (hidden,
  // system, archive...) and its creation time, as the system gives them.
  std::uint32_t attributes = 0;
  std::uint64_t creationTime = 0;
  // How many names a regular file has (hard links); 0 when unknown.
  std::uint32_t linkCount = 0;
};

// Which file a path names: the same for every name of one file (hard links
// and symbolic links to it included), different for two files that exist at
// once. The device and inode on POSIX, the volume serial number and file
// index on Windows.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};

// Who else may have a file open while the engine reads it. A result file is
// to be replaced, so a program still writing it keeps it from being read: it
// is waited for and then reported in use, never corrected half written. A
// spectrum only gives its header, and its acquisition program may keep it
// open for writing. Both leave others free to read, rename or delete it.
// Only Windows enforces this; elsewhere both are the same.
enum class Sharing { NoWriters, Writers };

// How many temporaries createExclusive() keeps track of for
// installInterruptCleanup() (engine/process.h): callers keep no more of them alive at once, or
// a fatal signal leaves the rest behind.
inline constexpr std::size_t kMaxLiveTemporaries = 32;

// A drive a folder chooser offers, as the system names it.
struct Drive {
  std::filesystem::path root;  // C:\ ..., or a mount point
  std::string label;  // UTF-8: "c:", "c: [DATA]", "z: [\\server\share]"; or the mount point
};

struct FolderEntry {
  std::string name;                 // UTF-8
  FileType type = FileType::Other;  // of the entry itself; links are not followed
};

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
  // Gives the open file what it is to keep of `original`: its permission
  // bits, and where the system has them (Windows) its attributes and
  // creation time. Done on the open file, not by path, so nothing put under
  // its name meanwhile can receive them. Where the system keeps only a
  // read-only attribute (Windows), that attribute follows owner_write.
  virtual Status keepAttributesOf(const FileInfo& original) = 0;
  // For a file shared between runs (a record): waits until no other
  // opening of the file, in this process or another, holds its lock, and
  // takes it, until unlock() or close(). Only openings that ask for the
  // lock wait for it; readers are never kept out. On a file system that
  // keeps no locks it succeeds without one.
  virtual Status lock() = 0;
  virtual void unlock() = 0;
  // The file's length now, and a cut back to `size` bytes: so a write that
  // failed halfway can be taken back whole.
  virtual Result<std::uint64_t> size() = 0;
  virtual Status truncate(std::uint64_t size) = 0;
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
  // Opens an existing regular file (following links) for reading, letting
  // others do to it what `sharing` says.
  virtual Result<std::unique_ptr<ReadableFile>> openForReading(const std::filesystem::path& path,
                                                               Sharing sharing) = 0;
  // Creates a new, empty file for writing, readable and writable by its owner
  // only. Fails if anything at all already has that name, a symbolic link
  // included, which is never followed.
  virtual Result<std::unique_ptr<WritableFile>> createExclusive(
      const std::filesystem::path& path) = 0;
  // Opens a file for appending, creating it (with the usual permissions,
  // not the temporaries' owner-only ones) when it is missing; every write
  // goes to the file's end. For a record kept across runs. Refuses what is
  // not a regular file.
  virtual Result<std::unique_ptr<WritableFile>> openForAppending(
      const std::filesystem::path& path) = 0;
  // The identity of the file `path` names, links followed; NotFound when
  // it names nothing. A name alone cannot tell two files apart: links and
  // other spellings name one file in many ways.
  virtual Result<FileId> identify(const std::filesystem::path& path) = 0;
  // Puts `from` in the place of `to` in one step; `to` may exist.
  virtual Status rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  virtual Status remove(const std::filesystem::path& path) = 0;
  // Gives the file `existing` the second name `newName` (a hard link): the
  // same file, not a copy. Fails where `newName` is taken, on another
  // volume, or where the file system has no links.
  virtual Status link(const std::filesystem::path& existing,
                      const std::filesystem::path& newName) = 0;
  // Takes every write permission from the regular file `path` (POSIX: 0444;
  // Windows: the read-only attribute). A link is not followed.
  virtual Status makeReadOnly(const std::filesystem::path& path) = 0;
  // Creates the folder `path`, its parent existing; a folder already there
  // is no error, anything else there is.
  virtual Status createFolder(const std::filesystem::path& path) = 0;
  // The entries of a folder, in no particular order.
  virtual Result<std::vector<FolderEntry>> listFolder(const std::filesystem::path& folder) = 0;
  // Makes the renames done in `folder` durable.
  virtual Status syncFolder(const std::filesystem::path& folder) = 0;
  // sync() of each of `files`, which this file system opened: one after
  // another, or where the system gains by it at once, so that the disk
  // takes one flush for many. The first error, once all were tried.
  virtual Status syncFiles(std::span<WritableFile* const> files);
  // The drives, never none. Where paths have drive letters, every letter in
  // use, removable drives with no medium and network drives included, in
  // letter order; no drive is asked for its medium, so none is an error.
  // Elsewhere the mount points of the volumes that hold files, "/" first.
  virtual std::vector<Drive> listDrives() = 0;

  // This file system, but its waits for a file another program holds (see
  // realFileSystem) end as soon as `stop` is set, with the error that made
  // it wait: a stopped run does not sit out the rest of its waits. Lives no
  // longer than this file system and `stop`. One that never waits hands
  // every call back to this one.
  virtual std::unique_ptr<FileSystem> stoppedBy(const std::atomic<bool>& stop);
};

// The whole of the file `path`, read letting others write it.
Result<std::string> readWholeFile(FileSystem& fileSystem, const std::filesystem::path& path);

// The operating system's file system. Where another program may hold a
// file for a moment (Windows: virus scanners, indexers, sync clients),
// openForReading, createExclusive, rename and remove try again for about a
// second and a half before they fail (see stoppedBy), and an error after
// that says the file is in use by another program.
FileSystem& realFileSystem();

}  // namespace pklfix

#endif  // ENGINE_FILES_FILE_SYSTEM_H_
