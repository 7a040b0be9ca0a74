#include "engine/line_rewriter.h"

namespace pklfix {
namespace {

constexpr std::size_t kOutputBuffer = 64 * 1024;

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

std::size_t findLineEnd(std::string_view text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (isLineEnd(text[i])) return i;
  }
  return text.size();
}

}  // namespace

Status LineRewriter::emit(std::string_view bytes) {
  out_.append(bytes);
  if (out_.size() < kOutputBuffer) return {};
  Status status = client_.write(out_);
  out_.clear();
  return status;
}

Status LineRewriter::endLine() {
  state_ = State::LineStart;
  matched_ = 0;
  return emit("\r\n");
}

Status LineRewriter::feed(std::string_view chunk) {
  std::size_t i = 0;
  while (i < chunk.size()) {
    char c = chunk[i];
    if (afterCr_) {
      afterCr_ = false;
      if (c == '\n') {
        ++i;
        continue;
      }
    }
    if (isLineEnd(c)) {
      if (state_ == State::LineStart) {
        if (Status s = emit(AcquisitionPrefix.substr(0, matched_)); !s.ok()) return s;
      }
      if (Status s = endLine(); !s.ok()) return s;
      afterCr_ = c == '\r';
      ++i;
      continue;
    }
    switch (state_) {
      case State::LineStart:
        if (c != AcquisitionPrefix[matched_]) {
          // Not an acquisition line: give back what looked like the prefix.
          if (Status s = emit(AcquisitionPrefix.substr(0, matched_)); !s.ok()) return s;
          state_ = State::PassThrough;
          break;
        }
        ++i;
        if (++matched_ == AcquisitionPrefix.size()) {
          Result<std::string> stamp = client_.stamp();
          if (!stamp.ok()) return stamp.error();
          if (Status s = emit(AcquisitionPrefix); !s.ok()) return s;
          if (Status s = emit(stamp.value()); !s.ok()) return s;
          state_ = State::Discard;
        }
        break;
      case State::PassThrough: {
        std::size_t end = findLineEnd(chunk, i);
        if (Status s = emit(chunk.substr(i, end - i)); !s.ok()) return s;
        i = end;
        break;
      }
      case State::Discard:
        i = findLineEnd(chunk, i);
        break;
    }
  }
  return {};
}

Status LineRewriter::finish() {
  // A last line without its line end still gets one.
  bool midLine = state_ != State::LineStart || matched_ > 0;
  if (midLine) {
    if (state_ == State::LineStart) {
      if (Status s = emit(AcquisitionPrefix.substr(0, matched_)); !s.ok()) return s;
    }
    if (Status s = endLine(); !s.ok()) return s;
  }
  afterCr_ = false;
  Status status = out_.empty() ? Status() : client_.write(out_);
  out_.clear();
  return status;
}

}  // namespace pklfix
