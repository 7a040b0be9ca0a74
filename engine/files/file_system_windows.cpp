// The file system on Windows, called as Windows wants: handles with explicit
// share modes, FlushFileBuffers, MoveFileExW, FindFirstFileExW, and every
// path in its extended-length form (\\?\C:\..., \\?\UNC\server\share\...),
// which no 260-character limit applies to. Messages show the path as the
// caller gave it.
//
// Other programs hold files for a moment: a virus scanner opens every new
// file, an indexer or a sync client reads a file just changed. A call
// refused for that (a sharing or lock violation, or access denied to a file
// that is not read-only, which is how a rename over a held file fails) is
// tried again after a growing delay; nothing else is retried.

#include <windows.h>
// After windows.h, which it needs.
#include <winnetwk.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwctype>
#include <initializer_list>
#include <iterator>
#include <string>
#include <system_error>

#include "engine/base/text.h"
#include "engine/files/file_errors.h"
#include "engine/files/file_system.h"
#include "engine/files/interrupt_cleanup.h"
#include "engine/files/paths.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

// 10 tries after the first, each 25 ms later than the one before: about
// 1.4 s in all, longer than a scanner or an indexer holds a file.
constexpr int kHeldRetries = 10;
constexpr DWORD kHeldDelayStep = 25;  // ms
// How often a wait looks whether the run was stopped.
constexpr DWORD kStopPoll = 5;  // ms

// What a corrected copy keeps of the file it replaces. Archive is always
// set: the file's content changed, and a backup that goes by the attribute
// must take it again.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

std::wstring longPath(const fs::path& path) {
  const std::wstring& given = path.native();
  if (given.rfind(LR"(\\?\)", 0) == 0) return given;
  DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) return given;
  std::wstring full(size, L'\0');
  size = ::GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
  full.resize(size);
  if (full.rfind(LR"(\\.\)", 0) == 0 || full.rfind(LR"(\\?\)", 0) == 0) return full;
  if (full.rfind(LR"(\\)", 0) == 0) return LR"(\\?\UNC\)" + full.substr(2);
  return LR"(\\?\)" + full;
}

DWORD attributesOf(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

bool sharingRefused(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

// Whether a call failed with `code` because another program holds one of
// `paths` for now, so that trying again can help.
bool mayBeHeld(DWORD code, std::initializer_list<const std::wstring*> paths) {
  if (sharingRefused(code)) return true;
  if (code != ERROR_ACCESS_DENIED) return false;
  bool exists = false;
  for (const std::wstring* path : paths) {
    DWORD attributes = attributesOf(*path);
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    // Refused for good: a read-only file, or a folder where a file belongs.
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return false;
    exists = true;
  }
  return exists;
}

// Waits before try `attempt` + 2; false once the tries are used up or
// `stop` (when given) is set.
bool waitForHolder(int attempt, const std::atomic<bool>* stop) {
  auto stopped = [stop] { return stop != nullptr && stop->load(); };
  if (attempt >= kHeldRetries) return false;
  for (DWORD left = kHeldDelayStep * static_cast<DWORD>(attempt + 1); left > 0;) {
    if (stopped()) return false;
    const DWORD slice = std::min(left, kStopPoll);
    ::Sleep(slice);
    left -= slice;
  }
  return !stopped();
}

// Calls `call` (which gives a Win32 error code, 0 for success) until it
// succeeds or fails for a reason no wait cures.
template <typename Call>
DWORD withWaits(const std::atomic<bool>* stop, std::initializer_list<const std::wstring*> paths,
                Call call) {
  for (int attempt = 0;; ++attempt) {
    DWORD code = call();
    if (code == ERROR_SUCCESS || !mayBeHeld(code, paths) || !waitForHolder(attempt, stop))
      return code;
  }
}

// Whether another program has `path` open in a way that keeps it from being
// renamed over or deleted: asking for delete access shows it, where a failed
// rename or delete only said "access denied", or did not say which file.
bool heldByAnother(const std::wstring& path) {
  HANDLE handle =
      ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle);
    return false;
  }
  return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

std::error_code reasonOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return std::make_error_code(std::errc::file_exists);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return std::make_error_code(std::errc::no_space_on_device);
    case ERROR_ACCESS_DENIED:
      return std::make_error_code(std::errc::permission_denied);
    default:
      return {static_cast<int>(code), std::system_category()};
  }
}

Error inUse(std::string_view operation, const fs::path& shown) {
  return Error{ErrorCode::Io, "cannot " + std::string(operation) + " " + pathText(shown) +
                                  ": it is in use by another program"};
}

// The error for a call on one path that failed with `code`.
Error failed(std::string_view operation, const fs::path& shown, const std::wstring& path,
             DWORD code) {
  if (sharingRefused(code) || (code == ERROR_ACCESS_DENIED && heldByAnother(path)))
    return inUse(operation, shown);
  return fileError(operation, shown, reasonOf(code));
}

bool isLink(const WIN32_FIND_DATAW& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (data.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
          data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
}

FileType entryType(const WIN32_FIND_DATAW& data) {
  if (isLink(data)) return FileType::Symlink;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FileType::Directory;
  return FileType::Regular;
}

// Links and junctions are reparse points; so are files a sync client keeps
// in the cloud, which are plain files. Only the listing tells them apart.
bool isLinkPath(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find =
      ::FindFirstFileExW(path.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return false;
  ::FindClose(find);
  return isLink(data);
}

// The type of what a link names, links followed.
FileType targetType(const std::wstring& path) {
  HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return FileType::Missing;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = ::GetFileInformationByHandle(handle, &info);
  ::CloseHandle(handle);
  if (!known) return FileType::Missing;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileType::Directory
                                                            : FileType::Regular;
}

// How many names the file has; 0 when it cannot be asked. Opened for its
// attributes only, which no other program's sharing refuses.
std::uint32_t linkCountOf(const std::wstring& path) {
  HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = ::GetFileInformationByHandle(handle, &info);
  ::CloseHandle(handle);
  return known ? static_cast<std::uint32_t>(info.nNumberOfLinks) : 0;
}

// Windows keeps only a read-only attribute; the bits say what the C runtime
// says of such a file.
fs::perms permissionsOf(DWORD attributes) {
  fs::perms perms = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  if (!(attributes & FILE_ATTRIBUTE_READONLY))
    perms |= fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    perms |= fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  return perms;
}

// The most bytes one ReadFile or WriteFile is asked for: their count is a
// 32-bit DWORD, so a larger request must be cut, and 1 GiB is far past the
// size where the cost of a call shows while staying clear of the limit on
// every kind of file, pipes and network redirectors included.
constexpr std::size_t kMaxChunk = 0x40000000;

class HandleReader final : public ReadableFile {
 public:
  HandleReader(HANDLE handle, fs::path path) : handle_(handle), path_(std::move(path)) {}
  ~HandleReader() override { ::CloseHandle(handle_); }

  Result<std::size_t> read(char* buffer, std::size_t size) override {
    DWORD got = 0;
    if (!::ReadFile(handle_, buffer, static_cast<DWORD>(std::min(size, kMaxChunk)), &got, nullptr))
      return fileError("read", path_, reasonOf(::GetLastError()));
    return static_cast<std::size_t>(got);
  }

 private:
  HANDLE handle_;
  fs::path path_;
};

OVERLAPPED lockedByte() {
  OVERLAPPED where = {};
  where.OffsetHigh = 0x40000000;  // 4 EiB
  return where;
}

class HandleWriter final : public WritableFile {
 public:
  HandleWriter(HANDLE handle, fs::path path) : handle_(handle), path_(std::move(path)) {}
  ~HandleWriter() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }

  Status write(const char* data, std::size_t size) override {
    while (size > 0) {
      DWORD written = 0;
      if (!::WriteFile(handle_, data, static_cast<DWORD>(std::min(size, kMaxChunk)), &written,
                       nullptr))
        return fileError("write", path_, reasonOf(::GetLastError()));
      if (written == 0)
        return fileError("write", path_, std::make_error_code(std::errc::no_space_on_device));
      data += written;
      size -= written;
    }
    return {};
  }

  Status sync() override {
    if (!::FlushFileBuffers(handle_)) return fileError("sync", path_, reasonOf(::GetLastError()));
    return {};
  }

  // The engine refuses read-only result files, so a writable copy is all it
  // ever asks for; a request for a read-only one is refused, not ignored.
  Status keepAttributesOf(const FileInfo& original) override {
    if ((original.permissions & fs::perms::owner_write) == fs::perms::none)
      return fileError("set the permissions of", path_,
                       std::make_error_code(std::errc::operation_not_supported));
    FILE_BASIC_INFO basic = {};  // a time of 0 leaves that time as it is
    basic.CreationTime.QuadPart = static_cast<LONGLONG>(original.creationTime);
    basic.FileAttributes = (original.attributes & kKeptAttributes) | FILE_ATTRIBUTE_ARCHIVE;
    if (!::SetFileInformationByHandle(handle_, FileBasicInfo, &basic, sizeof basic))
      return fileError("set the attributes of", path_, reasonOf(::GetLastError()));
    return {};
  }

  // A lock on one byte far past any record's end: Windows' locks keep
  // other handles from reading and writing the bytes they cover, and this
  // one covers none that exist.
  Status lock() override {
    OVERLAPPED where = lockedByte();
    if (!::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where)) {
      const DWORD code = ::GetLastError();
      // A file system that keeps no locks: the record works as it did
      // before locks.
      if (code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION) return {};
      return fileError("lock", path_, reasonOf(code));
    }
    return {};
  }

  void unlock() override {
    OVERLAPPED where = lockedByte();
    (void)::UnlockFileEx(handle_, 0, 1, 0, &where);
  }

  Result<std::uint64_t> size() override {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle_, &size))
      return fileError("examine", path_, reasonOf(::GetLastError()));
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  // An append handle may not set the file's end, so another handle does;
  // ours shares writing with it.
  Status truncate(std::uint64_t size) override {
    const std::wstring full = longPath(path_);
    HANDLE handle = ::CreateFileW(full.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
      return fileError("truncate", path_, reasonOf(::GetLastError()));
    FILE_END_OF_FILE_INFO end = {};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    const bool cut = ::SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end);
    const DWORD reason = ::GetLastError();
    ::CloseHandle(handle);
    if (!cut) return fileError("truncate", path_, reasonOf(reason));
    return {};
  }

  Status close() override {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(handle)) return fileError("close", path_, reasonOf(::GetLastError()));
    return {};
  }

 private:
  HANDLE handle_;
  fs::path path_;
};

// How Windows' classic drive list names a drive: "c:", with the volume's
// name for a fixed disk ("c: [DATA]") or the share for a network drive
// ("z: [\\server\share]"). Removable drives are not asked for theirs,
// which would wait for a medium.
std::string driveLabel(const wchar_t* root) {
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
  return utf8Text(label);
}

class WindowsFileSystem final : public FileSystem {
 public:
  explicit WindowsFileSystem(const std::atomic<bool>* stop = nullptr) : stop_(stop) {}

  std::unique_ptr<FileSystem> stoppedBy(const std::atomic<bool>& stop) override {
    return std::make_unique<WindowsFileSystem>(&stop);
  }

  Result<FileInfo> stat(const fs::path& path) override {
    const std::wstring full = longPath(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    FileInfo info;
    if (!::GetFileAttributesExW(full.c_str(), GetFileExInfoStandard, &data)) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
          code == ERROR_INVALID_NAME)
        return info;
      return failed("examine", path, full, code);
    }
    info.attributes = data.dwFileAttributes;
    info.creationTime = (static_cast<std::uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) |
                        data.ftCreationTime.dwLowDateTime;
    info.permissions = permissionsOf(data.dwFileAttributes);
    info.modificationTime = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime);
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && isLinkPath(full)) {
      info.type = FileType::Symlink;
      info.targetType = targetType(full);
      return info;
    }
    info.type = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileType::Directory
                                                                   : FileType::Regular;
    info.targetType = info.type;
    if (info.type == FileType::Regular) {
      info.size = (static_cast<std::uintmax_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      info.linkCount = linkCountOf(full);
    }
    return info;
  }

  Result<std::unique_ptr<ReadableFile>> openForReading(const fs::path& path,
                                                       Sharing sharing) override {
    const std::wstring full = longPath(path);
    const DWORD share =
        FILE_SHARE_READ | FILE_SHARE_DELETE | (sharing == Sharing::Writers ? FILE_SHARE_WRITE : 0);
    HANDLE handle = INVALID_HANDLE_VALUE;
    const DWORD code = withWaits(stop_, {&full}, [&] {
      handle = ::CreateFileW(full.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
      return handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    });
    if (code != ERROR_SUCCESS) {
      // Windows refuses to open a folder with "access denied", which would
      // send the user looking at the wrong thing.
      const DWORD attributes = attributesOf(full);
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return notRegularFile(path);
      return failed("open", path, full, code);
    }
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
      ::CloseHandle(handle);
      return notRegularFile(path);
    }
    return std::unique_ptr<ReadableFile>(new HandleReader(handle, path));
  }

  Result<std::unique_ptr<WritableFile>> createExclusive(const fs::path& path) override {
    const std::wstring full = longPath(path);
    HANDLE handle = INVALID_HANDLE_VALUE;
    // CREATE_NEW fails on anything under the name, a link included.
    const DWORD code = withWaits(stop_, {&full}, [&] {
      handle = ::CreateFileW(full.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      return handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    });
    if (code != ERROR_SUCCESS) return failed("create", path, full, code);
    return std::unique_ptr<WritableFile>(new HandleWriter(handle, path));
  }

  Result<std::unique_ptr<WritableFile>> openForAppending(const fs::path& path) override {
    const std::wstring full = longPath(path);
    HANDLE handle = INVALID_HANDLE_VALUE;
    // FILE_APPEND_DATA without FILE_WRITE_DATA puts every write at the
    // end; FILE_READ_DATA is what LockFileEx asks of a handle. Others may read
    // the record meanwhile (an auditor's spreadsheet) and a second run
    // append to it.
    const DWORD code = withWaits(stop_, {&full}, [&] {
      handle = ::CreateFileW(full.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      return handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    });
    if (code != ERROR_SUCCESS) return failed("open", path, full, code);
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
      ::CloseHandle(handle);
      return notRegularFile(path);
    }
    return std::unique_ptr<WritableFile>(new HandleWriter(handle, path));
  }

  Result<FileId> identify(const fs::path& path) override {
    const std::wstring full = longPath(path);
    HANDLE handle = INVALID_HANDLE_VALUE;
    // No access to the data is asked for, so no program's share mode
    // keeps this from looking.
    const DWORD code = withWaits(stop_, {&full}, [&] {
      handle = ::CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      return handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    });
    if (code != ERROR_SUCCESS) return failed("examine", path, full, code);
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = ::GetFileInformationByHandle(handle, &info);
    const DWORD reason = ::GetLastError();
    ::CloseHandle(handle);
    if (!known) return failed("examine", path, full, reason);
    return FileId{info.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  }

  Status rename(const fs::path& from, const fs::path& to) override {
    const std::wstring source = longPath(from);
    const std::wstring target = longPath(to);
    const DWORD code = withWaits(stop_, {&source, &target}, [&] {
      return ::MoveFileExW(source.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                 ? ERROR_SUCCESS
                 : ::GetLastError();
    });
    if (code == ERROR_SUCCESS) return {};
    const std::string operation = "rename " + pathText(from) + " to " + pathText(to);
    for (const auto& [full, shown] : {std::pair{&target, &to}, std::pair{&source, &from}}) {
      if ((sharingRefused(code) || code == ERROR_ACCESS_DENIED) && heldByAnother(*full)) {
        return Error{ErrorCode::Io, "cannot " + operation + ": " + pathText(*shown) +
                                        " is in use by another program"};
      }
    }
    if (sharingRefused(code))
      return Error{ErrorCode::Io, "cannot " + operation + ": it is in use by another program"};
    return fileError("rename " + pathText(from) + " to", to, reasonOf(code));
  }

  Status remove(const fs::path& path) override {
    const std::wstring full = longPath(path);
    DWORD code = withWaits(stop_, {&full}, [&] {
      return ::DeleteFileW(full.c_str()) ? ERROR_SUCCESS : ::GetLastError();
    });
    if (code == ERROR_ACCESS_DENIED) {
      const DWORD attributes = attributesOf(full);
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        code = ::RemoveDirectoryW(full.c_str()) ? ERROR_SUCCESS : ::GetLastError();
    }
    // As with std::filesystem::remove, nothing there is nothing to do.
    if (code == ERROR_SUCCESS || code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
      return {};
    return failed("remove", path, full, code);
  }

  Status link(const fs::path& existing, const fs::path& newName) override {
    const std::wstring source = longPath(existing);
    const std::wstring target = longPath(newName);
    const DWORD code = withWaits(stop_, {&source}, [&] {
      return ::CreateHardLinkW(target.c_str(), source.c_str(), nullptr) ? ERROR_SUCCESS
                                                                        : ::GetLastError();
    });
    if (code == ERROR_SUCCESS) return {};
    return failed("link " + pathText(existing) + " as", newName, target, code);
  }

  Status makeReadOnly(const fs::path& path) override {
    const std::wstring full = longPath(path);
    const DWORD attributes = attributesOf(full);
    if (attributes == INVALID_FILE_ATTRIBUTES)
      return failed("make read-only", path, full, ::GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && isLinkPath(full)))
      return fileError("make read-only", path, std::make_error_code(std::errc::invalid_argument));
    if (!::SetFileAttributesW(full.c_str(), attributes | FILE_ATTRIBUTE_READONLY))
      return failed("make read-only", path, full, ::GetLastError());
    return {};
  }

  Status createFolder(const fs::path& path) override {
    const std::wstring full = longPath(path);
    if (::CreateDirectoryW(full.c_str(), nullptr)) return {};
    const DWORD code = ::GetLastError();
    const DWORD attributes = attributesOf(full);
    if (code == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return {};
    return failed("create the folder", path, full, code);
  }

  // Each entry's type comes with the listing; no entry is asked again.
  Result<std::vector<FolderEntry>> listFolder(const fs::path& folder) override {
    const std::wstring full = longPath(folder);
    std::wstring pattern = full;
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    std::vector<FolderEntry> entries;
    if (find == INVALID_HANDLE_VALUE) {
      const DWORD code = ::GetLastError();
      // Nothing at all matched: a drive's empty root, which has no "." entry.
      // Anything but a folder that exists is an error, never an empty list.
      const DWORD attributes = attributesOf(full);
      if (code == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return entries;
      return failed("list", folder, full, code);
    }
    do {
      if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0)
        continue;
      entries.push_back({utf8Text(data.cFileName), entryType(data)});
    } while (::FindNextFileW(find, &data));
    const DWORD code = ::GetLastError();
    ::FindClose(find);
    if (code != ERROR_NO_MORE_FILES) return failed("list", folder, full, code);
    return entries;
  }

  std::vector<Drive> listDrives() override {
    std::vector<Drive> drives;
    // No drive is asked whether it has a medium, and a failing question
    // shows no dialog: an empty card reader or a disconnected share is
    // listed like any drive.
    DWORD oldMode = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
    wchar_t roots[4 * 26 + 1] = {};
    const DWORD length = ::GetLogicalDriveStringsW(static_cast<DWORD>(std::size(roots) - 1), roots);
    for (const wchar_t* root = roots; length > 0 && *root; root += std::wcslen(root) + 1) {
      drives.push_back({fs::path(root), driveLabel(root)});
    }
    ::SetThreadErrorMode(oldMode, nullptr);
    if (drives.empty()) drives.push_back({fs::path("C:\\"), "c:"});
    return drives;
  }

  // MoveFileExW with MOVEFILE_WRITE_THROUGH already waited for the rename.
  Status syncFolder(const fs::path&) override { return {}; }

 private:
  const std::atomic<bool>* stop_;  // ends the waits; null for none
};

}  // namespace

FileSystem& realFileSystem() {
  static WindowsFileSystem instance;
  return instance;
}

void installInterruptCleanup() {
  // A console's Ctrl+C handler runs on another thread while the copy is
  // still open, and Windows deletes no file that is open without delete
  // sharing, so there is nothing safe to do here: Ctrl+C ends the process at
  // once, a wait for a held file included, and leaves its temporary behind,
  // with every result file whole.
}

}  // namespace pklfix
