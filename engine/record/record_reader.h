#ifndef ENGINE_RECORD_RECORD_READER_H_
#define ENGINE_RECORD_RECORD_READER_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/file_system.h"

namespace pklfix {

// The rows of a CSV text as the change record writes it (RFC 4180, UTF-8,
// an optional byte-order mark, every row ended by CR LF), each split into
// its cells, quotes undone. Strict: a quote inside an unquoted cell, a
// character after a closing quote other than a comma or the row's end, or
// a line end other than CR LF outside quotes, is an error that names its
// row. A last row without its CR LF, which a crash may leave, is left out.
Result<std::vector<std::vector<std::string>>> parseRecord(std::string_view text);

// A record's row, its cells found by the header's names. Cells the
// writer guarded against spreadsheet formulas get their apostrophe back
// off.
struct RecordRow {
  std::size_t line = 0;  // the row's number in the record, the header's 1
  std::string time;
  std::string resultFile;
  std::string spectrumFile;
  std::string outcome;
  std::string linesBefore;
  std::string linesAfter;
  std::string sha256Before;
  std::string sha256After;
  std::string message;
  std::string run;
};

// The rows of the record file `path`, read while others may append to it.
// A record whose header lacks a column a row needs here (one written
// before rows knew their run) is an error; rows whose cell count is not
// the header's (one a crash cut short and a later run ended) are left out.
Result<std::vector<RecordRow>> readRecord(FileSystem& fileSystem,
                                          const std::filesystem::path& path);

}  // namespace pklfix

#endif  // ENGINE_RECORD_RECORD_READER_H_
