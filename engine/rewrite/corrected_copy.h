#ifndef ENGINE_REWRITE_CORRECTED_COPY_H_
#define ENGINE_REWRITE_CORRECTED_COPY_H_

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/atomic_replace.h"
#include "engine/files/file_system.h"
#include "engine/record/file_outcome.h"
#include "engine/rewrite/acquisition_lines.h"
#include "engine/spectrum/spectrum_finder.h"

namespace pklfix {

struct CopyRequest {
  std::filesystem::path folder;  // of the result file
  std::string name;              // the result file's name, UTF-8, no folder part
  std::filesystem::path chnFolder;
  bool dryRun = false;  // compare and report, write nothing
  // Digest the file, its corrected form and the candidates as they stream.
  bool digests = false;
  // Each acquisition line a copy replaces is kept whole up to this many bytes.
  std::size_t lineBytes = kMaxKeptLineBytes;
  // Files to hold against the corrected form: each is reported back if its
  // bytes are a beginning of it, or all of it.
  std::vector<std::filesystem::path> candidates;
};

// A candidate whose bytes are a beginning of the corrected form, or all of
// it: a copy an interrupted run left.
struct CopyPrefix {
  std::filesystem::path path;
  std::string sha256;  // with CopyRequest::digests
};

// A result file's corrected form, as far as it got.
struct CorrectedCopy {
  FileInfo info;  // the result file as it was
  // True when the corrected form differs from the file, line ends included.
  bool changed = false;
  // The corrected copy, written and on its way to the disk but not synced;
  // null when nothing changed, or in a dry run.
  std::unique_ptr<AtomicReplace> copy;
  AcquisitionLines lines;             // the acquisition lines, as they were and became
  std::vector<std::string> warnings;  // about the spectra read, each naming its spectrum
  std::vector<CopyPrefix> prefixes;   // of the candidates
  // With CopyRequest::digests: the SHA-256 of the file, and of its corrected
  // form, each set once the whole of it has streamed past.
  std::string digestBefore;
  std::string digestAfter;
  std::filesystem::path spectrum;  // the spectrum last read; empty when none was
};

// What replacing a file by its corrected form `written` does to it.
FileOutcome outcomeOf(const CorrectedCopy& written);

// Checks that the result file `request` names can be corrected in place: a
// regular file with a plain name, writable unless the request is a dry run,
// which needs only to read it. Fills in `result.info`. Touches nothing.
Status checkResultFile(FileSystem& fileSystem, const CopyRequest& request, CorrectedCopy& result);

// Computes the corrected form of the result file `request` names, which
// checkResultFile() has passed into `result`, stamping each acquisition line
// from its spectrum, and compares it with the file and the candidates as it
// streams. The copy is created only once the corrected form is known to
// differ from the file, so a file that needs no change is read once and
// nothing is written (past 256 KiB of unchanged output a copy is begun, and
// removed again if nothing changed). Keeps the lines, the lines they
// replace and the warnings in `result`, the warnings also when it fails. On
// failure nothing is left on disk.
Status writeCorrectedCopy(FileSystem& fileSystem, SpectrumFinder& finder,
                          const CopyRequest& request, CorrectedCopy& result);

// Whether the bytes of `candidate` are a beginning of the corrected form of
// the result file `name` in `folder`, or all of it. Writes nothing. False
// whenever that cannot be known: the result file cannot be corrected, its
// spectrum is missing, a read fails.
bool correctedFormBegins(FileSystem& fileSystem, SpectrumFinder& finder,
                         const std::filesystem::path& folder, const std::string& name,
                         const std::filesystem::path& chnFolder,
                         const std::filesystem::path& candidate);

}  // namespace pklfix

#endif  // ENGINE_REWRITE_CORRECTED_COPY_H_
