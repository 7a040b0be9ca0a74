#ifndef ENGINE_REWRITE_FILE_COMPARISON_H_
#define ENGINE_REWRITE_FILE_COMPARISON_H_

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/files/file_system.h"
#include "engine/record/sha256.h"
#include "engine/base/status.h"

namespace pklfix {

// A file read alongside a stream of bytes, to learn whether its bytes are a
// beginning of the stream, or all of it. States: matching (every byte so far
// equal), shorter (it ended while the stream went on), same (it ended with
// the stream), differs. The file is closed as soon as the answer is known.
class FileComparison {
 public:
  // A file that could not be opened (null) is taken to differ. With
  // `digest`, the bytes read are digested too.
  explicit FileComparison(std::unique_ptr<ReadableFile> file, bool digest = false);

  // Compares the next bytes of the stream, reading into `scratch`, which
  // several comparisons may share.
  Status feed(std::string_view bytes, std::span<char> scratch);
  // After the stream's last byte: a file with more bytes differs.
  Status finish(std::span<char> scratch);
  void giveUp() { settle(State::Differs); }

  bool beginning() const { return state_ == State::Shorter || state_ == State::Same; }
  // The SHA-256 of the file, once beginning() holds: every byte of it was
  // read then. Asked once.
  std::string digest() { return digest_ ? digest_->finish() : std::string(); }

 private:
  enum class State { Matching, Shorter, Same, Differs };
  void settle(State state);

  std::unique_ptr<ReadableFile> file_;
  State state_;
  std::optional<Sha256> digest_;
};

}  // namespace pklfix

#endif  // ENGINE_REWRITE_FILE_COMPARISON_H_
