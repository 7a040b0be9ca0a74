#ifndef ENGINE_REWRITE_LINE_REWRITER_H_
#define ENGINE_REWRITE_LINE_REWRITER_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/base/status.h"

namespace pklfix {

// The text that marks a result file's acquisition line: the words, one
// blank, the colon, one blank. Compared case-sensitively.
inline constexpr std::string_view AcquisitionPrefix = "Acquisition Date : ";

// Rewrites a result file as it streams past, in chunks of any size, holding
// at most one output buffer. CR LF, a lone LF and a lone CR each end a line;
// every line comes out ended by CR LF, the last one included. Each line that
// starts with AcquisitionPrefix becomes the prefix followed by a fresh stamp;
// every other byte passes through unchanged.
class LineRewriter {
 public:
  class Client {
   public:
    virtual ~Client() = default;
    // The stamp for the acquisition line just met; asked once per line.
    virtual Result<std::string> stamp() = 0;
    // Takes the next piece of output.
    virtual Status write(std::string_view bytes) = 0;
    // Hears the bytes an acquisition line loses: what followed the prefix,
    // up to the line end, in pieces, after the stamp() that replaces them.
    virtual void replaced(std::string_view bytes) { (void)bytes; }
    // Called once, as soon as the output is known to differ from the input
    // (a stamp that is not what its line held, a line end that is not
    // CR LF); output already handed over may hold the difference, or it
    // may still follow.
    virtual void changed() {}
  };

  explicit LineRewriter(Client& client) : client_(client) {}

  Status feed(std::string_view chunk);
  // Ends the last line and hands over everything still buffered.
  Status finish();

 private:
  enum class State { LineStart, PassThrough, Discard };
  // Where feed() is in its chunk: the next byte to look at, and where the
  // unchanged input not yet handed on starts.
  struct Cursor {
    std::string_view chunk;
    std::size_t at = 0;
    std::size_t spanStart = 0;
  };

  // The pieces of feed(), each moving the cursor on.
  Status completeCr(Cursor& c);
  Result<bool> matchPrefix(Cursor& c);
  Status startStamp(Cursor& c);
  Status endLine(Cursor& c);
  // Hands on the unchanged input up to `end`.
  Status flushSpan(Cursor& c, std::size_t end);

  Status emit(std::string_view bytes);
  // Adds a line end the input lacks.
  Status emitLineEnd(std::string_view bytes);
  Status emitUnchanged(std::string_view bytes);
  Status flushOutput();
  // Holds what an acquisition line loses against the stamp that replaces it.
  void discard(std::string_view bytes);
  void endDiscard();
  void markChanged();

  Client& client_;
  State state_ = State::LineStart;
  std::size_t matched_ = 0;  // bytes of the prefix matched at the start of the line
  bool afterCr_ = false;     // the last chunk ended in a CR, so an LF now belongs to it
  bool changed_ = false;
  std::string stamp_;          // of the acquisition line being discarded
  std::size_t stampSeen_ = 0;  // bytes of stamp_ its discarded bytes matched so far
  std::string out_;
};

}  // namespace pklfix

#endif  // ENGINE_REWRITE_LINE_REWRITER_H_
