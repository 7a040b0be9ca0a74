// The change record read back: arbitrary bytes given to the reader, and
// rows written from arbitrary names and lines read back as they were.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/escaped_text.h"
#include "engine/record/change_record.h"
#include "engine/record/record_reader.h"
#include "fuzz/fuzz_check.h"

namespace pklfix::fuzz {
namespace {

// Cells as the record quotes them: every cell quoted, quotes doubled.
std::string quotedRow(const std::vector<std::string>& cells) {
  std::string text;
  for (const std::string& cell : cells) {
    if (!text.empty()) text += ',';
    text += '"';
    for (char c : cell) text += c == '"' ? std::string("\"\"") : std::string(1, c);
    text += '"';
  }
  return text + "\r\n";
}

// Whatever rows the reader finds, written again with every cell quoted,
// read back the same.
void readsAnyBytes(std::string_view text) {
  Result<std::vector<std::vector<std::string>>> rows = parseRecord(text);
  if (!rows.ok()) return;
  std::string again;
  for (const std::vector<std::string>& row : rows.value()) again += quotedRow(row);
  Result<std::vector<std::vector<std::string>>> reread = parseRecord(again);
  FUZZ_CHECK(reread.ok());
  FUZZ_CHECK(reread.value() == rows.value());
}

// A row of a file with this name and this acquisition line gives both back,
// whatever bytes they hold: the put-back finds its files by these cells.
void rowsComeBack(std::string_view bytes) {
  const std::size_t split = bytes.find('\0');
  const std::string name(bytes.substr(0, split));
  const std::string line =
      "Acquisition Date : " +
      std::string(split == std::string_view::npos ? "" : bytes.substr(split + 1));
  ChangeRow row;
  row.time = "2026-12-10T05:00:00+00:00";
  row.resultFile = "/lab/" + name;
  row.linesBefore = {line};
  row.message = std::string(bytes);
  row.run = "0123abc";
  Result<std::vector<std::vector<std::string>>> rows = parseRecord(csvRow(row));
  FUZZ_CHECK(rows.ok());
  FUZZ_CHECK(rows.value().size() == 1 && rows.value()[0].size() == 12);
  const std::vector<std::string>& cells = rows.value()[0];
  FUZZ_CHECK(unescapedText(cells[3]) == "/lab/" + name);
  FUZZ_CHECK(unescapedText(cells[6]) == line);
  FUZZ_CHECK(cells[11] == row.run);
}

}  // namespace
}  // namespace pklfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  pklfix::fuzz::readsAnyBytes(bytes);
  pklfix::fuzz::rowsComeBack(bytes);
  return 0;
}
