#include "ui/core/window_records.h"

#include <string_view>
#include <utility>

#include "engine/files/paths.h"
#include "engine/record/user_context.h"

namespace pklfix {
namespace fs = std::filesystem;

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

}  // namespace pklfix
