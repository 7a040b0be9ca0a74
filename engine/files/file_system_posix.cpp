// The file system on POSIX systems: descriptors, rename(2) and fsync(2).
// Nothing here holds a file against other programs, so nothing waits.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "engine/files/file_errors.h"
#include "engine/files/file_system.h"
#include "engine/files/forwarding_file_system.h"
#include "engine/files/interrupt_cleanup_posix.h"
#include "engine/files/mount_table.h"
#include "engine/files/paths.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

using posix::armCleanup;
using posix::disarmCleanup;
using posix::FatalSignalsHeld;

std::error_code lastError() { return {errno, std::generic_category()}; }

FileType fileType(mode_t mode) {
  if (S_ISREG(mode)) return FileType::Regular;
  if (S_ISDIR(mode)) return FileType::Directory;
  if (S_ISLNK(mode)) return FileType::Symlink;
  return FileType::Other;
}

int statPath(const fs::path& path, struct stat* st, bool followLinks) {
  int rc;
  do {
    rc = followLinks ? ::stat(path.c_str(), st) : ::lstat(path.c_str(), st);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

// The type of a listed entry, links not followed. Most systems give the type
// with the listing, and the directory entry answers these questions from it;
// symlink_status() would ask the file system again for every entry, which
// made listing a folder of thousands of files several times slower.
FileType entryType(const fs::directory_entry& entry) {
  std::error_code ec;
  if (entry.is_symlink(ec)) return FileType::Symlink;
  if (!ec && entry.is_directory(ec)) return FileType::Directory;
  if (!ec && entry.is_regular_file(ec)) return FileType::Regular;
  return FileType::Other;
}

int openDescriptor(const fs::path& path, int flags, int mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

class DescriptorReader final : public ReadableFile {
 public:
  DescriptorReader(int fd, fs::path path) : fd_(fd), path_(std::move(path)) {}
  ~DescriptorReader() override { ::close(fd_); }

  Result<std::size_t> read(char* buffer, std::size_t size) override {
    ssize_t n;
    do {
      n = ::read(fd_, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fileError("read", path_, lastError());
    return static_cast<std::size_t>(n);
  }

 private:
  int fd_;
  fs::path path_;
};

class DescriptorWriter final : public WritableFile {
 public:
  DescriptorWriter(int fd, fs::path path) : fd_(fd), path_(std::move(path)) {}
  ~DescriptorWriter() override {
    if (fd_ >= 0) ::close(fd_);
  }

  Status write(const char* data, std::size_t size) override {
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fileError("write", path_, lastError());
      if (n == 0)
        return fileError("write", path_, std::make_error_code(std::errc::no_space_on_device));
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return {};
  }

  Status sync() override {
#if defined(__linux__)
    // The file's size is the only metadata a reader needs back, and
    // fdatasync covers it.
    int rc = ::fdatasync(fd_);
#else
    int rc = ::fsync(fd_);
#endif
    if (rc != 0) return fileError("sync", path_, lastError());
    return {};
  }

  Status keepAttributesOf(const FileInfo& original) override {
    if (::fchmod(fd_, static_cast<mode_t>(original.permissions & fs::perms::mask)) != 0)
      return fileError("set the permissions of", path_, lastError());
    return {};
  }

  void startSync() override {
#if defined(__linux__)
    // Any error shows again at sync(), where it is reported.
    (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  }

  // flock(), not fcntl(): its lock belongs to this opening, so closing
  // another descriptor of the same file (reading its tail) keeps it.
  Status lock() override {
    int rc;
    do {
      rc = ::flock(fd_, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    // Some network and FUSE file systems keep no locks at all. A record
    // there works as it did before locks: only runs started at the same
    // moment could both write a header.
    if (rc != 0 && (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL)) return {};
    if (rc != 0) return fileError("lock", path_, lastError());
    return {};
  }

  void unlock() override { (void)::flock(fd_, LOCK_UN); }

  Result<std::uint64_t> size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return fileError("examine", path_, lastError());
    return static_cast<std::uint64_t>(st.st_size);
  }

  Status truncate(std::uint64_t size) override {
    int rc;
    do {
      rc = ::ftruncate(fd_, static_cast<off_t>(size));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return fileError("truncate", path_, lastError());
    return {};
  }

  Status close() override {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return fileError("close", path_, lastError());
    return {};
  }

 private:
  int fd_;
  fs::path path_;
};

class PosixFileSystem final : public FileSystem {
 public:
  // One lstat(2) gives all of it (and a stat(2) what a link names), where
  // std::filesystem would ask again for the size and the time.
  Result<FileInfo> stat(const fs::path& path) override {
    FileInfo info;
    struct stat st;
    if (statPath(path, &st, false) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return info;
      return fileError("examine", path, lastError());
    }
    info.permissions = static_cast<fs::perms>(st.st_mode & 07777);
    info.type = fileType(st.st_mode);
    info.targetType = info.type;
    if (info.type == FileType::Symlink) {
      // A link that names nothing, or that loops, is no folder and no file.
      struct stat target;
      info.targetType =
          statPath(path, &target, true) == 0 ? fileType(target.st_mode) : FileType::Missing;
    }
    if (info.type == FileType::Regular) {
      info.size = static_cast<std::uintmax_t>(st.st_size);
      info.modificationTime =
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
      info.linkCount = static_cast<std::uint32_t>(st.st_nlink);
    }
    return info;
  }

  Result<std::unique_ptr<ReadableFile>> openForReading(const fs::path& path, Sharing) override {
    // O_NONBLOCK keeps a FIFO planted under a spectrum's name from blocking
    // the open; regular files ignore it.
    int fd = openDescriptor(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return fileError("open", path, lastError());
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return notRegularFile(path);
    }
    return std::unique_ptr<ReadableFile>(new DescriptorReader(fd, path));
  }

  Result<std::unique_ptr<WritableFile>> createExclusive(const fs::path& path) override {
    FatalSignalsHeld held;
    int fd = openDescriptor(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd < 0) return fileError("create", path, lastError());
    armCleanup(path);
    return std::unique_ptr<WritableFile>(new DescriptorWriter(fd, path));
  }

  Result<std::unique_ptr<WritableFile>> openForAppending(const fs::path& path) override {
    // Not blocking, so a FIFO put where the record goes cannot hang the run
    // before it is refused below.
    int fd = openDescriptor(path, O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) return fileError("open", path, lastError());
    struct stat st;
    std::error_code refused;
    if (::fstat(fd, &st) != 0) {
      refused = lastError();
    } else if (!S_ISREG(st.st_mode)) {
      refused = std::make_error_code(S_ISDIR(st.st_mode) ? std::errc::is_a_directory
                                                         : std::errc::invalid_argument);
    } else if (::fcntl(fd, F_SETFL, O_APPEND) != 0) {
      refused = lastError();
    }
    if (refused) {
      ::close(fd);
      return fileError("open", path, refused);
    }
    return std::unique_ptr<WritableFile>(new DescriptorWriter(fd, path));
  }

  Result<FileId> identify(const fs::path& path) override {
    struct stat st;
    int rc;
    do {
      rc = ::stat(path.c_str(), &st);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return fileError("examine", path, lastError());
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  }

  Status rename(const fs::path& from, const fs::path& to) override {
    FatalSignalsHeld held;
    if (::rename(from.c_str(), to.c_str()) != 0) {
      return fileError("rename " + pathText(from) + " to", to, lastError());
    }
    disarmCleanup(from);
    return {};
  }

  Status remove(const fs::path& path) override {
    FatalSignalsHeld held;
    std::error_code ec;
    fs::remove(path, ec);
    if (ec) return fileError("remove", path, ec);
    disarmCleanup(path);
    return {};
  }

  Status link(const fs::path& existing, const fs::path& newName) override {
    // Linux's link(2) names the link itself when `existing` is one; it is
    // never asked for one anyway.
    if (::link(existing.c_str(), newName.c_str()) != 0) {
      return fileError("link " + pathText(existing) + " as", newName, lastError());
    }
    return {};
  }

  Status makeReadOnly(const fs::path& path) override {
    // On a descriptor, so a link put under the name is not followed.
    int fd = openDescriptor(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return fileError("open", path, lastError());
    struct stat st;
    std::error_code reason;
    if (::fstat(fd, &st) != 0) {
      reason = lastError();
    } else if (!S_ISREG(st.st_mode)) {
      reason = std::make_error_code(std::errc::invalid_argument);
    } else if (::fchmod(fd, S_IRUSR | S_IRGRP | S_IROTH) != 0) {
      reason = lastError();
    }
    ::close(fd);
    if (reason) return fileError("make read-only", path, reason);
    return {};
  }

  Status createFolder(const fs::path& path) override {
    if (::mkdir(path.c_str(), 0777) == 0) return {};
    const std::error_code reason = lastError();
    struct stat st;
    if (reason == std::errc::file_exists && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      return {};
    return fileError("create the folder", path, reason);
  }

  Result<std::vector<FolderEntry>> listFolder(const fs::path& folder) override {
    std::error_code ec;
    std::vector<FolderEntry> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      entries.push_back({pathText(it->path().filename()), entryType(*it)});
    }
    if (ec) return fileError("list", folder, ec);
    return entries;
  }

  std::vector<Drive> listDrives() override {
    std::vector<Drive> drives;
    std::ifstream in("/proc/self/mounts", std::ios::binary);
    std::ostringstream table;
    if (in) table << in.rdbuf();
    for (const fs::path& mountPoint : parseMounts(table.str())) {
      // Single files are bind-mounted into containers; a drive is a folder.
      Result<FileInfo> info = stat(mountPoint);
      if (info.ok() && info.value().targetType == FileType::Directory) {
        drives.push_back({mountPoint, pathText(mountPoint)});
      }
    }
    if (drives.empty()) drives.push_back({fs::path("/"), "/"});
    return drives;
  }

  // A few threads, each syncing its share: the kernel merges the flushes
  // that wait at once, where one after another each waits its turn.
  Status syncFiles(std::span<WritableFile* const> files) override {
    constexpr std::size_t kThreads = 8;
    if (files.size() < 2) return FileSystem::syncFiles(files);
    const std::size_t groups = std::min(kThreads, files.size());
    std::vector<Status> results(files.size());
    auto syncGroup = [&](std::size_t group) {
      for (std::size_t i = group; i < files.size(); i += groups) results[i] = files[i]->sync();
    };
    std::vector<std::thread> threads;
    std::size_t group = 1;
    for (; group < groups; ++group) {
      // A thread the system refuses leaves its files to this one.
      try {
        threads.emplace_back(syncGroup, group);
      } catch (const std::system_error&) {
        break;
      }
    }
    for (std::size_t rest = group; rest < groups; ++rest) syncGroup(rest);
    syncGroup(0);
    for (std::thread& thread : threads) thread.join();
    for (Status& result : results) {
      if (!result.ok()) return result;
    }
    return {};
  }

  Status syncFolder(const fs::path& folder) override {
    int fd = openDescriptor(folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return fileError("open", folder, lastError());
    int rc = ::fsync(fd);
    std::error_code reason = lastError();
    ::close(fd);
    if (rc != 0) return fileError("sync", folder, reason);
    return {};
  }

  // Nothing here waits for a held file, so a stop needs no file system of
  // its own: this one, with its syncs taken together as well.
  std::unique_ptr<FileSystem> stoppedBy(const std::atomic<bool>&) override;
};

// Every call to the one file system; its files are its own, so they may be
// synced together.
class PosixStoppable final : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  Status syncFiles(std::span<WritableFile* const> files) override {
    return base().syncFiles(files);
  }
};

std::unique_ptr<FileSystem> PosixFileSystem::stoppedBy(const std::atomic<bool>&) {
  return std::make_unique<PosixStoppable>(*this);
}

}  // namespace

FileSystem& realFileSystem() {
  static PosixFileSystem instance;
  return instance;
}

}  // namespace pklfix
