#include "tests/support/test_util.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>
#include <sstream>

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

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only files behind; removal needs the folder only.
  fs::remove_all(path_, ec);
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

}  // namespace pklfix::testing
