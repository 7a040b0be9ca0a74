// The one place that talks to the operating system. Everything platform
// specific in the program lives in this file.

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <system_error>

#include "engine/file_system.h"
#include "engine/mount_table.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#include <winnetwk.h>

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <iterator>
#include <optional>
#include <streambuf>
#include <string>
#else
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#endif

namespace pklfix {
namespace fs = std::filesystem;

std::string pathText(const fs::path& path) {
  std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

fs::path utf8Path(std::string_view text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

#ifdef _WIN32
namespace {
// Unlike path::u8string, this cannot throw: a lone surrogate becomes U+FFFD.
std::string utf8FromWide(const wchar_t* text) {
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  return utf8;
}
}  // namespace
#endif

std::vector<std::string> commandLineArguments(int argc, char** argv) {
#ifdef _WIN32
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide != nullptr) {
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(utf8FromWide(wide[i]));
    ::LocalFree(wide);
    return args;
  }
#endif
  return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

Error fileError(std::string_view operation, const fs::path& path, std::error_code reason) {
  ErrorCode code = ErrorCode::Io;
  if (reason == std::errc::no_such_file_or_directory) {
    code = ErrorCode::NotFound;
  } else if (reason == std::errc::file_exists) {
    code = ErrorCode::AlreadyExists;
  } else if (reason == std::errc::no_space_on_device || reason == std::errc::file_too_large) {
    code = ErrorCode::NoSpace;
  }
  return Error{code,
               "cannot " + std::string(operation) + " " + pathText(path) + ": " + reason.message()};
}

namespace {

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

#ifdef _WIN32

// The CRT's file descriptors: they give exclusive create and _commit without
// pulling HANDLE plumbing into the rest of the engine.
int openDescriptor(const fs::path& path, int flags, int mode = 0) {
  return ::_wopen(path.c_str(), flags | _O_BINARY | _O_NOINHERIT, mode);
}
bool isRegularDescriptor(int fd) {
  struct _stat64 st;
  return ::_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}
long long readDescriptor(int fd, char* buffer, std::size_t size) {
  unsigned chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
  return ::_read(fd, buffer, chunk);
}
long long writeDescriptor(int fd, const char* data, std::size_t size) {
  unsigned chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
  return ::_write(fd, data, chunk);
}
int syncDescriptor(int fd) { return ::_commit(fd); }
// Windows keeps only a read-only attribute. The copy is created writable,
// and the engine refuses read-only result files, so a writable copy is all
// it ever asks for; a request for a read-only one is refused, not ignored.
std::error_code setDescriptorPermissions(int, fs::perms permissions) {
  if ((permissions & fs::perms::owner_write) != fs::perms::none) return {};
  return std::make_error_code(std::errc::operation_not_supported);
}
int closeDescriptor(int fd) { return ::_close(fd); }
constexpr int kReadFlags = _O_RDONLY;
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_EXCL;
constexpr int kCreateMode = _S_IREAD | _S_IWRITE;

#else

int openDescriptor(const fs::path& path, int flags, int mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}
bool isRegularDescriptor(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
long long readDescriptor(int fd, char* buffer, std::size_t size) {
  ssize_t n;
  do {
    n = ::read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}
long long writeDescriptor(int fd, const char* data, std::size_t size) {
  ssize_t n;
  do {
    n = ::write(fd, data, size);
  } while (n < 0 && errno == EINTR);
  return n;
}
int syncDescriptor(int fd) {
#if defined(__linux__)
  // The file's size is the only metadata a reader needs back, and fdatasync
  // covers it.
  return ::fdatasync(fd);
#else
  return ::fsync(fd);
#endif
}
int closeDescriptor(int fd) { return ::close(fd); }
std::error_code setDescriptorPermissions(int fd, fs::perms permissions) {
  if (::fchmod(fd, static_cast<mode_t>(permissions & fs::perms::mask)) != 0) return lastError();
  return {};
}
// O_NONBLOCK keeps a FIFO planted under a spectrum's name from blocking the
// open; regular files ignore it.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK;
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
constexpr int kCreateMode = 0600;

#endif

#ifndef _WIN32

// The temporary files a fatal signal must take along: created by this
// process and neither renamed nor removed yet. A signal handler may do
// almost nothing safely, so the table has a fixed size and every change of a
// slot is one atomic store or exchange. A slot is
//   free     no path;
//   filling  its owner is copying a path in; the handler skips it;
//   armed    the handler unlinks the path;
//   taken    the handler has claimed it; it stays so until the process dies,
//            so no owner overwrites a path the handler is reading.
// Only armed slots are ever unlinked, and a path is armed only after this
// process created the file exclusively, so the handler removes nothing that
// is not provably ours. There are as many slots as callers may keep
// temporaries alive (kMaxLiveTemporaries, which bounds a run's batch); a
// temporary that finds no free slot is merely left behind by a signal, like
// one killed outright, and the next run recognises and removes it.
constexpr int kSlotFree = 0;
constexpr int kSlotFilling = 1;
constexpr int kSlotArmed = 2;
constexpr int kSlotTaken = 3;

struct CleanupSlot {
  std::atomic<int> state{kSlotFree};
  char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slots");

CleanupSlot cleanupSlots[kMaxLiveTemporaries];

constexpr int kFatalSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE};

void armCleanup(const fs::path& path) {
  const std::string& text = path.native();
  if (text.size() >= PATH_MAX) return;
  for (CleanupSlot& slot : cleanupSlots) {
    int expected = kSlotFree;
    if (!slot.state.compare_exchange_strong(expected, kSlotFilling)) continue;
    std::memcpy(slot.path, text.c_str(), text.size() + 1);
    slot.state.store(kSlotArmed, std::memory_order_release);
    return;
  }
}

void disarmCleanup(const fs::path& path) {
  for (CleanupSlot& slot : cleanupSlots) {
    if (slot.state.load(std::memory_order_acquire) != kSlotArmed) continue;
    if (std::strcmp(slot.path, path.c_str()) != 0) continue;
    int expected = kSlotArmed;
    slot.state.compare_exchange_strong(expected, kSlotFree);
    return;
  }
}

extern "C" void removeTemporariesAndDie(int signal) {
  for (CleanupSlot& slot : cleanupSlots) {
    int expected = kSlotArmed;
    if (slot.state.compare_exchange_strong(expected, kSlotTaken)) ::unlink(slot.path);
  }
  // SA_RESETHAND restored the default action; the signal stays blocked until
  // this handler returns, and then ends the process as it would have.
  ::raise(signal);
}

// Holds the fatal signals back while a file is created or moved and its slot
// updated, so no signal falls between the two: a temporary exists on disk
// exactly while its slot is armed.
class FatalSignalsHeld {
 public:
  FatalSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : kFatalSignals) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~FatalSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  FatalSignalsHeld(const FatalSignalsHeld&) = delete;
  FatalSignalsHeld& operator=(const FatalSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

#endif  // !_WIN32

class DescriptorReader final : public ReadableFile {
 public:
  DescriptorReader(int fd, fs::path path) : fd_(fd), path_(std::move(path)) {}
  ~DescriptorReader() override { closeDescriptor(fd_); }

  Result<std::size_t> read(char* buffer, std::size_t size) override {
    long long n = readDescriptor(fd_, buffer, size);
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
    if (fd_ >= 0) closeDescriptor(fd_);
  }

  Status write(const char* data, std::size_t size) override {
    while (size > 0) {
      long long n = writeDescriptor(fd_, data, size);
      if (n < 0) return fileError("write", path_, lastError());
      if (n == 0)
        return fileError("write", path_, std::make_error_code(std::errc::no_space_on_device));
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return {};
  }

  Status sync() override {
    if (syncDescriptor(fd_) != 0) return fileError("sync", path_, lastError());
    return {};
  }

  Status setPermissions(fs::perms permissions) override {
    if (std::error_code ec = setDescriptorPermissions(fd_, permissions))
      return fileError("set the permissions of", path_, ec);
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
    if (closeDescriptor(fd) != 0) return fileError("close", path_, lastError());
    return {};
  }

 private:
  int fd_;
  fs::path path_;
};

Error notRegularFile(const fs::path& path) {
  return Error{ErrorCode::InvalidArgument,
               "cannot open " + pathText(path) + ": not a regular file"};
}

#ifdef _WIN32
// How Windows' classic drive list names a drive: "c:", with the volume's
// name for a fixed disk ("c: [DATA]") or the share for a network drive
// ("z: [\\server\share]"). Removable drives are not asked for theirs,
// which would wait for a medium.
std::string windowsDriveLabel(const wchar_t* root) {
  std::wstring label = {static_cast<wchar_t>(std::towlower(root[0])), L':'};
  wchar_t name[MAX_PATH + 1] = {};
  const UINT type = ::GetDriveTypeW(root);
  if (type == DRIVE_REMOTE) {
    DWORD size = MAX_PATH;
    const wchar_t device[] = {root[0], L':', L'\0'};
    if (::WNetGetConnectionW(device, name, &size) == NO_ERROR && name[0]) {
      label += L" [" + std::wstring(name) + L"]";
    }
  } else if (type == DRIVE_FIXED || type == DRIVE_RAMDISK) {
    if (::GetVolumeInformationW(root, name, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0) &&
        name[0]) {
      label += L" [" + std::wstring(name) + L"]";
    }
  }
  return utf8FromWide(label.c_str());
}
#endif

class RealFileSystem final : public FileSystem {
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
      info.size = fs::file_size(path, ec);
      if (ec) return fileError("examine", path, ec);
    }
    return info;
  }

  Result<std::unique_ptr<ReadableFile>> openForReading(const fs::path& path) override {
    int fd = openDescriptor(path, kReadFlags);
    if (fd < 0) {
      std::error_code reason = lastError();
#ifdef _WIN32
      // Windows refuses to open a folder with "permission denied", which
      // would send the user looking at the wrong thing.
      std::error_code ec;
      if (fs::is_directory(path, ec)) return notRegularFile(path);
#endif
      return fileError("open", path, reason);
    }
    if (!isRegularDescriptor(fd)) {
      closeDescriptor(fd);
      return notRegularFile(path);
    }
    return std::unique_ptr<ReadableFile>(new DescriptorReader(fd, path));
  }

  Result<std::unique_ptr<WritableFile>> createExclusive(const fs::path& path) override {
#ifndef _WIN32
    FatalSignalsHeld held;
#endif
    int fd = openDescriptor(path, kCreateFlags, kCreateMode);
    if (fd < 0) return fileError("create", path, lastError());
#ifndef _WIN32
    armCleanup(path);
#endif
    return std::unique_ptr<WritableFile>(new DescriptorWriter(fd, path));
  }

  Status rename(const fs::path& from, const fs::path& to) override {
#ifdef _WIN32
    if (!::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return fileError("rename " + pathText(from) + " to", to,
                       std::error_code(static_cast<int>(::GetLastError()), std::system_category()));
    }
#else
    FatalSignalsHeld held;
    if (::rename(from.c_str(), to.c_str()) != 0) {
      return fileError("rename " + pathText(from) + " to", to, lastError());
    }
    disarmCleanup(from);
#endif
    return {};
  }

  Status remove(const fs::path& path) override {
#ifndef _WIN32
    FatalSignalsHeld held;
#endif
    std::error_code ec;
    fs::remove(path, ec);
    if (ec) return fileError("remove", path, ec);
#ifndef _WIN32
    disarmCleanup(path);
#endif
    return {};
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
#ifdef _WIN32
    // No drive is asked whether it has a medium, and a failing question
    // shows no dialog: an empty card reader or a disconnected share is
    // listed like any drive.
    DWORD oldMode = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
    wchar_t roots[4 * 26 + 1] = {};
    const DWORD length = ::GetLogicalDriveStringsW(static_cast<DWORD>(std::size(roots) - 1), roots);
    for (const wchar_t* root = roots; length > 0 && *root; root += std::wcslen(root) + 1) {
      drives.push_back({fs::path(root), windowsDriveLabel(root)});
    }
    ::SetThreadErrorMode(oldMode, nullptr);
    if (drives.empty()) drives.push_back({fs::path("C:\\"), "c:"});
#else
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
#endif
    return drives;
  }

  Status syncFolder(const fs::path& folder) override {
#ifdef _WIN32
    // MoveFileExW with MOVEFILE_WRITE_THROUGH already waited for the rename.
    (void)folder;
#else
    int fd = openDescriptor(folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return fileError("open", folder, lastError());
    int rc = ::fsync(fd);
    std::error_code reason = lastError();
    closeDescriptor(fd);
    if (rc != 0) return fileError("sync", folder, reason);
#endif
    return {};
  }
};

}  // namespace

FileSystem& realFileSystem() {
  static RealFileSystem instance;
  return instance;
}

void installInterruptCleanup() {
#ifdef _WIN32
  // A console's Ctrl+C handler runs on another thread while the copy is
  // still open, and Windows deletes no file that is open without delete
  // sharing, so there is nothing safe to do here: an interrupted run leaves
  // its temporary behind, with every result file whole.
#else
  struct sigaction action = {};
  action.sa_handler = removeTemporariesAndDie;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal : kFatalSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : kFatalSignals) {
    struct sigaction previous = {};
    // A signal the caller chose to ignore (nohup, a shell's background job)
    // stays ignored.
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
#endif
}

// The standard streams. Everywhere but on a Windows console these are the
// C++ library's own; std::cout in text mode already ends lines in CR LF on
// Windows.

#ifdef _WIN32

namespace {

// How many of the `size` bytes at `text` end on a character boundary: the
// first bytes of a UTF-8 character cut off at the end are left out, to go
// out with the rest of it. Invalid bytes count as whole characters (they
// become U+FFFD).
std::size_t wholeUtf8(const char* text, std::size_t size) {
  auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  std::size_t lead = size;
  while (lead > 0 && size - lead < 3 && (byte(lead - 1) & 0xC0) == 0x80) --lead;
  if (lead == 0) return size;
  --lead;
  std::size_t length = byte(lead) >= 0xF0 ? 4 : byte(lead) >= 0xE0 ? 3 : byte(lead) >= 0xC0 ? 2 : 1;
  return size - lead < length ? lead : size;
}

// Writes UTF-8 to a console as UTF-16, each line as it ends, and what is
// left when flushed.
class ConsoleBuffer final : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}
  ~ConsoleBuffer() override { writeOut(true); }

 protected:
  // There is no put area: every character comes through here or xsputn,
  // where a line end is seen as it is written.
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    char character = traits_type::to_char_type(c);
    return xsputn(&character, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* text, std::streamsize size) override {
    pending_.append(text, static_cast<std::size_t>(size));
    bool lineEnded = std::memchr(text, '\n', static_cast<std::size_t>(size)) != nullptr;
    if ((lineEnded || pending_.size() >= kChunk) && !writeOut(false)) return 0;
    return size;
  }
  int sync() override { return writeOut(false) ? 0 : -1; }

 private:
  // The most bytes handed to the console in one call.
  static constexpr std::size_t kChunk = 4096;

  // Writes what is pending; with `all` everything, else all but a character
  // cut off at the end, which waits for its other bytes.
  bool writeOut(bool all) {
    std::size_t end = all ? pending_.size() : wholeUtf8(pending_.data(), pending_.size());
    bool ok = true;
    for (std::size_t start = 0; ok && start < end;) {
      std::size_t size = std::min(end - start, kChunk);
      if (start + size < end) size = wholeUtf8(pending_.data() + start, size);
      ok = writeWide(pending_.data() + start, size);
      start += size;
    }
    pending_.erase(0, end);
    return ok;
  }

  bool writeWide(const char* text, std::size_t size) {
    int length = ::MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), wide.data(), length);
    // Lines end in CR LF, as the C runtime writes them to a console.
    std::wstring lines;
    lines.reserve(wide.size() + wide.size() / 16);
    for (wchar_t c : wide) {
      if (c == L'\n') lines += L'\r';
      lines += c;
    }
    DWORD written = 0;
    return ::WriteConsoleW(console_, lines.data(), static_cast<DWORD>(lines.size()), &written,
                           nullptr) != 0;
  }

  HANDLE console_;
  std::string pending_;
};

struct ConsoleStream {
  explicit ConsoleStream(HANDLE console) : buffer(console), stream(&buffer) {}
  ConsoleBuffer buffer;
  std::ostream stream;
};

// The stream for what the C runtime writes to `file`: a console stream when
// its handle is a console, else `bytes`, which writes to `file`.
std::ostream& consoleOr(std::FILE* file, std::ostream& bytes,
                        std::optional<ConsoleStream>& console) {
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return bytes;
  console.emplace(handle);
  return console->stream;
}

}  // namespace

std::ostream& standardOutput() {
  static std::optional<ConsoleStream> console;
  static std::ostream& stream = consoleOr(stdout, std::cout, console);
  return stream;
}

std::ostream& standardError() {
  static std::optional<ConsoleStream> console;
  static std::ostream& stream = consoleOr(stderr, std::cerr, console);
  return stream;
}

#else

std::ostream& standardOutput() { return std::cout; }
std::ostream& standardError() { return std::cerr; }

#endif  // _WIN32

}  // namespace pklfix
