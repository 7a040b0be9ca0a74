#include "engine/rewrite/file_comparison.h"

#include <algorithm>
#include <cstring>

namespace pklfix {

FileComparison::FileComparison(std::unique_ptr<ReadableFile> file, bool digest)
    : file_(std::move(file)), state_(file_ ? State::Matching : State::Differs) {
  if (digest) digest_.emplace();
}

Status FileComparison::feed(std::string_view bytes, std::span<char> scratch) {
  while (state_ == State::Matching && !bytes.empty()) {
    Result<std::size_t> n = file_->read(scratch.data(), std::min(bytes.size(), scratch.size()));
    if (!n.ok()) return n.error();
    if (n.value() == 0) {
      settle(State::Shorter);
    } else if (std::memcmp(scratch.data(), bytes.data(), n.value()) != 0) {
      settle(State::Differs);
    } else {
      if (digest_) digest_->update(bytes.substr(0, n.value()));
      bytes.remove_prefix(n.value());
    }
  }
  return {};
}

Status FileComparison::finish(std::span<char> scratch) {
  if (state_ != State::Matching) return {};
  Result<std::size_t> n = file_->read(scratch.data(), 1);
  if (!n.ok()) return n.error();
  settle(n.value() == 0 ? State::Same : State::Differs);
  return {};
}

void FileComparison::settle(State state) {
  state_ = state;
  file_.reset();  // Windows renames and removes no file that is open.
}

}  // namespace pklfix
