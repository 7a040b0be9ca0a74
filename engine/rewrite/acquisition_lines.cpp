#include "engine/rewrite/acquisition_lines.h"

#include "engine/base/escaped_text.h"

namespace pklfix {
namespace {

std::string cutMark(std::uintmax_t size) { return " [... " + std::to_string(size) + " bytes]"; }

}  // namespace

void AcquisitionLines::begin(std::string_view prefix, std::string_view stamp) {
  end();
  ++count_;
  keeping_ = lines_.size() < kMaxKeptLines;
  if (!keeping_) return;
  lines_.push_back(std::string(prefix) + std::string(stamp));
  oldLines_.emplace_back(prefix.substr(0, maxLineBytes_ + 1));
  oldBytes_ = prefix.size();
}

void AcquisitionLines::replaced(std::string_view bytes) {
  if (!keeping_) return;
  std::string& old = oldLines_.back();
  // One byte past the limit, to tell whether the cut splits a character.
  if (old.size() <= maxLineBytes_) old.append(bytes.substr(0, maxLineBytes_ + 1 - old.size()));
  oldBytes_ += bytes.size();
}

void AcquisitionLines::end() {
  if (!keeping_) return;
  keeping_ = false;
  oldSizes_.push_back(oldBytes_);
  std::string& old = oldLines_.back();
  if (oldBytes_ > maxLineBytes_) {
    old.resize(cutAtCharacter(old, maxLineBytes_));
    old += cutMark(oldBytes_);
  }
}

std::string AcquisitionLines::oldLine(std::size_t i, std::size_t maxBytes) const {
  if (oldSizes_[i] <= maxBytes) return oldLines_[i];
  return oldLines_[i].substr(0, cutAtCharacter(oldLines_[i], maxBytes)) + cutMark(oldSizes_[i]);
}

}  // namespace pklfix
