#ifndef BENCH_CORPUS_H_
#define BENCH_CORPUS_H_

#include <cstdint>
#include <filesystem>
#include <string>

namespace pklfix::bench {

// What a generated corpus looks like. The same options and seed always give
// the same bytes, so each contender of a timing run can get a fresh copy
// identical to the others'.
struct CorpusOptions {
  std::uint64_t seed = 1;
  std::size_t files = 2000;
  std::size_t resultBytes = 8 * 1024;  // about; every file is a little over
  bool upperCaseChn = false;           // spectra named NAME.CHN instead of NAME.chn
  // Where the spectra go; empty means beside the result files.
  std::filesystem::path chnFolder;
  // Where the corrected result files the run should produce go; empty means
  // none are written.
  std::filesystem::path expectedFolder;
};

struct CorpusStats {
  std::size_t resultFiles = 0;
  std::size_t withAcquisitionLine = 0;
  std::size_t seikoSpectra = 0;
  std::size_t ortecSpectra = 0;
  std::uintmax_t resultBytes = 0;
};

// Writes options.files result files (.pkl, CR LF lines) into `pklFolder`,
// each with the spectrum of the same base name. About one result file in
// eight has no acquisition line. Each spectrum has a 32-byte header in one
// of the two flavours (seconds as a 16-bit integer, or as two digits of
// text) and 2048 channels of 32-bit counts. The folders are created if
// needed. Returns false, having printed why, on a write failure.
bool writeCorpus(const std::filesystem::path& pklFolder, const CorpusOptions& options,
                 CorpusStats& stats);

// The name of result file `index` of a corpus.
std::string resultName(std::size_t index);

}  // namespace pklfix::bench

#endif  // BENCH_CORPUS_H_
