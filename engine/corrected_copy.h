#ifndef ENGINE_CORRECTED_COPY_H_
#define ENGINE_CORRECTED_COPY_H_

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/atomic_replace.h"
#include "engine/correct_pkl_files.h"
#include "engine/file_system.h"
#include "engine/spectrum_finder.h"
#include "engine/status.h"

namespace pklfix {

class LeftoverCandidates;

struct CopyRequest {
  std::filesystem::path folder;  // of the result file
  std::string name;              // the result file's name, UTF-8, no folder part
  std::filesystem::path chnFolder;
  bool dryRun = false;  // compare and record, write nothing
  // Files to hold against the corrected form: each is reported back if its
  // bytes are a beginning of it, or all of it. To these come, when
  // `leftovers` is given, the files under the result file's temporary names.
  std::vector<std::filesystem::path> candidates;
  LeftoverCandidates* leftovers = nullptr;
};

struct CorrectedCopy {
  FileInfo info;  // the result file as it was
  // True when the corrected form differs from the file, line ends included.
  bool changed = false;
  // The corrected copy, written and on its way to the disk but not synced;
  // null when nothing changed, or in a dry run.
  std::unique_ptr<AtomicReplace> copy;
  std::vector<std::filesystem::path> prefixes;  // of the candidates
};

// Computes the corrected form of the result file `request` names, stamping
// each acquisition line from its spectrum, and compares it with the file
// and the candidates as it streams. The file must be a writable regular
// file with a plain name. The copy is created only once the corrected form
// is known to differ from the file, so a file that needs no change is read
// once and nothing is written (past 256 KiB of unchanged output a copy is
// begun, and removed again if nothing changed). Records the lines, the lines
// they replace and the warnings in `report`. On failure nothing is left on
// disk.
Status writeCorrectedCopy(FileSystem& fileSystem, SpectrumFinder& finder,
                          const CopyRequest& request, FileReport& report, CorrectedCopy& result);

}  // namespace pklfix

#endif  // ENGINE_CORRECTED_COPY_H_
