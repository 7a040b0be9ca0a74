#include "engine/record/record_reader.h"

#include <algorithm>
#include <array>
#include <memory>

#include "engine/files/paths.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

Error malformed(std::size_t row, std::string_view why) {
  return Error{ErrorCode::InvalidArgument,
               "the record's row " + std::to_string(row) + " is not CSV: " + std::string(why)};
}

// The writer puts an apostrophe before a cell that a spreadsheet would
// take for a formula.
std::string unguarded(std::string cell) {
  if (cell.size() >= 2 && cell[0] == '\'' &&
      std::string_view("=+-@\t\r").find(cell[1]) != std::string_view::npos) {
    cell.erase(0, 1);
  }
  return cell;
}

}  // namespace

Result<std::vector<std::vector<std::string>>> parseRecord(std::string_view text) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row(1);
  enum class State { CellStart, Unquoted, Quoted, AfterQuote } state = State::CellStart;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const std::size_t number = rows.size() + 1;
    if (state == State::Quoted) {
      if (c != '"') {
        row.back() += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        row.back() += '"';
        ++i;
      } else {
        state = State::AfterQuote;
      }
      continue;
    }
    if (c == ',') {
      row.emplace_back();
      state = State::CellStart;
    } else if (c == '\r') {
      if (i + 1 >= text.size()) break;  // cut short
      if (text[i + 1] != '\n') return malformed(number, "a carriage return alone");
      rows.push_back(std::move(row));
      row.assign(1, "");
      state = State::CellStart;
      ++i;
    } else if (c == '\n') {
      return malformed(number, "a line feed alone");
    } else if (state == State::AfterQuote) {
      return malformed(number, "text after a closing quote");
    } else if (c == '"') {
      if (state != State::CellStart) return malformed(number, "a quote inside an unquoted cell");
      state = State::Quoted;
    } else {
      row.back() += c;
      state = State::Unquoted;
    }
  }
  return rows;
}

Result<std::vector<RecordRow>> readRecord(FileSystem& fileSystem, const fs::path& path) {
  Result<std::string> text = readWholeFile(fileSystem, path);
  if (!text.ok()) return text.error();
  Result<std::vector<std::vector<std::string>>> parsed = parseRecord(text.value());
  if (!parsed.ok()) {
    return Error{parsed.error().code, pathText(path) + ": " + parsed.error().message};
  }
  std::vector<std::vector<std::string>>& rows = parsed.value();
  static constexpr std::array<std::string_view, 10> kNeeded = {"result file",
                                                               "spectrum file",
                                                               "outcome",
                                                               "acquisition line before",
                                                               "acquisition line after",
                                                               "sha256 before",
                                                               "sha256 after",
                                                               "message",
                                                               "run",
                                                               "time"};
  std::array<std::size_t, kNeeded.size()> at{};
  for (std::size_t k = 0; k < kNeeded.size(); ++k) {
    const std::vector<std::string>& header = rows.empty() ? std::vector<std::string>() : rows[0];
    auto it = std::find(header.begin(), header.end(), kNeeded[k]);
    if (it == header.end()) {
      return Error{ErrorCode::BadHeader, pathText(path) + " has no \"" + std::string(kNeeded[k]) +
                                             "\" column: it was not written by runs that " +
                                             "can be put back"};
    }
    at[k] = static_cast<std::size_t>(it - header.begin());
  }
  std::vector<RecordRow> result;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    std::vector<std::string>& cells = rows[i];
    if (cells.size() != rows[0].size()) continue;
    RecordRow row;
    row.line = i + 1;
    row.resultFile = unguarded(std::move(cells[at[0]]));
    row.spectrumFile = unguarded(std::move(cells[at[1]]));
    row.outcome = std::move(cells[at[2]]);
    row.linesBefore = unguarded(std::move(cells[at[3]]));
    row.linesAfter = unguarded(std::move(cells[at[4]]));
    row.sha256Before = std::move(cells[at[5]]);
    row.sha256After = std::move(cells[at[6]]);
    row.message = unguarded(std::move(cells[at[7]]));
    row.run = std::move(cells[at[8]]);
    row.time = std::move(cells[at[9]]);
    result.push_back(std::move(row));
  }
  return result;
}

}  // namespace pklfix
