#include "engine/rewrite/acquisition_lines.h"

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
  oldLines_.emplace_back(prefix.substr(0, maxLineBytes_));
  oldBytes_ = prefix.size();
}

void AcquisitionLines::replaced(std::string_view bytes) {
  if (!keeping_) return;
  std::string& old = oldLines_.back();
  if (old.size() < maxLineBytes_) old.append(bytes.substr(0, maxLineBytes_ - old.size()));
  oldBytes_ += bytes.size();
}

void AcquisitionLines::end() {
  if (!keeping_) return;
  keeping_ = false;
  oldSizes_.push_back(oldBytes_);
  if (oldBytes_ > maxLineBytes_) oldLines_.back() += cutMark(oldBytes_);
}

std::string AcquisitionLines::oldLine(std::size_t i, std::size_t maxBytes) const {
  if (oldSizes_[i] <= maxBytes) return oldLines_[i];
  return oldLines_[i].substr(0, maxBytes) + cutMark(oldSizes_[i]);
}

}  // namespace pklfix
