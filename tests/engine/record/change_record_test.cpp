#include "engine/record/change_record.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <regex>
#include <thread>
#include <utility>

#include "tests/support/memory_file_system.h"
#include "engine/files/forwarding_file_system.h"
#include "engine/record/user_context.h"

#ifndef _WIN32
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include "engine/rewrite/acquisition_lines.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {
namespace fs = std::filesystem;
using testing::MemoryDir;
using testing::MemoryFileSystem;
using testing::TempDir;
using namespace std::chrono_literals;

ChangeRow row(FileOutcome outcome) {
  ChangeRow r;
  r.time = "2026-12-09T14:30:07+01:00";
  r.user = "ana";
  r.computer = "LAB-7";
  r.resultFile = "/data/S001.pkl";
  r.outcome = outcome;
  r.run = "0193a1b2c3d4e5f60718293a";
  return r;
}

TEST(ChangeRecordTest, RowCells) {
  const std::string head = "2026-12-09T14:30:07+01:00,ana,LAB-7,/data/S001.pkl,";
  const std::string tail = ",0193a1b2c3d4e5f60718293a\r\n";  // the run, last
  struct Case {
    const char* label;
    ChangeRow row;
    std::string csv;
  } cases[] = {
      {"corrected, lines joined",
       [] {
         ChangeRow r = row(FileOutcome::Corrected);
         r.spectrumFile = "/data/S001.chn";
         r.linesBefore = {"Acquisition Date : x", "Acquisition Date : y"};
         r.linesAfter = {"Acquisition Date : 03-05-2009 14:30:07",
                         "Acquisition Date : 03-05-2009 14:30:07"};
         r.sha256Before = "ab";
         r.sha256After = "cd";
         return r;
       }(),
       head +
           "/data/S001.chn,corrected,Acquisition Date : x | Acquisition Date : y,"
           "Acquisition Date : 03-05-2009 14:30:07 | Acquisition Date : 03-05-2009 14:30:07,"
           "ab,cd," +
           tail},
      {"already correct", row(FileOutcome::AlreadyCorrect), head + ",already correct,,,,," + tail},
      {"no acquisition line", row(FileOutcome::NoAcquisitionLine),
       head + ",no acquisition line,,,,," + tail},
      {"failed, message quoted",
       [] {
         ChangeRow r = row(FileOutcome::Failed);
         r.message = "cannot open \"S001.chn\", no such file";
         return r;
       }(),
       head + ",failed,,,,,\"cannot open \"\"S001.chn\"\", no such file\"" + tail},
      {"put back", row(FileOutcome::PutBack), head + ",put back,,,,," + tail},
      {"copy removed", row(FileOutcome::CopyRemoved), head + ",copy removed,,,,," + tail},
      {"formula guards, quoting after the guard",
       [] {
         ChangeRow r = row(FileOutcome::Corrected);
         r.user = "=cmd";
         r.computer = "+1";
         r.resultFile = "-x";
         r.linesBefore = {"@sum"};
         r.linesAfter = {"\tTAB"};  // escaped, so no tab begins it
         r.message = "=1,\"2\"";
         r.sha256Before = "a=b";  // only a cell's first character counts
         return r;
       }(),
       "2026-12-09T14:30:07+01:00,'=cmd,'+1,'-x,,corrected,'@sum,\\x09TAB,a=b,,\"'"
       "=1,\"\"2\"\"\"" +
           tail},
      // A record must stay UTF-8 text: bytes that are not (a Latin-1 name,
      // a line's binary junk) and control characters were written raw.
      {"what is not text is escaped",
       [] {
         ChangeRow r = row(FileOutcome::Failed);
         const char line[] =
             "Acquisition Date : \0\x1b[2J\x7f\f\\ \xe9t\xe9 \xc3\xa9 \xe6\x97\xa5 \xed\xa0\x80 "
             "\xf0\x9f\x98\x80 \xc3";
         r.linesBefore = {std::string(line, sizeof line - 1)};
         r.message = "cannot open S\xe9\r\n.chn";
         return r;
       }(),
       head + ",failed,Acquisition Date : \\x00\\x1b[2J\\x7f\\x0c\\\\ \\xe9t\\xe9 \xc3\xa9 "
              "\xe6\x97\xa5 \\xed\\xa0\\x80 \xf0\x9f\x98\x80 \\xc3,,,,"
              "cannot open S\\xe9\\x0d\\x0a.chn" +
           tail},
      {"cut mark passes as it is",
       [] {
         ChangeRow r = row(FileOutcome::Corrected);
         r.linesBefore = {"Acquisition Date : " + std::string(10, 'z') + " [... 70000 bytes]"};
         return r;
       }(),
       head + ",corrected,Acquisition Date : zzzzzzzzzz [... 70000 bytes],,,," + tail},
  };
  for (const Case& c : cases) EXPECT_EQ(csvRow(c.row), c.csv) << c.label;
}

// A line cut at the record's (or the screen's) byte limit was cut inside
// a character, leaving half of it in the record.
TEST(ChangeRecordTest, LinesAreCutBetweenCharacters) {
  AcquisitionLines lines(24);
  lines.begin("Acquisition Date : ", "03-05-2009 14:30:07");
  lines.replaced("ab\xc3\xa9\xe6\x97\xa5");  // é ends at byte 23, 日 at 26
  lines.end();
  ASSERT_EQ(lines.oldLines().size(), 1u);
  EXPECT_EQ(lines.oldLines()[0], "Acquisition Date : ab\xc3\xa9 [... 26 bytes]");
  EXPECT_EQ(lines.oldLine(0, 22), "Acquisition Date : ab [... 26 bytes]");
  EXPECT_EQ(lines.oldLine(0, 21), "Acquisition Date : ab [... 26 bytes]");
}

TEST(ChangeRecordTest, TimeHasItsOffset) {
  const std::regex form(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)");
  EXPECT_TRUE(std::regex_match(recordTime(std::time(nullptr)), form));
#ifndef _WIN32
  // 2026-12-31 23:30:07 UTC, in zones east and west of Greenwich: the
  // date, and the month's file, follow the local time.
  const std::time_t when = 1798759807;
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  struct Zone {
    const char* tz;
    const char* time;
    const char* month;
  } zones[] = {{"CET-1", "2027-01-01T00:30:07+01:00", "record-2027-01.csv"},
               {"NST+3:30", "2026-12-31T20:00:07-03:30", "record-2026-12.csv"}};
  for (const Zone& z : zones) {
    setenv("TZ", z.tz, 1);
    tzset();
    EXPECT_EQ(recordTime(when), z.time) << z.tz;
    EXPECT_EQ(monthRecordName(when), z.month) << z.tz;
  }
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
#endif
}

// A record that was new gets the mark and the header once; one a crash
// cut inside a quoted cell gets that cell and row closed, so the next row
// is not swallowed into it.
TEST(ChangeRecordTest, OpeningMendsTheTail) {
  MemoryFileSystem memory;
  MemoryDir dir;
  const fs::path path = dir / "r.csv";
  const std::string header = "\xEF\xBB\xBF" + std::string(kRecordHeader) + "\r\n";
  struct Case {
    const char* label;
    std::string before;
    std::string after;  // once opened, before any row
  } cases[] = {
      {"missing", "", header},
      {"empty", "", header},
      {"only the mark", "\xEF\xBB\xBF", header},
      {"the header cut short", header.substr(0, 20), header},
      {"whole rows", header + "a,b\r\n", header + "a,b\r\n"},
      {"cut in a cell", header + "a,\"b\r\nc", header + "a,\"b\r\nc\"\r\n"},
      {"cut between cells", header + "a,\"b\"", header + "a,\"b\"\r\n"},
  };
  for (const Case& c : cases) {
    if (std::string(c.label) != "missing") testing::writeFile(memory, path, c.before);
    {
      Result<std::unique_ptr<ChangeRecord>> record = ChangeRecord::open(memory, path);
      ASSERT_TRUE(record.ok()) << record.error().message;
    }
    EXPECT_EQ(testing::readFile(memory, path), c.after) << c.label;
    testing::removeFile(memory, path);
  }
}

// A file that does not begin with the record's header took rows under no
// header, or under another's: a CSV of some other program, a result file.
TEST(ChangeRecordTest, OnlyARecordIsAppendedTo) {
  TempDir dir;
  const fs::path path = dir / "r.csv";
  const std::string header = "\xEF\xBB\xBF" + std::string(kRecordHeader) + "\r\n";
  const std::string older = "\xEF\xBB\xBF" + std::string(kOlderRecordHeader) + "\r\n";
  struct Case {
    std::string before;
    ErrorCode code;
    const char* says;
  } cases[] = {
      {"a,b\r\n", ErrorCode::InvalidArgument, "not a change record"},
      {"\xEF\xBB\xBFother,header\r\n", ErrorCode::InvalidArgument, "not a change record"},
      {header.substr(0, 20) + "x", ErrorCode::InvalidArgument, "not a change record"},
      {"Sample S1\r\nAcquisition Date : 01-01-1900 00:00:00\r\n", ErrorCode::InvalidArgument,
       "not a change record"},
      {"\r\n" + header, ErrorCode::InvalidArgument, "not a change record"},
      // Rows of twelve cells under a header of eleven would be read wrong.
      {older, ErrorCode::OlderRecord, "older form"},
      {older + "t,u,c,/x.pkl,,corrected,a,b,c,d,\r\n", ErrorCode::OlderRecord, "older form"},
  };
  for (const Case& c : cases) {
    testing::writeFile(path, c.before);
    Result<std::unique_ptr<ChangeRecord>> record = ChangeRecord::open(realFileSystem(), path);
    ASSERT_FALSE(record.ok()) << c.before;
    EXPECT_EQ(record.error().code, c.code) << c.before;
    EXPECT_NE(record.error().message.find(c.says), std::string::npos) << record.error().message;
    EXPECT_EQ(testing::readFile(path), c.before);
  }
}

#ifndef _WIN32
// A user the passwd database does not know (a container's arbitrary uid)
// and whose login set no LOGNAME got an empty user cell: no trace of who
// changed the files.
TEST(ChangeRecordTest, AnUnknownUserIsNamedByNumber) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to become a user with no passwd entry";
  constexpr uid_t kStranger = 54321;
  ASSERT_EQ(getpwuid(kStranger), nullptr);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  if (child == 0) {
    unsetenv("LOGNAME");
    if (setuid(kStranger) != 0) _exit(2);
    const std::string name = loginName();
    (void)!write(pipeFds[1], name.data(), name.size());
    _exit(0);
  }
  close(pipeFds[1]);
  char buffer[64];
  const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "54321");
}
#endif

// Reads the record as the real file system does, and once a reading of it
// has found its end, lets `between` run before the reader goes on.
class PauseAtEnd final : public ForwardingFileSystem {
 public:
  PauseAtEnd(std::function<void()> between)
      : ForwardingFileSystem(realFileSystem()), between_(std::move(between)) {}
  Result<std::unique_ptr<ReadableFile>> openForReading(const fs::path& path,
                                                       Sharing sharing) override {
    auto file = base().openForReading(path, sharing);
    if (!file.ok()) return file;
    return std::unique_ptr<ReadableFile>(new Reader(std::move(file.value()), *this));
  }

 private:
  class Reader final : public ReadableFile {
   public:
    Reader(std::unique_ptr<ReadableFile> base, PauseAtEnd& owner)
        : base_(std::move(base)), owner_(owner) {}
    Result<std::size_t> read(char* buffer, std::size_t size) override {
      Result<std::size_t> n = base_->read(buffer, size);
      if (n.ok() && n.value() == 0 && owner_.between_) std::exchange(owner_.between_, {})();
      return n;
    }

   private:
    std::unique_ptr<ReadableFile> base_;
    PauseAtEnd& owner_;
  };
  std::function<void()> between_;
};

// Two runs that create the same record at once: the second checked the
// file while it was still empty, and both wrote the byte-order mark and
// the header, the second header then read as a row.
TEST(ChangeRecordTest, RunsAtOnceWriteOneHeader) {
  TempDir dir;
  const fs::path path = dir / "r.csv";
  std::thread second;
  std::atomic<bool> secondDone = false;
  PauseAtEnd first([&] {
    second = std::thread([&] {
      auto record = ChangeRecord::open(realFileSystem(), path);
      EXPECT_TRUE(record.ok()) << record.error().message;
      secondDone = true;
    });
    // Gives the second run its chance; it must wait for the first.
    for (int i = 0; i < 50 && !secondDone; ++i) std::this_thread::sleep_for(10ms);
  });
  {
    auto record = ChangeRecord::open(first, path);
    ASSERT_TRUE(record.ok()) << record.error().message;
  }
  second.join();
  EXPECT_EQ(testing::readFile(path), "\xEF\xBB\xBF" + std::string(kRecordHeader) + "\r\n");
}

}  // namespace
}  // namespace pklfix
