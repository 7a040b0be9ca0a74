#include "tests/support/test_util.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "engine/files/file_system.h"
#include "engine/files/paths.h"
#include "engine/record/sha256.h"
#include "tests/support/memory_file_system.h"

namespace pklfix::testing {
namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string stem = test ? test->name() : "pklfix";
  for (;;) {
    path_ = fs::temp_directory_path() /
            (stem + "-" + std::to_string(random()) + "-" + std::to_string(counter++));
    if (fs::create_directory(path_)) break;
  }
}

TempDir::~TempDir() { removeTree(path_); }

bool removeTree(const fs::path& path) {
  std::error_code ec;
  // POSIX removes read-only files with the folder's permission alone;
  // Windows refuses to delete one, so each is made writable first.
  for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (it->is_regular_file(ignored))
      fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(path, ec);
  return !ec;
}

fs::path TempDir::operator/(std::string_view name) const { return path_ / fs::path(name); }

void writeFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> folderNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

MemoryDir::MemoryDir() : path_(wholePath("/scratch")) {}

fs::path MemoryDir::operator/(std::string_view name) const { return path_ / utf8Path(name); }

void writeFile(MemoryFileSystem& files, const fs::path& path, std::string_view bytes) {
  files.files[pathText(path)] = std::string(bytes);
}

std::string readFile(const MemoryFileSystem& files, const fs::path& path) {
  auto it = files.files.find(pathText(path));
  if (it == files.files.end()) {
    ADD_FAILURE() << "no file " << path;
    return {};
  }
  return it->second;
}

bool fileExists(const MemoryFileSystem& files, const fs::path& path) {
  return files.files.count(pathText(path)) != 0;
}

void removeFile(MemoryFileSystem& files, const fs::path& path) {
  files.files.erase(pathText(path));
}

std::vector<std::string> folderNames(const MemoryFileSystem& files, const fs::path& folder) {
  std::vector<std::string> names;
  for (const FolderEntry& entry : files.entriesOf(folder)) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  return names;
}

std::string chnHeader(std::string_view seconds, std::string_view date, std::string_view time,
                      std::string_view firstTwo) {
  std::string header(30, '\0');
  header.replace(0, 2, firstTwo.substr(0, 2));
  header.replace(6, 2, seconds.substr(0, 2));
  header.replace(16, std::min<std::size_t>(date.size(), 8), date.substr(0, 8));
  header.replace(24, std::min<std::size_t>(time.size(), 6), time.substr(0, 6));
  return header + std::string(64, '\x01');
}

std::string sampleChn() { return chnHeader("07", "05MAR091", "143000"); }

PklJobs jobList(const std::vector<Job>& jobs) {
  PklJobs list;
  for (const Job& job : jobs) list.add(job.pklFolder, job.name, job.chnFolder);
  return list;
}

void writeSamplePair(const std::filesystem::path& folder, std::string_view base) {
  writeFile(folder / utf8Path(std::string(base) + ".pkl"), kSamplePkl);
  writeFile(folder / utf8Path(std::string(base) + ".chn"), sampleChn());
}

void writeSamplePair(MemoryFileSystem& files, const fs::path& folder, std::string_view base) {
  writeFile(files, folder / utf8Path(std::string(base) + ".pkl"), kSamplePkl);
  writeFile(files, folder / utf8Path(std::string(base) + ".chn"), sampleChn());
}

namespace {

void setVariable(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
  // The wide environment is the one the program reads.
  std::wstring wide(name.begin(), name.end());
  _wputenv_s(wide.c_str(), value ? utf8Path(*value).wstring().c_str() : L"");
#else
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
#endif
}

}  // namespace

ScratchStateFolder::ScratchStateFolder() {
  for (const char* name : {"XDG_STATE_HOME", "LOCALAPPDATA"}) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setVariable(name, pathText(dir_.path()));
  }
}

ScratchStateFolder::~ScratchStateFolder() {
  for (const auto& [name, value] : saved_) setVariable(name, value);
}

std::vector<std::vector<std::string>> recordRows(std::string_view csv) {
  if (csv.substr(0, 3) == "\xEF\xBB\xBF") csv.remove_prefix(3);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row(1);
  bool quoted = false;
  for (std::size_t i = 0; i < csv.size(); ++i) {
    const char c = csv[i];
    if (quoted) {
      if (c != '"') {
        row.back() += c;
      } else if (i + 1 < csv.size() && csv[i + 1] == '"') {
        row.back() += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.emplace_back();
    } else if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
      rows.push_back(std::move(row));
      row.assign(1, "");
      ++i;
    } else {
      row.back() += c;
    }
  }
  return rows;
}

std::string sha256Of(std::string_view bytes) {
  Sha256 digest;
  digest.update(bytes);
  return digest.finish();
}

}  // namespace pklfix::testing
