// pklfix-micro-bench: the engine's hot paths in memory, with Google
// Benchmark. The line rewriter's throughput over a large result file, and
// the cost of turning a spectrum header into a stamp.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "engine/spectrum/chn_header.h"
#include "engine/files/file_system.h"
#include "engine/rewrite/line_rewriter.h"

namespace {

constexpr std::size_t kChunk = 64 * 1024;  // what the engine reads at a time

class CountingClient final : public pklfix::LineRewriter::Client {
 public:
  pklfix::Result<std::string> stamp() override { return std::string("03-05-2009 14:30:07"); }
  pklfix::Status write(std::string_view bytes) override {
    written += bytes.size();
    return {};
  }
  std::size_t written = 0;
};

// About `bytes` of a result file: a few header lines, the acquisition line,
// then a long peak table; lines end in `lineEnd`.
std::string resultText(std::size_t bytes, std::string_view lineEnd) {
  std::string text;
  auto line = [&](std::string_view s) {
    text += s;
    text += lineEnd;
  };
  line("GAMMA SPECTRUM ANALYSIS");
  line("Sample identification : W0000001");
  line("Acquisition Date : 01-01-1990 00:00:00");
  line("  Peak   Energy (keV)   FWHM (keV)   Net area   Unc. (%)   Nuclide");
  for (int peak = 1; text.size() < bytes; ++peak) {
    char row[96];
    std::snprintf(row, sizeof row, "  %4d   %9.2f      %6.2f   %10d   %7.1f    %s", peak % 10000,
                  46.54 + peak % 2600, 1.02 + peak % 7 * 0.1, 1234 + peak * 7 % 100000, 4.5,
                  "Pb-210");
    line(row);
  }
  return text;
}

void rewriteThroughput(benchmark::State& state, std::string_view lineEnd) {
  const std::string text = resultText(8 << 20, lineEnd);
  for (auto _ : state) {
    CountingClient client;
    pklfix::LineRewriter rewriter(client);
    for (std::size_t at = 0; at < text.size(); at += kChunk) {
      if (!rewriter.feed(std::string_view(text).substr(at, kChunk)).ok())
        state.SkipWithError("feed");
    }
    if (!rewriter.finish().ok()) state.SkipWithError("finish");
    benchmark::DoNotOptimize(client.written);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_LineRewriterCrLf(benchmark::State& state) { rewriteThroughput(state, "\r\n"); }
void BM_LineRewriterLf(benchmark::State& state) { rewriteThroughput(state, "\n"); }
void BM_LineRewriterCr(benchmark::State& state) { rewriteThroughput(state, "\r"); }
BENCHMARK(BM_LineRewriterCrLf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineRewriterLf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LineRewriterCr)->Unit(benchmark::kMillisecond);

std::string header(bool seiko) {
  std::string bytes(pklfix::kChnHeaderBytes, '\0');
  bytes[0] = bytes[1] = '\xff';
  if (seiko) {
    bytes[6] = 7;
  } else {
    bytes.replace(6, 2, "07");
  }
  bytes.replace(16, 8, "05MAR091");
  bytes.replace(24, 6, "143007");
  return bytes;
}

void BM_StampFromHeader(benchmark::State& state) {
  const std::string bytes = header(state.range(0) == 1);
  for (auto _ : state) {
    pklfix::ChnStamp stamp = pklfix::stampFromHeader(bytes);
    benchmark::DoNotOptimize(stamp.text.data());
  }
  state.SetLabel(state.range(0) == 1 ? "SEIKO" : "ORTEC");
}
BENCHMARK(BM_StampFromHeader)->Arg(1)->Arg(0);

// The whole path from a spectrum on disk (in the page cache) to its stamp:
// open, read 30 bytes, close, build the stamp.
void BM_ReadChnDate(benchmark::State& state) {
  namespace fs = std::filesystem;
  fs::path path = fs::temp_directory_path() / "pklfix-micro-bench.chn";
  {
    std::ofstream out(path, std::ios::binary);
    out << header(false) << std::string(2 + 4 * 2048, '\0');
  }
  for (auto _ : state) {
    auto stamp = pklfix::ReadChnDate(pklfix::realFileSystem(), path);
    if (!stamp.ok()) state.SkipWithError("ReadChnDate");
    benchmark::DoNotOptimize(stamp);
  }
  fs::remove(path);
}
BENCHMARK(BM_ReadChnDate);

}  // namespace

BENCHMARK_MAIN();
