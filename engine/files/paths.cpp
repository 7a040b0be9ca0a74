#include "engine/files/paths.h"

#include "engine/base/escaped_text.h"

namespace pklfix {
namespace fs = std::filesystem;

std::string pathText(const fs::path& path) {
  std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

fs::path utf8Path(std::string_view text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string printedPath(const fs::path& path) {
  return escapedText(pathText(path), kPathBackslashes);
}

fs::path wholePath(const fs::path& path) {
  std::error_code error;
  fs::path whole = fs::absolute(path, error);
  return (error ? path : whole).lexically_normal();
}

namespace {
thread_local const std::atomic<bool>* waitsStop = nullptr;
}  // namespace

FileWaitsStop::FileWaitsStop(const std::atomic<bool>& stop) : previous_(waitsStop) {
  waitsStop = &stop;
}

FileWaitsStop::~FileWaitsStop() { waitsStop = previous_; }

bool FileWaitsStop::requested() { return waitsStop != nullptr && waitsStop->load(); }

}  // namespace pklfix
