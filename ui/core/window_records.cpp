#include "ui/core/window_records.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "engine/files/paths.h"
#include "engine/record/user_context.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

// Where a record's name places it among the window's records: its month,
// then its number within the month (the first is 1); none for a name that
// is no window record's.
struct RecordPlace {
  int month = 0;  // the year times 12 plus the month
  int number = 1;
};

std::optional<int> number(std::string_view digits) {
  if (digits.empty() || digits.size() > 6) return std::nullopt;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<RecordPlace> placeOf(std::string_view name) {
  constexpr std::string_view kPrefix = "record-";
  constexpr std::string_view kSuffix = ".csv";
  if (name.size() <= kPrefix.size() + kSuffix.size() || name.substr(0, kPrefix.size()) != kPrefix ||
      name.substr(name.size() - kSuffix.size()) != kSuffix) {
    return std::nullopt;
  }
  // YYYY-MM, or YYYY-MM-N for a later record of the month.
  const std::string_view rest =
      name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  if (rest.size() < 7 || rest[4] != '-') return std::nullopt;
  const std::optional<int> year = number(rest.substr(0, 4));
  const std::optional<int> month = number(rest.substr(5, 2));
  if (!year || !month || *month < 1 || *month > 12) return std::nullopt;
  RecordPlace place{*year * 12 + *month, 1};
  if (rest.size() > 7) {
    const std::optional<int> later = rest[7] == '-' ? number(rest.substr(8)) : std::nullopt;
    if (!later || *later < 2) return std::nullopt;
    place.number = *later;
  }
  return place;
}

}  // namespace

WindowRecord openWindowRecord(FileSystem& fileSystem, std::time_t time) {
  WindowRecord opened;
  Result<fs::path> folder = recordFolder();
  if (!folder.ok()) {
    opened.error = folder.error();
    return opened;
  }
  const std::string first = monthRecordName(time);
  const std::string stem = first.substr(0, first.size() - std::string_view(".csv").size());
  // Ends: each record passed over exists, and there are only so many.
  for (int n = 1;; ++n) {
    opened.path =
        folder.value() / utf8Path(n == 1 ? first : stem + "-" + std::to_string(n) + ".csv");
    Result<std::unique_ptr<ChangeRecord>> record = ChangeRecord::open(fileSystem, opened.path);
    if (record.ok()) {
      opened.record = std::move(record.value());
      return opened;
    }
    if (record.error().code != ErrorCode::OlderRecord) {
      opened.error = record.error();
      return opened;
    }
    opened.olderRecord = opened.path;
  }
}

Result<std::vector<fs::path>> windowRecords(FileSystem& fileSystem, const fs::path& folder) {
  Result<std::vector<FolderEntry>> entries = fileSystem.listFolder(folder);
  if (!entries.ok()) return entries.error();
  std::vector<std::pair<RecordPlace, fs::path>> found;
  for (const FolderEntry& entry : entries.value()) {
    if (entry.type == FileType::Directory) continue;
    if (std::optional<RecordPlace> place = placeOf(entry.name)) {
      found.emplace_back(*place, folder / utf8Path(entry.name));
    }
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    if (a.first.month != b.first.month) return a.first.month > b.first.month;
    return a.first.number > b.first.number;
  });
  std::vector<fs::path> records;
  for (auto& [place, path] : found) records.push_back(std::move(path));
  return records;
}

Result<std::optional<RunToPutBack>> findRunToPutBack(FileSystem& fileSystem) {
  Result<fs::path> folder = recordFolder();
  if (!folder.ok()) return folder.error();
  Result<std::vector<fs::path>> records = windowRecords(fileSystem, folder.value());
  if (!records.ok()) return records.error();
  for (const fs::path& record : records.value()) {
    Result<std::optional<RecordedRun>> run = lastRunToPutBack(fileSystem, record);
    // A record that cannot be read, of the older form among them, holds
    // no run the window can put back; an earlier one may.
    if (!run.ok() || !run.value()) continue;
    return std::optional<RunToPutBack>(RunToPutBack{record, *run.value()});
  }
  return std::optional<RunToPutBack>();
}

}  // namespace pklfix
