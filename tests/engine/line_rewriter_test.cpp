#include "engine/line_rewriter.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace pklfix {
namespace {

class RecordingClient final : public LineRewriter::Client {
 public:
  Result<std::string> stamp() override {
    ++stamps;
    if (failStamp) return Error{ErrorCode::NotFound, "no spectrum"};
    return std::string("STAMP");
  }
  Status write(std::string_view bytes) override {
    output.append(bytes);
    return {};
  }

  std::string output;
  int stamps = 0;
  bool failStamp = false;
};

// Feeds `input` in pieces of `piece` bytes (0: all at once).
std::string rewrite(std::string_view input, std::size_t piece, int* stamps = nullptr) {
  RecordingClient client;
  LineRewriter rewriter(client);
  std::size_t step = piece == 0 ? std::max<std::size_t>(input.size(), 1) : piece;
  for (std::size_t at = 0; at < input.size(); at += step) {
    EXPECT_TRUE(rewriter.feed(input.substr(at, step)).ok());
  }
  EXPECT_TRUE(rewriter.finish().ok());
  if (stamps) *stamps = client.stamps;
  return client.output;
}

struct Case {
  const char* label;
  std::string_view input;
  std::string_view expected;
  int stamps;
};

const Case kCases[] = {
    {"empty file", "", "", 0},
    {"plain lines", "a\r\nb\r\n", "a\r\nb\r\n", 0},
    {"missing last line end", "a\r\nb", "a\r\nb\r\n", 0},
    {"lone LF", "a\nb\n", "a\r\nb\r\n", 0},
    {"lone CR", "a\rb\r", "a\r\nb\r\n", 0},
    {"CR CR LF is two lines", "a\r\r\nb", "a\r\n\r\nb\r\n", 0},
    {"LF CR is two line ends", "a\n\rb", "a\r\n\r\nb\r\n", 0},
    {"empty lines", "\r\n\n\r", "\r\n\r\n\r\n", 0},
    {"end-of-file mark is data",
     "a\x1a"
     "b\r\nc",
     "a\x1a"
     "b\r\nc\r\n",
     0},
    {"zero bytes are data", std::string_view("a\0b\r\n", 5), std::string_view("a\0b\r\n", 5), 0},
    {"acquisition line", "x\r\nAcquisition Date : 01-01-1900 00:00:00\r\ny\r\n",
     "x\r\nAcquisition Date : STAMP\r\ny\r\n", 1},
    {"acquisition line first and last, no line end", "Acquisition Date : old",
     "Acquisition Date : STAMP\r\n", 1},
    {"exactly the prefix", "Acquisition Date : \r\n", "Acquisition Date : STAMP\r\n", 1},
    {"exactly the prefix at the end", "Acquisition Date : ", "Acquisition Date : STAMP\r\n", 1},
    {"two acquisition lines", "Acquisition Date : a\nAcquisition Date : b\n",
     "Acquisition Date : STAMP\r\nAcquisition Date : STAMP\r\n", 2},
    {"prefix without its blank", "Acquisition Date :\r\n", "Acquisition Date :\r\n", 0},
    {"prefix without its blank at the end", "Acquisition Date :", "Acquisition Date :\r\n", 0},
    {"prefix in other case", "acquisition date : x\r\n", "acquisition date : x\r\n", 0},
    {"prefix not at the start", " Acquisition Date : x\r\n", " Acquisition Date : x\r\n", 0},
    {"near miss then a line", "Acquisition Data : x\r\nAcq\r\n", "Acquisition Data : x\r\nAcq\r\n",
     0},
    {"prefix broken by a line end", "Acquisition\r\nDate : x", "Acquisition\r\nDate : x\r\n", 0},
    {"tab instead of blank", "Acquisition Date :\tx", "Acquisition Date :\tx\r\n", 0},
};

TEST(LineRewriterTest, RewritesLinesAndLineEnds) {
  for (const Case& c : kCases) {
    int stamps = 0;
    EXPECT_EQ(rewrite(c.input, 0, &stamps), c.expected) << c.label;
    EXPECT_EQ(stamps, c.stamps) << c.label;
  }
}

// A CR at the end of one read and its LF at the start of the next once came
// out as two line ends; every split of every case must give the same bytes.
TEST(LineRewriterTest, OutputDoesNotDependOnHowTheInputIsSplit) {
  for (const Case& c : kCases) {
    for (std::size_t piece = 1; piece <= c.input.size(); ++piece) {
      EXPECT_EQ(rewrite(c.input, piece), c.expected) << c.label << ", pieces of " << piece;
    }
  }
}

TEST(LineRewriterTest, LongLinesPassThroughWhole) {
  std::string longLine(200000, 'x');
  std::string input = longLine + "\nAcquisition Date : " + longLine;
  std::string expected = longLine + "\r\nAcquisition Date : STAMP\r\n";
  EXPECT_EQ(rewrite(input, 0), expected);
  EXPECT_EQ(rewrite(input, 4096), expected);
}

TEST(LineRewriterTest, StampFailureStopsTheRewrite) {
  RecordingClient client;
  client.failStamp = true;
  LineRewriter rewriter(client);
  Status status = rewriter.feed("a\r\nAcquisition Date : x\r\nb\r\n");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "no spectrum");
}

}  // namespace
}  // namespace pklfix
