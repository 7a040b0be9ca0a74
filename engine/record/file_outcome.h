#ifndef ENGINE_RECORD_FILE_OUTCOME_H_
#define ENGINE_RECORD_FILE_OUTCOME_H_

namespace pklfix {

// What a run did to one file: what its report says, and its row in the
// change record.
enum class FileOutcome {
  Corrected,          // replaced by its corrected copy (in a dry run: would be)
  NoAcquisitionLine,  // the same, with no acquisition line: only its line ends changed
  AlreadyCorrect,     // its corrected form is the file itself: not touched at all
  // Not a result file but a copy an interrupted run left of one: not
  // corrected, and left for its result file's handling to remove.
  LeftoverCopy,
  CopyRemoved,  // such a copy, removed when its result file was handled
  Failed,       // left as it was
  PutBack,      // given back its original from before a run that changed it
};

// Whether the outcome replaced the file (in a dry run: would).
inline bool replacedFile(FileOutcome outcome) {
  return outcome == FileOutcome::Corrected || outcome == FileOutcome::NoAcquisitionLine;
}

}  // namespace pklfix

#endif  // ENGINE_RECORD_FILE_OUTCOME_H_
