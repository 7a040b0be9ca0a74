#include <windows.h>

#include <cstdlib>
#include <system_error>

#include "engine/file_system.h"
#include "engine/record_platform.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

std::error_code lastError() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

std::string utf8(const wchar_t* text, int length) {
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size : 0, '\0');
  if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

class AppendWriter final : public WritableFile {
 public:
  AppendWriter(HANDLE file, fs::path path) : file_(file), path_(std::move(path)) {}
  ~AppendWriter() override {
    if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
  }

  Status write(const char* data, std::size_t size) override {
    while (size > 0) {
      DWORD chunk = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
      DWORD written = 0;
      if (!::WriteFile(file_, data, chunk, &written, nullptr)) {
        return fileError("write", path_, lastError());
      }
      data += written;
      size -= written;
    }
    return {};
  }
  Status sync() override {
    if (!::FlushFileBuffers(file_)) return fileError("sync", path_, lastError());
    return {};
  }
  // The record keeps the attributes Windows gave it.
  Status setPermissions(fs::perms) override { return {}; }
  Status close() override {
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(file)) return fileError("close", path_, lastError());
    return {};
  }

 private:
  HANDLE file_;
  fs::path path_;
};

}  // namespace

Result<std::unique_ptr<WritableFile>> FileSystem::openForAppending(const fs::path& path) {
  // FILE_APPEND_DATA alone puts every write at the end. Others may read the
  // record meanwhile (an auditor's spreadsheet) and a second run append.
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fileError("open", path, lastError());
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    return fileError("open", path, std::make_error_code(std::errc::invalid_argument));
  }
  return std::unique_ptr<WritableFile>(new AppendWriter(file, path));
}

std::string loginName() {
  wchar_t name[257];
  DWORD size = 257;
  if (!::GetUserNameW(name, &size) || size == 0) return "";
  return utf8(name, static_cast<int>(size - 1));  // size counts the final null
}

std::string computerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &size)) return "";
  return utf8(name, static_cast<int>(size));
}

std::tm localTime(std::time_t time) {
  std::tm local{};
  localtime_s(&local, &time);
  return local;
}

Result<fs::path> recordFolder() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (!local || !*local) {
    return Error{ErrorCode::NotFound, "cannot find the record's folder: LOCALAPPDATA is not set"};
  }
  fs::path folder = fs::path(local) / L"pklfix";
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return fileError("create the folder", folder, error);
  return folder;
}

}  // namespace pklfix
