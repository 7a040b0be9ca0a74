#ifndef ENGINE_FILES_INTERRUPT_CLEANUP_H_
#define ENGINE_FILES_INTERRUPT_CLEANUP_H_

namespace pklfix {

// Before the first run: makes SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE
// first remove every temporary file realFileSystem() created and has not
// yet renamed or removed, then end the process as the signal would have.
// Result files are never touched, and nothing the process did not create is
// removed. Signals the caller ignores stay ignored. Does nothing on Windows.
void installInterruptCleanup();

}  // namespace pklfix

#endif  // ENGINE_FILES_INTERRUPT_CLEANUP_H_
