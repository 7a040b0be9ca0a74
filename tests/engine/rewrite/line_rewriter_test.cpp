#include "engine/rewrite/line_rewriter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

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
  void changed() override { ++changes; }

  std::string output;
  int stamps = 0;
  int changes = 0;
  bool failStamp = false;
};

// Feeds `input` in pieces of `piece` bytes (0: all at once). The rewriter
// must say, once, that it changed the text exactly when it did: a file it
// leaves as it was is not rewritten.
std::string rewrite(std::string_view input, std::size_t piece, int* stamps = nullptr) {
  RecordingClient client;
  LineRewriter rewriter(client);
  std::size_t step = piece == 0 ? std::max<std::size_t>(input.size(), 1) : piece;
  for (std::size_t at = 0; at < input.size(); at += step) {
    EXPECT_TRUE(rewriter.feed(input.substr(at, step)).ok());
  }
  EXPECT_TRUE(rewriter.finish().ok());
  EXPECT_EQ(client.changes, client.output == input ? 0 : 1) << "changed() for pieces of " << piece;
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
    {"already stamped", "Acquisition Date : STAMP\r\n", "Acquisition Date : STAMP\r\n", 1},
    {"stamped, and more", "Acquisition Date : STAMPS\r\n", "Acquisition Date : STAMP\r\n", 1},
    {"stamped in part", "Acquisition Date : STAM\r\n", "Acquisition Date : STAMP\r\n", 1},
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

// The plain reading of the rules: split into lines at CR LF, LF or CR,
// replace each acquisition line, end every line with CR LF.
std::string referenceRewrite(std::string_view input, int& stamps) {
  std::string out;
  std::size_t i = 0;
  while (i < input.size()) {
    std::size_t end = std::min(input.find_first_of("\r\n", i), input.size());
    std::string_view line = input.substr(i, end - i);
    if (line.substr(0, AcquisitionPrefix.size()) == AcquisitionPrefix) {
      out += std::string(AcquisitionPrefix) + "STAMP";
      ++stamps;
    } else {
      out += line;
    }
    out += "\r\n";
    if (end == input.size()) break;
    i = end + (input.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return out;
}

// The rewriter hands long unchanged stretches to the client without copying
// and keeps its place across chunks; random texts in random splits, long
// stretches included, must still come out as the plain reading says.
TEST(LineRewriterTest, AgreesWithThePlainReadingOnRandomTexts) {
  const std::string pieces[] = {std::string(AcquisitionPrefix),
                                "Acquisition Date :",
                                "Acq",
                                "x",
                                "yz",
                                "\r",
                                "\n",
                                "\r\n",
                                "STAMP",
                                std::string(40000, 'p')};
  const std::string& longStretch = pieces[std::size(pieces) - 1];
  const std::size_t splits[] = {1, 2, 7, 19, 4096, 65536, 0};
  std::mt19937 random(4);
  for (int round = 0; round < 400; ++round) {
    std::string input;
    std::size_t count = random() % 30;
    for (std::size_t k = 0; k < count; ++k) {
      // The long stretch is rare, so most texts stay small enough for
      // one-byte splits.
      std::size_t pick = random() % (std::size(pieces) * 4);
      input += pick < std::size(pieces) - 1 ? pieces[pick] : pick % 9 == 0 ? longStretch : "z";
    }
    int expectedStamps = 0;
    std::string expected = referenceRewrite(input, expectedStamps);
    std::size_t split = splits[random() % std::size(splits)];
    if (split < 19 && input.size() > 5000) split = 4096;
    int stamps = 0;
    ASSERT_EQ(rewrite(input, split, &stamps), expected) << "round " << round << ", split " << split;
    ASSERT_EQ(stamps, expectedStamps) << "round " << round;
  }
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
