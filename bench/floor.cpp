// pklfix-floor: the least disk work a correction run needs, to time
// pklfix-cli against. For each result file of a folder, in name order: copy
// it through a buffer into a new file, sync the copy, read the 30 header
// bytes of its spectrum if it has an acquisition line, and rename the copy
// over the original; then sync the folder once. It corrects nothing: the
// bytes it writes are the bytes it read.
//
// It syncs with the call the engine uses on Linux (fdatasync), so the two
// differ only in the work around it. POSIX only, like the rest of bench/.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench/options.h"

namespace {

constexpr std::size_t kBuffer = 64 * 1024;
constexpr std::string_view kPrefix = "Acquisition Date : ";

bool fail(const char* what, const std::string& path) {
  std::fprintf(stderr, "pklfix-floor: cannot %s %s: %s\n", what, path.c_str(),
               std::strerror(errno));
  return false;
}

bool listResults(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return fail("list", folder);
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".pkl") names.emplace_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return true;
}

// Tells whether an acquisition line starts anywhere in the stream fed to it;
// `tail_` keeps the end of the last chunk so a prefix split between two
// chunks is still seen.
class LineFinder {
 public:
  void feed(std::string_view chunk) {
    if (found_) return;
    std::string joined = tail_ + std::string(chunk.substr(0, kPrefix.size()));
    if (joined.find("\n" + std::string(kPrefix)) != std::string::npos) found_ = true;
    if (::memmem(chunk.data(), chunk.size(), "\nAcquisition Date : ", kPrefix.size() + 1)) {
      found_ = true;
    }
    std::size_t keep = std::min(chunk.size(), kPrefix.size());
    tail_ = (tail_ + std::string(chunk.substr(chunk.size() - keep)));
    if (tail_.size() > kPrefix.size()) tail_.erase(0, tail_.size() - kPrefix.size());
  }
  bool found() const { return found_; }

 private:
  std::string tail_ = "\n";  // the file's first line starts like any other
  bool found_ = false;
};

bool copyOne(const std::string& pklFolder, const std::string& name, const std::string& chnPath,
             char* buffer) {
  std::string path = pklFolder + "/" + name;
  std::string temp = pklFolder + "/new" + name;
  int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail("open", path);
  int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) return fail("create", temp);
  LineFinder finder;
  for (;;) {
    ssize_t n = ::read(in, buffer, kBuffer);
    if (n < 0) return fail("read", path);
    if (n == 0) break;
    finder.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    if (::write(out, buffer, static_cast<std::size_t>(n)) != n) return fail("write", temp);
  }
  if (::fdatasync(out) != 0) return fail("sync", temp);
  if (::close(out) != 0) return fail("close", temp);
  ::close(in);
  if (finder.found()) {
    int chn = ::open(chnPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (chn < 0) return fail("open", chnPath);
    char header[30];
    if (::pread(chn, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
      return fail("read", chnPath);
    }
    ::close(chn);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail("rename", temp);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  pklfix::bench::Args args(argc, argv);
  std::string chnFolder = args.value("--chn-dir");
  std::string chnExtension = args.value("--chn-ext", ".chn");
  std::vector<std::string> rest;
  if (!args.positional(rest) || rest.size() != 1) {
    std::fprintf(stderr, "Usage: pklfix-floor [--chn-dir DIR] [--chn-ext .chn] PKL_DIR\n");
    return 2;
  }
  const std::string& pklFolder = rest.front();
  if (chnFolder.empty()) chnFolder = pklFolder;

  std::vector<std::string> names;
  if (!listResults(pklFolder, names)) return 1;
  auto buffer = std::make_unique<char[]>(kBuffer);
  for (const std::string& name : names) {
    std::string chnPath = chnFolder + "/" + name.substr(0, name.size() - 4) + chnExtension;
    if (!copyOne(pklFolder, name, chnPath, buffer.get())) return 1;
  }
  int dir = ::open(pklFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || ::fsync(dir) != 0) return fail("sync", pklFolder), 1;
  ::close(dir);
  return 0;
}
