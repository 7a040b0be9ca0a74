#include "engine/record/change_record.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "engine/base/escaped_text.h"
#include "engine/base/text.h"
#include "engine/files/paths.h"
#include "engine/record/user_context.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

const char* outcomeText(FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::Corrected:
      return "corrected";
    case FileOutcome::AlreadyCorrect:
      return "already correct";
    case FileOutcome::NoAcquisitionLine:
      return "no acquisition line";
    // A copy an interrupted run left, given as a result file and not
    // removed, was not corrected: for an auditor, a failure, whose message
    // says why.
    case FileOutcome::LeftoverCopy:
    case FileOutcome::Failed:
      return "failed";
    case FileOutcome::CopyRemoved:
      return "copy removed";
    case FileOutcome::PutBack:
      return "put back";
  }
  return "";
}

void appendCell(std::string& row, std::string_view cell) {
  // Escaped cells begin with no tab or carriage return.
  const bool guard =
      !cell.empty() && std::string_view("=+-@").find(cell[0]) != std::string_view::npos;
  const bool quote = cell.find_first_of(",\"\r\n") != std::string_view::npos;
  if (quote) row += '"';
  if (guard) row += '\'';
  for (char c : cell) {
    if (c == '"') row += '"';
    row += c;
  }
  if (quote) row += '"';
}

// Days since 1970-01-01 of a civil date (the proleptic Gregorian calendar).
long long daysFromCivil(long long year, unsigned month, unsigned day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

// Absolute, for a row read later from anywhere; a spectrum never read
// stays empty.
fs::path rowPath(const fs::path& path) { return path.empty() ? path : openedPath(path); }

// How a record's existing bytes end: whether they end a row, and whether
// they end inside a quoted cell, which a crash in the middle of a row
// leaves behind.
struct Tail {
  bool empty = true;
  bool endsRow = true;
  bool inQuotes = false;
  std::string head;  // the first bytes, as many as the header has
};

// What a record begins with: the byte-order mark and the header row.
std::string recordBeginning() {
  return std::string(kByteOrderMark) + std::string(kRecordHeader) + "\r\n";
}

Result<Tail> readTail(FileSystem& fileSystem, const fs::path& path) {
  Result<std::unique_ptr<ReadableFile>> in = fileSystem.openForReading(path, Sharing::Writers);
  if (!in.ok()) return in.error();
  Tail tail;
  char buffer[64 * 1024];
  for (;;) {
    Result<std::size_t> n = in.value()->read(buffer, sizeof buffer);
    if (!n.ok()) return n.error();
    if (n.value() == 0) return tail;
    tail.empty = false;
    const std::size_t headBytes = recordBeginning().size();
    if (tail.head.size() < headBytes)
      tail.head.append(buffer, std::min(n.value(), headBytes - tail.head.size()));
    for (std::size_t i = 0; i < n.value(); ++i) {
      if (buffer[i] == '"') tail.inQuotes = !tail.inQuotes;
    }
    tail.endsRow = buffer[n.value() - 1] == '\n';
  }
}

}  // namespace

std::string csvRow(const ChangeRow& row) {
  std::string text;
  // Escaped as pklfix-cli prints them, so the record stays UTF-8 text
  // whatever bytes a name or a line holds.
  auto lines = [](const std::vector<std::string>& lines) {
    std::vector<std::string> escaped;
    for (const std::string& line : lines) escaped.push_back(escapedText(line));
    return joinedText(escaped, " | ");
  };
  auto named = [](std::string_view text) { return escapedText(text, kPathBackslashes); };
  const std::string cells[] = {row.time,
                               named(row.user),
                               named(row.computer),
                               printedPath(row.resultFile),
                               printedPath(row.spectrumFile),
                               outcomeText(row.outcome),
                               lines(row.linesBefore),
                               lines(row.linesAfter),
                               row.sha256Before,
                               row.sha256After,
                               named(row.message),
                               row.run};
  for (const std::string& cell : cells) {
    if (&cell != cells) text += ',';
    appendCell(text, cell);
  }
  return text + "\r\n";
}

Result<bool> beginsAsRecord(FileSystem& fileSystem, const fs::path& path) {
  Result<std::unique_ptr<ReadableFile>> in = fileSystem.openForReading(path, Sharing::Writers);
  if (!in.ok()) return in.error();
  const std::string expected = recordBeginning();
  std::string begin(expected.size(), '\0');
  std::size_t got = 0;
  while (got < begin.size()) {
    Result<std::size_t> n = in.value()->read(begin.data() + got, begin.size() - got);
    if (!n.ok()) return n.error();
    if (n.value() == 0) break;
    got += n.value();
  }
  return got == expected.size() && begin == expected;
}

std::string newRunId() {
  // The time first, so a run's identifier sorts after those of the runs
  // before it; then 64 random bits, so two computers sharing a record in
  // the same millisecond still differ.
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  std::random_device random;
  char text[40];
  std::snprintf(text, sizeof text, "%012llx%08x%08x",
                static_cast<unsigned long long>(now) & 0xffffffffffffULL,
                static_cast<unsigned>(random()), static_cast<unsigned>(random()));
  return text;
}

std::string recordTime(std::time_t time) {
  const std::tm local = localTime(time);
  const long long asIfUtc =
      daysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                    static_cast<unsigned>(local.tm_mday)) *
          86400 +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  const long long offset = (asIfUtc - static_cast<long long>(time)) / 60;
  const long long minutes = offset < 0 ? -offset : offset;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02lld:%02lld",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return text;
}

std::string monthRecordName(std::time_t time) {
  const std::tm local = localTime(time);
  char text[64];
  std::snprintf(text, sizeof text, "record-%04d-%02d.csv", local.tm_year + 1900, local.tm_mon + 1);
  return text;
}

ChangeRecord::ChangeRecord(fs::path path, std::unique_ptr<WritableFile> file)
    : path_(std::move(path)),
      file_(std::move(file)),
      user_(loginName()),
      computer_(computerName()) {}

ChangeRecord::~ChangeRecord() {
  if (file_) (void)file_->close();
}

Result<std::unique_ptr<ChangeRecord>> ChangeRecord::open(FileSystem& fileSystem,
                                                         const fs::path& path) {
  const fs::path whole = openedPath(path);
  Result<std::unique_ptr<WritableFile>> file = fileSystem.openForAppending(whole);
  if (!file.ok()) return file.error();
  std::unique_ptr<ChangeRecord> record(new ChangeRecord(whole, std::move(file.value())));
  // Held from the look at the tail to the header written after it: two
  // runs creating the record at once would each find it empty and write
  // a header.
  if (Status s = record->file_->lock(); !s.ok()) return s.error();
  Result<Tail> tail = readTail(fileSystem, whole);
  if (!tail.ok()) return tail.error();
  const std::string beginning = recordBeginning();
  const std::string& head = tail.value().head;
  if (head.size() < beginning.size() && beginning.compare(0, head.size(), head) == 0) {
    // New, or a header a crash cut short: nothing but the header is there.
    record->held_ = beginning.substr(head.size());
  } else if (head != beginning) {
    // Rows under another's header, or under none, would be read wrong.
    record->file_->unlock();
    const std::string older =
        std::string(kByteOrderMark) + std::string(kOlderRecordHeader) + "\r\n";
    if (head.size() >= older.size() && head.compare(0, older.size(), older) == 0) {
      return Error{ErrorCode::OlderRecord,
                   pathText(whole) + " is a change record of an older form, without the run " +
                       "column: rows of today's form cannot be added to it"};
    }
    return Error{ErrorCode::InvalidArgument,
                 pathText(whole) + " is not a change record: it does not begin with its header"};
  } else {
    if (tail.value().inQuotes) record->held_ += '"';
    if (!tail.value().endsRow) record->held_ += "\r\n";
  }
  // Written now, so a record that cannot take a byte fails before any file
  // is touched. A new record's name is made durable too: rows on the disk
  // under a name a crash can take away would not be written ahead.
  Status written = record->writeHeld();
  record->file_->unlock();
  if (!written.ok()) return written.error();
  if (tail.value().empty) {
    if (Status s = fileSystem.syncFolder(whole.parent_path()); !s.ok()) return s.error();
  }
  return record;
}

void ChangeRecord::add(ChangeRow row) {
  row.time = recordTime(std::time(nullptr));
  row.user = user_;
  row.computer = computer_;
  row.resultFile = rowPath(row.resultFile);
  row.spectrumFile = rowPath(row.spectrumFile);
  held_ += csvRow(row);
}

Status ChangeRecord::flush() {
  if (error_) return *error_;
  if (held_.empty()) return {};
  // Held while the rows go in, so that a write taken back takes back
  // only this run's rows, never another run's after them.
  if (Status s = file_->lock(); !s.ok()) {
    error_ = Error{s.error().code, "the record cannot be written: " + s.error().message};
    return *error_;
  }
  Status written = writeHeld();
  file_->unlock();
  return written;
}

Status ChangeRecord::writeHeld() {
  if (error_) return *error_;
  if (held_.empty()) return {};
  Result<std::uint64_t> before = file_->size();
  Status written = before.ok() ? Status() : Status(before.error());
  if (written.ok()) written = file_->write(held_.data(), held_.size());
  if (written.ok()) written = file_->sync();
  held_.clear();
  if (!written.ok()) {
    // Back to the last whole row: a torn row would stay in the record for
    // good, and rows of changes that will now not happen would say they
    // did. The rows of a failed sync go too; they may never reach the disk.
    if (before.ok() && file_->truncate(before.value()).ok()) (void)file_->sync();
    error_ =
        Error{written.error().code, "the record cannot be written: " + written.error().message};
    return *error_;
  }
  return {};
}

}  // namespace pklfix
