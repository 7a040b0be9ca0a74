#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "engine/file_system.h"
#include "engine/record_platform.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

class AppendWriter final : public WritableFile {
 public:
  AppendWriter(int fd, fs::path path) : fd_(fd), path_(std::move(path)) {}
  ~AppendWriter() override {
    if (fd_ >= 0) ::close(fd_);
  }

  Status write(const char* data, std::size_t size) override {
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fileError("write", path_, lastError());
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return {};
  }
  Status sync() override {
    if (::fsync(fd_) != 0) return fileError("sync", path_, lastError());
    return {};
  }
  Status setPermissions(fs::perms permissions) override {
    if (::fchmod(fd_, static_cast<mode_t>(permissions)) != 0) {
      return fileError("set the permissions of", path_, lastError());
    }
    return {};
  }
  Status close() override {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) return fileError("close", path_, lastError());
    return {};
  }

 private:
  int fd_;
  fs::path path_;
};

}  // namespace

Result<std::unique_ptr<WritableFile>> FileSystem::openForAppending(const fs::path& path) {
  // Not blocking, so a FIFO put where the record goes cannot hang the run
  // before it is refused below.
  int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return fileError("open", path, lastError());
  struct stat info {};
  std::error_code refused;
  if (::fstat(fd, &info) != 0) {
    refused = lastError();
  } else if (S_ISDIR(info.st_mode)) {
    refused = std::make_error_code(std::errc::is_a_directory);
  } else if (!S_ISREG(info.st_mode)) {
    refused = std::make_error_code(std::errc::invalid_argument);
  } else if (::fcntl(fd, F_SETFL, O_APPEND) != 0) {
    refused = lastError();
  }
  if (refused) {
    ::close(fd);
    return fileError("open", path, refused);
  }
  return std::unique_ptr<WritableFile>(new AppendWriter(fd, path));
}

std::string loginName() {
  std::vector<char> buffer(16 * 1024);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
    return found->pw_name;
  }
  // A user the passwd database does not know (a container, an LDAP
  // outage) still has the name the login gave the environment.
  const char* name = std::getenv("LOGNAME");
  return name ? name : "";
}

std::string computerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::tm localTime(std::time_t time) {
  std::tm local{};
  localtime_r(&time, &local);
  return local;
}

Result<fs::path> recordFolder() {
  fs::path state;
  const char* xdg = std::getenv("XDG_STATE_HOME");
  // The base directory rules: a relative path is to be ignored.
  if (xdg && fs::path(xdg).is_absolute()) {
    state = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    state = fs::path(home) / ".local" / "state";
  } else {
    return Error{ErrorCode::NotFound,
                 "cannot find the record's folder: neither XDG_STATE_HOME "
                 "nor HOME is set"};
  }
  fs::path folder = state / "pklfix";
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return fileError("create the folder", folder, error);
  return folder;
}

}  // namespace pklfix
