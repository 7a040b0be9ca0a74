// pklfix-make-corpus: writes a corpus of result files and spectra to time
// pklfix-cli against, and optionally the corrected files a run must produce.

#include <cstdio>
#include <string>
#include <vector>

#include "bench/corpus.h"
#include "bench/options.h"

int main(int argc, char** argv) {
  pklfix::bench::Args args(argc, argv);
  if (args.flag("--help")) {
    std::puts(
        "Usage: pklfix-make-corpus [--seed N] [--files N] [--size BYTES[K|M|G]] [--upper-chn]\n"
        "                          [--chn-dir DIR] [--expected DIR] PKL_DIR");
    return 0;
  }
  pklfix::bench::CorpusOptions options;
  options.seed = std::stoull(args.value("--seed", "1"));
  options.files = std::stoull(args.value("--files", "2000"));
  options.resultBytes = args.size("--size", 8 * 1024);
  options.upperCaseChn = args.flag("--upper-chn");
  options.chnFolder = args.value("--chn-dir");
  options.expectedFolder = args.value("--expected");
  std::vector<std::string> rest;
  if (!args.positional(rest) || rest.size() != 1) {
    std::fprintf(stderr, "pklfix-make-corpus: give one PKL_DIR (see --help)\n");
    return 2;
  }
  pklfix::bench::CorpusStats stats;
  if (!pklfix::bench::writeCorpus(rest.front(), options, stats)) return 1;
  std::printf(
      "%zu result files (%zu with an acquisition line), %ju bytes; %zu SEIKO and %zu ORTEC "
      "spectra\n",
      stats.resultFiles, stats.withAcquisitionLine, stats.resultBytes, stats.seikoSpectra,
      stats.ortecSpectra);
  return 0;
}
