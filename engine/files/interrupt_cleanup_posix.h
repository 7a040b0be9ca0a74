#ifndef ENGINE_FILES_INTERRUPT_CLEANUP_POSIX_H_
#define ENGINE_FILES_INTERRUPT_CLEANUP_POSIX_H_

#include <signal.h>

#include <filesystem>

namespace pklfix::posix {

// The temporaries a fatal signal removes (see installInterruptCleanup in
// engine/process.h). The file system arms a path once it has created the
// file exclusively, and disarms it once the file is renamed or removed,
// both while the fatal signals are held.
void armCleanup(const std::filesystem::path& path);
void disarmCleanup(const std::filesystem::path& path);

// Holds the fatal signals back while a file is created or moved and its slot
// updated, so no signal falls between the two: a temporary exists on disk
// exactly while its slot is armed.
class FatalSignalsHeld {
 public:
  FatalSignalsHeld();
  ~FatalSignalsHeld();
  FatalSignalsHeld(const FatalSignalsHeld&) = delete;
  FatalSignalsHeld& operator=(const FatalSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace pklfix::posix

#endif  // ENGINE_FILES_INTERRUPT_CLEANUP_POSIX_H_
