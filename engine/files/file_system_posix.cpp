// The file system on POSIX systems: descriptors, rename(2) and fsync(2).
// Nothing here holds a file against other programs, so nothing waits.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include "engine/files/file_errors.h"
#include "engine/files/file_system.h"
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

FileType fileType(fs::file_type type) {
  switch (type) {
    case fs::file_type::not_found:
      return FileType::Missing;
    case fs::file_type::regular:
      return FileType::Regular;
    case fs::file_type::directory:
      return FileType::Directory;
    case fs::file_type::symlink:
      return FileType::Symlink;
    default:
      return FileType::Other;
  }
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
  Result<FileInfo> stat(const fs::path& path) override {
    std::error_code ec;
    fs::file_status status = fs::symlink_status(path, ec);
    FileInfo info;
    if (status.type() == fs::file_type::not_found) return info;
    if (ec) return fileError("examine", path, ec);
    info.permissions = status.permissions();
    info.type = fileType(status.type());
    info.targetType = info.type;
    if (info.type == FileType::Symlink) {
      // A link that names nothing, or that loops, is no folder and no file.
      fs::file_status target = fs::status(path, ec);
      info.targetType = ec ? FileType::Missing : fileType(target.type());
      ec.clear();
    }
    if (info.type == FileType::Regular) {
      struct stat st;
      if (::lstat(path.c_str(), &st) != 0) return fileError("examine", path, lastError());
      info.size = static_cast<std::uintmax_t>(st.st_size);
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

  Status syncFolder(const fs::path& folder) override {
    int fd = openDescriptor(folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return fileError("open", folder, lastError());
    int rc = ::fsync(fd);
    std::error_code reason = lastError();
    ::close(fd);
    if (rc != 0) return fileError("sync", folder, reason);
    return {};
  }
};

}  // namespace

FileSystem& realFileSystem() {
  static PosixFileSystem instance;
  return instance;
}

}  // namespace pklfix
