#include "engine/line_record.h"

namespace pklfix {

void LineRecord::begin(std::string_view prefix, std::string_view stamp) {
  end();
  ++count_;
  recording_ = lines_.size() < kMaxRecordedLines;
  if (!recording_) return;
  lines_.push_back(std::string(prefix) + std::string(stamp));
  oldLines_.emplace_back(prefix);
  oldBytes_ = prefix.size();
}

void LineRecord::replaced(std::string_view bytes) {
  if (!recording_) return;
  std::string& old = oldLines_.back();
  if (old.size() < kMaxRecordedLineBytes) {
    old.append(bytes.substr(0, kMaxRecordedLineBytes - old.size()));
  }
  oldBytes_ += bytes.size();
}

void LineRecord::end() {
  if (!recording_) return;
  recording_ = false;
  if (oldBytes_ > kMaxRecordedLineBytes) {
    oldLines_.back() += " [... " + std::to_string(oldBytes_) + " bytes]";
  }
}

}  // namespace pklfix
