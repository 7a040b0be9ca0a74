#include "bench/corpus.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

namespace pklfix::bench {
namespace fs = std::filesystem;
namespace {

constexpr const char* kPrefix = "Acquisition Date : ";
constexpr std::size_t kChannels = 2048;
constexpr std::size_t kChnHeaderBytes = 32;
constexpr const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                   "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr const char* kNuclides[] = {"Pb-210", "Am-241", "Th-234", "Ra-226", "Pb-214", "Bi-214",
                                     "Cs-137", "K-40",   "Co-60",  "Be-7",   "Ac-228", "Tl-208"};

// splitmix64: tiny, and the same sequence on every standard library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }

 private:
  std::uint64_t state_;
};

struct StartTime {
  int year, month, day, hour, minute, second;
};

std::string twoDigits(int value) {
  char text[12];
  std::snprintf(text, sizeof text, "%02d", value % 100);
  return text;
}

// The stamp a correct run writes for `t`: MM-DD-YYYY HH:MM:SS.
std::string stampText(const StartTime& t) {
  return twoDigits(t.month) + "-" + twoDigits(t.day) + "-" + std::to_string(t.year) + " " +
         twoDigits(t.hour) + ":" + twoDigits(t.minute) + ":" + twoDigits(t.second);
}

void putLittleEndian(std::string& bytes, std::size_t offset, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

std::string spectrum(const StartTime& t, bool seiko, Random& random) {
  std::string bytes(kChnHeaderBytes + 4 * kChannels, '\0');
  putLittleEndian(bytes, 0, 0xffff, 2);  // -1: the file type
  putLittleEndian(bytes, 2, 1 + random.below(4), 2);
  putLittleEndian(bytes, 4, 1, 2);
  if (seiko) {
    putLittleEndian(bytes, 6, t.second, 2);  // < 60, so byte 7 is 0
  } else {
    std::memcpy(&bytes[6], twoDigits(t.second).data(), 2);
  }
  std::uint32_t live = 3000 + random.below(90000);
  putLittleEndian(bytes, 8, (live + 12) * 50, 4);  // real time, 20 ms ticks
  putLittleEndian(bytes, 12, live * 50, 4);        // live time
  std::string date =
      twoDigits(t.day) + kMonths[t.month - 1] + twoDigits(t.year) + (t.year >= 2000 ? "1" : "0");
  std::memcpy(&bytes[16], date.data(), 8);
  std::string time = twoDigits(t.hour) + twoDigits(t.minute) + twoDigits(t.second);
  std::memcpy(&bytes[24], time.data(), 6);
  putLittleEndian(bytes, 30, kChannels, 2);
  for (std::size_t c = 0; c < kChannels; ++c) {
    std::uint32_t counts = 40 + random.below(200) + (c % 97 == 0 ? random.below(50000) : 0);
    putLittleEndian(bytes, kChnHeaderBytes + 4 * c, counts, 4);
  }
  return bytes;
}

StartTime randomStart(Random& random) {
  StartTime t;
  t.year = 1995 + random.below(30);
  t.month = 1 + random.below(12);
  t.day = 1 + random.below(28);
  t.hour = random.below(24);
  t.minute = random.below(60);
  t.second = random.below(60);
  return t;
}

// Streams one result file (and its corrected twin) to disk in pieces, so a
// file of any size costs little memory.
class ResultWriter {
 public:
  ResultWriter(const fs::path& path, const fs::path& expected)
      : out_(path, std::ios::binary | std::ios::trunc) {
    if (!expected.empty()) expected_.open(expected, std::ios::binary | std::ios::trunc);
    wantExpected_ = !expected.empty();
  }
  void line(const std::string& text) { line(text, text); }
  void line(const std::string& text, const std::string& corrected) {
    pending_ += text;
    pending_ += "\r\n";
    if (wantExpected_) {
      pendingExpected_ += corrected;
      pendingExpected_ += "\r\n";
    }
    written_ += text.size() + 2;
    if (pending_.size() >= 1 << 16) flush();
  }
  std::uintmax_t written() const { return written_; }
  bool close() {
    flush();
    out_.close();
    if (wantExpected_) expected_.close();
    return !out_.fail() && (!wantExpected_ || !expected_.fail());
  }

 private:
  void flush() {
    out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    pending_.clear();
    if (wantExpected_) {
      expected_.write(pendingExpected_.data(),
                      static_cast<std::streamsize>(pendingExpected_.size()));
      pendingExpected_.clear();
    }
  }

  std::ofstream out_;
  std::ofstream expected_;
  bool wantExpected_ = false;
  std::string pending_;
  std::string pendingExpected_;
  std::uintmax_t written_ = 0;
};

bool writeResult(const fs::path& path, const fs::path& expected, const std::string& sample,
                 const StartTime& start, bool withLine, std::size_t targetBytes, Random& random) {
  ResultWriter w(path, expected);
  w.line("GAMMA SPECTRUM ANALYSIS");
  w.line("");
  w.line("Sample identification : " + sample);
  w.line("Sample geometry       : MARINELLI 1L");
  w.line("Detector              : HPGE-" + std::to_string(1 + random.below(4)));
  if (withLine) {
    // What the analysis program wrote: the time the file was analysed, not
    // when the spectrum was measured.
    StartTime wrong = randomStart(random);
    w.line(kPrefix + stampText(wrong), kPrefix + stampText(start));
  }
  w.line("Live time             : " + std::to_string(3000 + random.below(90000)) + ".00 s");
  w.line("Energy calibration    : E = 0.3712 + 0.49981*ch keV");
  w.line("");
  w.line("  Peak   Energy (keV)   FWHM (keV)   Net area   Unc. (%)   Nuclide");
  for (int peak = 1; w.written() < targetBytes; ++peak) {
    char text[96];
    std::snprintf(text, sizeof text, "  %4d   %9.2f      %6.2f   %10d   %7.1f    %s", peak,
                  40 + random.below(2600000) / 1000.0, 0.8 + random.below(200) / 100.0,
                  random.below(2000000), 0.5 + random.below(500) / 10.0,
                  kNuclides[random.below(12)]);
    w.line(text);
  }
  w.line("");
  w.line("End of report");
  return w.close();
}

bool writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

}  // namespace

std::string resultName(std::size_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "W%07zu.pkl", index + 1);
  return name;
}

bool writeCorpus(const fs::path& pklFolder, const CorpusOptions& options, CorpusStats& stats) {
  fs::path chnFolder = options.chnFolder.empty() ? pklFolder : options.chnFolder;
  std::error_code ec;
  for (const fs::path& folder : {pklFolder, chnFolder, options.expectedFolder}) {
    if (folder.empty()) continue;
    fs::create_directories(folder, ec);
    if (ec) {
      std::fprintf(stderr, "cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
      return false;
    }
  }
  Random random(options.seed);
  stats = {};
  for (std::size_t i = 0; i < options.files; ++i) {
    std::string name = resultName(i);
    std::string base = name.substr(0, name.size() - 4);
    StartTime start = randomStart(random);
    bool withLine = random.below(8) != 0;
    bool seiko = random.below(2) == 0;
    fs::path expected = options.expectedFolder.empty() ? fs::path() : options.expectedFolder / name;
    if (!writeResult(pklFolder / name, expected, base, start, withLine, options.resultBytes,
                     random)) {
      std::fprintf(stderr, "cannot write %s\n", (pklFolder / name).c_str());
      return false;
    }
    fs::path chn = chnFolder / (base + (options.upperCaseChn ? ".CHN" : ".chn"));
    if (!writeBytes(chn, spectrum(start, seiko, random))) {
      std::fprintf(stderr, "cannot write %s\n", chn.c_str());
      return false;
    }
    ++stats.resultFiles;
    stats.withAcquisitionLine += withLine;
    (seiko ? stats.seikoSpectra : stats.ortecSpectra) += 1;
    stats.resultBytes += fs::file_size(pklFolder / name, ec);
  }
  return true;
}

}  // namespace pklfix::bench
