#include "ui/core/window_records.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "engine/files/paths.h"
#include "engine/record/change_record.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

TEST(WindowRecordsTest, NewestFirstByMonthThenByNumber) {
  testing::MemoryFileSystem files;
  testing::MemoryDir dir;
  for (const char* name :
       {"record-2026-11.csv", "record-2026-12.csv", "record-2026-12-2.csv", "record-2026-12-10.csv",
        "record-2025-12.csv", "notes.txt", "record-2026-13.csv", "record-2026-12-1.csv",
        "record-2026-12-x.csv", "record-2026-1.csv", "record-2026-12.csv.bak"}) {
    writeFile(files, dir / name, "");
  }
  Result<std::vector<fs::path>> records = windowRecords(files, dir.path());
  ASSERT_TRUE(records.ok()) << records.error().message;
  std::vector<std::string> names;
  for (const fs::path& record : records.value()) names.push_back(pathText(record.filename()));
  EXPECT_EQ(names, (std::vector<std::string>{"record-2026-12-10.csv", "record-2026-12-2.csv",
                                             "record-2026-12.csv", "record-2026-11.csv",
                                             "record-2025-12.csv"}));
}

// A month whose record is of the older form goes on in the next record
// that takes today's rows, and never refuses a run; the older ones stay as
// they are, and the put-back looks past them.
TEST(WindowRecordsTest, AnOlderRecordIsPassedOverNeverRefused) {
  testing::ScratchStateFolder state;
  const std::time_t now = std::time(nullptr);
  const std::string first = monthRecordName(now);
  const std::string stem = first.substr(0, first.size() - 4);
  const std::string older = "\xEF\xBB\xBF" + std::string(kOlderRecordHeader) + "\r\n";
  const std::string ours = "\xEF\xBB\xBF" + std::string(kRecordHeader) + "\r\n";
  struct Case {
    const char* label;
    std::vector<std::pair<std::string, std::string>> present;  // name, bytes
    std::string opened;
    std::string olderRecord;  // empty: none
  };
  const std::vector<Case> cases = {
      {"none yet", {}, first, ""},
      {"this month's of today's form", {{first, ours}}, first, ""},
      {"this month's of the older form", {{first, older}}, stem + "-2.csv", first},
      {"the next of the older form too",
       {{first, older}, {stem + "-2.csv", older}},
       stem + "-3.csv",
       stem + "-2.csv"},
      {"the next already of today's form",
       {{first, older}, {stem + "-2.csv", ours}},
       stem + "-2.csv",
       first},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_TRUE(testing::removeTree(state.recordFolder()));
    fs::create_directories(state.recordFolder());
    for (const auto& [name, bytes] : c.present) writeFile(state.recordFolder() / name, bytes);

    WindowRecord record = openWindowRecord(realFileSystem(), now);
    ASSERT_FALSE(record.error) << record.error->message;
    ASSERT_NE(record.record, nullptr);
    EXPECT_EQ(record.path.filename(), fs::path(c.opened));
    EXPECT_EQ(record.olderRecord.filename(), fs::path(c.olderRecord));
    record.record.reset();
    for (const auto& [name, bytes] : c.present) {
      EXPECT_EQ(readFile(state.recordFolder() / name), bytes) << name;
    }
    // Nothing to put back in any of them, the older ones included.
    Result<std::optional<RunToPutBack>> found = findRunToPutBack(realFileSystem());
    ASSERT_TRUE(found.ok()) << found.error().message;
    EXPECT_FALSE(found.value());
  }

  // A file that is no record is still refused, by its name.
  ASSERT_TRUE(testing::removeTree(state.recordFolder()));
  fs::create_directories(state.recordFolder());
  writeFile(state.recordFolder() / first, "notes of my own\r\n");
  WindowRecord record = openWindowRecord(realFileSystem(), now);
  ASSERT_TRUE(record.error);
  EXPECT_EQ(record.error->code, ErrorCode::InvalidArgument);
  EXPECT_EQ(record.path.filename(), fs::path(first));
  EXPECT_EQ(record.record, nullptr);
}

}  // namespace
}  // namespace pklfix
