#include "engine/rewrite/line_rewriter.h"

#include <algorithm>
#include <cstring>

namespace pklfix {
namespace {

constexpr std::size_t kOutputBuffer = 64 * 1024;
// Unchanged input at least this long goes to the client as it stands, not
// through the output buffer: a CR LF file then costs no copy at all.
constexpr std::size_t kDirectSpan = kOutputBuffer / 2;

// Finds the next CR or LF. Each kind's next position is remembered until it
// is passed, so a file that uses only one kind of line end is not rescanned
// for the other kind at every line.
class LineEndFinder {
 public:
  explicit LineEndFinder(std::string_view text) : text_(text) {}

  std::size_t find(std::size_t from) {
    if (!known_ || cr_ < from) cr_ = scan('\r', from);
    if (!known_ || lf_ < from) lf_ = scan('\n', from);
    known_ = true;
    return std::min(cr_, lf_);
  }

 private:
  std::size_t scan(char c, std::size_t from) const {
    const void* hit = std::memchr(text_.data() + from, c, text_.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data())
               : text_.size();
  }

  std::string_view text_;
  std::size_t cr_ = 0;
  std::size_t lf_ = 0;
  bool known_ = false;
};

}  // namespace

Status LineRewriter::emit(std::string_view bytes) {
  out_.append(bytes);
  if (out_.size() < kOutputBuffer) return {};
  return flushOutput();
}

Status LineRewriter::flushOutput() {
  if (out_.empty()) return {};
  Status status = client_.write(out_);
  out_.clear();
  return status;
}

Status LineRewriter::emitLineEnd(std::string_view bytes) {
  markChanged();
  return emit(bytes);
}

void LineRewriter::markChanged() {
  if (changed_) return;
  changed_ = true;
  client_.changed();
}

void LineRewriter::discard(std::string_view bytes) {
  if (bytes.empty()) return;
  client_.replaced(bytes);
  if (changed_) return;
  if (bytes.size() > stamp_.size() - stampSeen_ ||
      stamp_.compare(stampSeen_, bytes.size(), bytes) != 0) {
    markChanged();
  }
  stampSeen_ += bytes.size();
}

void LineRewriter::endDiscard() {
  if (stampSeen_ != stamp_.size()) markChanged();
}

Status LineRewriter::emitUnchanged(std::string_view bytes) {
  if (bytes.size() < kDirectSpan) return emit(bytes);
  if (Status s = flushOutput(); !s.ok()) return s;
  return client_.write(bytes);
}

// Everything the output shares with the input is handed on as spans of the
// chunk; only a stamp and the line ends a line lacks are added, and only the
// rest of an acquisition line is left out.
Status LineRewriter::feed(std::string_view chunk) {
  if (chunk.empty()) return {};
  Cursor c{chunk};
  if (afterCr_) {
    if (Status s = completeCr(c); !s.ok()) return s;
  }
  LineEndFinder finder(chunk);
  while (c.at < chunk.size()) {
    if (state_ == State::LineStart) {
      Result<bool> lineGoesOn = matchPrefix(c);
      if (!lineGoesOn.ok()) return lineGoesOn.error();
      if (!lineGoesOn.value()) break;
    }
    const std::size_t end = finder.find(c.at);
    if (state_ == State::Discard) {
      discard(chunk.substr(c.at, end - c.at));
      c.spanStart = end;
    }
    c.at = end;
    if (c.at == chunk.size()) break;
    if (state_ == State::Discard) endDiscard();
    if (Status s = endLine(c); !s.ok()) return s;
  }
  if (state_ == State::Discard) return {};
  return flushSpan(c, chunk.size());
}

// The last chunk ended in a CR, already passed on: an LF here completes it,
// anything else means it ended its line alone.
Status LineRewriter::completeCr(Cursor& c) {
  afterCr_ = false;
  if (c.chunk[0] != '\n') return emitLineEnd("\n");
  c.at = 1;
  return {};
}

// At a line's start, matches what the chunk holds of the prefix. A whole
// prefix starts the stamp; a mismatch lets the line pass through. False
// when the chunk ends inside the prefix, which may go on in the next one.
Result<bool> LineRewriter::matchPrefix(Cursor& c) {
  while (c.at < c.chunk.size() && matched_ < AcquisitionPrefix.size() &&
         c.chunk[c.at] == AcquisitionPrefix[matched_]) {
    ++c.at;
    ++matched_;
  }
  if (matched_ == AcquisitionPrefix.size()) {
    if (Status s = startStamp(c); !s.ok()) return s.error();
    return true;
  }
  if (c.at == c.chunk.size()) return false;
  state_ = State::PassThrough;
  return true;
}

// The prefix passes through unchanged; the stamp replaces what follows it.
Status LineRewriter::startStamp(Cursor& c) {
  if (Status s = flushSpan(c, c.at); !s.ok()) return s;
  Result<std::string> stamp = client_.stamp();
  if (!stamp.ok()) return stamp.error();
  stamp_ = std::move(stamp.value());
  stampSeen_ = 0;
  if (Status s = emit(stamp_); !s.ok()) return s;
  state_ = State::Discard;
  matched_ = 0;
  return {};
}

// Passes the line end at the cursor on as CR LF and starts the next line. A
// CR that ends the chunk waits for the next chunk to tell whether an LF
// follows.
Status LineRewriter::endLine(Cursor& c) {
  const std::string_view chunk = c.chunk;
  std::size_t& i = c.at;
  if (chunk[i] == '\n') {
    // A lone LF (the LF of a CR LF is taken with its CR below).
    if (Status s = flushSpan(c, i); !s.ok()) return s;
    if (Status s = emitLineEnd("\r"); !s.ok()) return s;
    ++i;
  } else if (i + 1 == chunk.size()) {
    ++i;
    afterCr_ = true;
  } else if (chunk[i + 1] == '\n') {
    i += 2;
  } else {
    // A lone CR.
    if (Status s = flushSpan(c, i + 1); !s.ok()) return s;
    if (Status s = emitLineEnd("\n"); !s.ok()) return s;
    ++i;
  }
  state_ = State::LineStart;
  matched_ = 0;
  return {};
}

Status LineRewriter::flushSpan(Cursor& c, std::size_t end) {
  Status s =
      end > c.spanStart ? emitUnchanged(c.chunk.substr(c.spanStart, end - c.spanStart)) : Status();
  c.spanStart = end;
  return s;
}

Status LineRewriter::finish() {
  // A last line without its line end still gets one; a CR at the very end
  // still needs its LF.
  if (state_ == State::Discard) endDiscard();
  if (afterCr_) {
    if (Status s = emitLineEnd("\n"); !s.ok()) return s;
  } else if (state_ != State::LineStart || matched_ > 0) {
    if (Status s = emitLineEnd("\r\n"); !s.ok()) return s;
  }
  afterCr_ = false;
  state_ = State::LineStart;
  matched_ = 0;
  return flushOutput();
}

}  // namespace pklfix
