#ifndef ENGINE_REWRITE_ACQUISITION_LINES_H_
#define ENGINE_REWRITE_ACQUISITION_LINES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pklfix {

// At most this many acquisition lines of a file are kept, and by default at
// most this many bytes of each line it replaced: enough for any real result file,
// while a file of a million such lines, or one line of 100 MB, still costs a
// run no more memory than any other file.
inline constexpr std::size_t kMaxKeptLines = 64;
inline constexpr std::size_t kMaxKeptLineBytes = 1024;

// The acquisition lines of one file as they became and as they were, in
// file order, filled in as the file streams past.
class AcquisitionLines {
 public:
  // Each replaced line is kept whole up to `maxLineBytes`.
  explicit AcquisitionLines(std::size_t maxLineBytes = kMaxKeptLineBytes)
      : maxLineBytes_(maxLineBytes) {}

  // The next acquisition line: `prefix` + `stamp` replaces a line that
  // begins with `prefix`; the rest of that line follows through replaced().
  void begin(std::string_view prefix, std::string_view stamp);
  // More of the line being replaced.
  void replaced(std::string_view bytes);
  // After the file's last line: marks the last replaced line if it was cut.
  void end();

  // The first kMaxKeptLines lines as written, and the lines they
  // replaced in the same order, whole up to `maxLineBytes`; a
  // longer one is cut and ends in "[... N bytes]", N being its whole length.
  const std::vector<std::string>& lines() const { return lines_; }
  const std::vector<std::string>& oldLines() const { return oldLines_; }
  // Replaced line `i` cut as oldLines() cuts, at `maxBytes` (at most
  // `maxLineBytes`) instead.
  std::string oldLine(std::size_t i, std::size_t maxBytes) const;
  // Every acquisition line of the file, kept or not.
  std::size_t count() const { return count_; }

 private:
  std::vector<std::string> lines_;
  std::vector<std::string> oldLines_;
  std::vector<std::uintmax_t> oldSizes_;  // the whole length of each
  std::size_t maxLineBytes_;
  std::size_t count_ = 0;
  bool keeping_ = false;
  std::uintmax_t oldBytes_ = 0;  // of the replaced line being kept
};

}  // namespace pklfix

#endif  // ENGINE_REWRITE_ACQUISITION_LINES_H_
