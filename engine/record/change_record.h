#ifndef ENGINE_RECORD_CHANGE_RECORD_H_
#define ENGINE_RECORD_CHANGE_RECORD_H_

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/file_system.h"
#include "engine/record/file_outcome.h"

namespace pklfix {

// A record of what runs did to files, kept so that an amended result file
// can be traced to the original: a CSV file (RFC 4180, UTF-8 with a
// byte-order mark, rows ended by CR LF) of one row per file, written before
// the file changes.

// The acquisition lines a row holds are whole up to this many bytes each.
inline constexpr std::size_t kRecordLineBytes = 64 * 1024;

// The first row of a new record.
inline constexpr std::string_view kRecordHeader =
    "time,user,computer,result file,spectrum file,outcome,acquisition line before,"
    "acquisition line after,sha256 before,sha256 after,message,run";

// The first row of the records written before rows knew their run. Rows
// of today's shape under it would be read wrong, so none is added to them.
inline constexpr std::string_view kOlderRecordHeader =
    "time,user,computer,result file,spectrum file,outcome,acquisition line before,"
    "acquisition line after,sha256 before,sha256 after,message";

// What one row says of one file.
struct ChangeRow {
  std::string time;  // recordTime()
  std::string user;
  std::string computer;
  std::filesystem::path resultFile;    // absolute
  std::filesystem::path spectrumFile;  // empty when none was read
  FileOutcome outcome = FileOutcome::Corrected;
  std::vector<std::string> linesBefore;  // each already cut, see AcquisitionLines
  std::vector<std::string> linesAfter;
  std::string sha256Before;  // lowercase hex; empty when unknown
  std::string sha256After;   // empty when the file failed or is gone
  std::string message;       // the error, or the warnings
  std::string run;           // newRunId() of the run that wrote the row
};

// The row as CSV, CR LF included. Names, lines and messages are escaped
// as pklfix-cli prints them (escaped_text.h): control characters and bytes
// that are not UTF-8 as \xNN, so a row is one line of UTF-8 text. Every
// cell that then begins with "=", "+", "-" or "@" gets a leading
// apostrophe, so a spreadsheet never runs what a file name or a line holds
// as a formula.
std::string csvRow(const ChangeRow& row);

// Whether the file `path` begins as a record does: the byte-order mark and
// the header row. What does not is no record of ours, whatever its name.
Result<bool> beginsAsRecord(FileSystem& fileSystem, const std::filesystem::path& path);

// An identifier for one run's rows, unique across the users and computers
// that may share a record: 28 lowercase hex digits, the time in
// milliseconds then 64 random bits, so letters and digits only.
std::string newRunId();

// Local time with its UTC offset: 2026-12-09T14:30:07+01:00.
std::string recordTime(std::time_t time);
// The window's record file for the month of `time`: record-2026-12.csv.
std::string monthRecordName(std::time_t time);

// A record file open for appending. Rows are held until flush() puts them
// on the disk together. Once a write fails, the record is cut back to its
// length before that write, its last whole row, and is broken: every later
// flush() fails with the same error, so no file is changed whose row may be
// missing, and no row says a file changed that did not.
class ChangeRecord {
 public:
  // Opens `path` for appending, creating it when missing. A file that does
  // not begin with the byte-order mark and the header row is no record and
  // is refused (InvalidArgument), unless it holds nothing but a beginning of
  // them; one under kOlderRecordHeader is refused with OlderRecord. A new or empty file gets the byte-order mark and the header row
  // (one cut short, the rest of them), once however many
  // runs open it at once (the file's lock is held from the look at its
  // tail to the header); a file whose last row a crash cut short gets that
  // row ended, so the rows after it stay rows.
  static Result<std::unique_ptr<ChangeRecord>> open(FileSystem& fileSystem,
                                                    const std::filesystem::path& path);
  ~ChangeRecord();

  // Holds a row; fills in its time, user and computer, and makes its paths
  // absolute.
  void add(ChangeRow row);
  // Writes the rows held and returns once they are on the disk.
  Status flush();

  const std::filesystem::path& path() const { return path_; }

 private:
  ChangeRecord(std::filesystem::path path, std::unique_ptr<WritableFile> file);
  // flush() for a caller that holds the file's lock.
  Status writeHeld();

  std::filesystem::path path_;
  std::unique_ptr<WritableFile> file_;
  std::string user_;
  std::string computer_;
  std::string held_;
  std::optional<Error> error_;
};

}  // namespace pklfix

#endif  // ENGINE_RECORD_CHANGE_RECORD_H_
