// The streaming line rewriter on arbitrary result-file bytes, fed in chunks
// whose sizes come from the input, must write exactly what a plain rewrite
// of the whole file gives, hand over exactly the bytes the acquisition lines
// lose, and say it changed the text exactly when its output differs from
// the input. When its client fails a write or a stamp, the
// rewriter must pass the error on, stop writing, and have written only a
// beginning of that same output.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/rewrite/line_rewriter.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/reference_rewrite.h"

namespace pklfix::fuzz {
namespace {

class RecordingClient final : public LineRewriter::Client {
 public:
  RecordingClient(std::string stamp, std::size_t failingWrite, std::size_t failingStamp)
      : stamp_(std::move(stamp)), failingWrite_(failingWrite), failingStamp_(failingStamp) {}

  Result<std::string> stamp() override {
    FUZZ_CHECK(!failed_);
    if (++stamps_ == failingStamp_) return fail();
    return stamp_ + std::to_string(stamps_);
  }
  Status write(std::string_view bytes) override {
    FUZZ_CHECK(!failed_);
    if (++writes_ == failingWrite_) return fail();
    output_.append(bytes);
    return {};
  }
  void replaced(std::string_view bytes) override {
    FUZZ_CHECK(!bytes.empty());
    replaced_.append(bytes);
  }
  void changed() override { ++changed_; }

  const std::string& output() const { return output_; }
  const std::string& replacedBytes() const { return replaced_; }
  int changedCalls() const { return changed_; }
  bool failed() const { return failed_; }

 private:
  Error fail() {
    failed_ = true;
    return Error{ErrorCode::Io, "injected"};
  }

  std::string stamp_;
  std::size_t failingWrite_;
  std::size_t failingStamp_;
  std::size_t writes_ = 0;
  std::size_t stamps_ = 0;
  bool failed_ = false;
  std::string output_;
  std::string replaced_;
  int changed_ = 0;
};

// What follows the prefix on each acquisition line, all run together.
std::string discardedBytes(std::string_view text) {
  constexpr std::string_view kPrefix = "Acquisition Date : ";
  std::string discarded;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    std::string_view line = text.substr(start, end - start);
    if (line.substr(0, kPrefix.size()) == kPrefix) discarded += line.substr(kPrefix.size());
    bool crLf = end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n';
    start = end + (crLf ? 2 : 1);
  }
  return discarded;
}

}  // namespace
}  // namespace pklfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pklfix;
  FuzzedDataProvider input(data, size);
  std::vector<std::size_t> chunks(input.ConsumeIntegralInRange<std::size_t>(0, 8));
  for (std::size_t& chunk : chunks) chunk = input.ConsumeIntegralInRange<std::size_t>(0, 300);
  // Repeating the text lets short inputs fill the rewriter's output buffer.
  const int repeat = input.ConsumeIntegralInRange<int>(1, 40);
  const std::size_t failingWrite = input.ConsumeIntegralInRange<std::size_t>(0, 4);
  const std::size_t failingStamp = input.ConsumeIntegralInRange<std::size_t>(0, 4);
  const std::string stamp = input.ConsumeRandomLengthString(24);
  const std::string piece = input.ConsumeRemainingBytesAsString();
  std::string text;
  for (int i = 0; i < repeat; ++i) text += piece;

  fuzz::RecordingClient client(stamp, failingWrite, failingStamp);
  LineRewriter rewriter(client);
  Status status;
  std::size_t at = 0;
  for (std::size_t i = 0; status.ok() && at < text.size(); ++i) {
    std::size_t length = chunks.empty() ? text.size() : chunks[i % chunks.size()];
    if (length == 0) {
      // An empty chunk must change nothing; the next byte goes on alone.
      status = rewriter.feed({});
      if (!status.ok()) break;
      length = 1;
    }
    std::string_view chunk = std::string_view(text).substr(at, length);
    status = rewriter.feed(chunk);
    at += chunk.size();
  }
  if (status.ok()) status = rewriter.finish();

  std::size_t stamps = 0;
  const std::string expected =
      testing::referenceRewrite(text, [&] { return stamp + std::to_string(++stamps); });
  FUZZ_CHECK(status.ok() == !client.failed());
  FUZZ_CHECK(client.changedCalls() <= 1);
  if (status.ok()) {
    FUZZ_CHECK(client.output() == expected);
    FUZZ_CHECK(client.replacedBytes() == fuzz::discardedBytes(text));
    FUZZ_CHECK(client.changedCalls() == (expected != text ? 1 : 0));
  } else {
    FUZZ_CHECK(status.error().message == "injected");
    FUZZ_CHECK(expected.compare(0, client.output().size(), client.output()) == 0);
  }
  return 0;
}
