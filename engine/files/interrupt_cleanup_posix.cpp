// The temporary files a fatal signal must take along: created by this
// process and neither renamed nor removed yet. A signal handler may do
// almost nothing safely, so the table has a fixed size and every change of a
// slot is one atomic store or exchange. A slot is
//   free     no path;
//   filling  its owner is copying a path in; the handler skips it;
//   armed    the handler unlinks the path;
//   taken    the handler has claimed it; it stays so until the process dies,
//            so no owner overwrites a path the handler is reading.
// Only armed slots are ever unlinked, and a path is armed only after this
// process created the file exclusively, so the handler removes nothing that
// is not provably ours. There are as many slots as callers may keep
// temporaries alive (kMaxLiveTemporaries, which bounds a run's batch); a
// temporary that finds no free slot is merely left behind by a signal, like
// one killed outright, and the next run recognises and removes it.

#include "engine/files/interrupt_cleanup_posix.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "engine/files/file_system.h"
#include "engine/files/interrupt_cleanup.h"

namespace pklfix {
namespace posix {
namespace {

constexpr int kSlotFree = 0;
constexpr int kSlotFilling = 1;
constexpr int kSlotArmed = 2;
constexpr int kSlotTaken = 3;

struct CleanupSlot {
  std::atomic<int> state{kSlotFree};
  char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slots");

CleanupSlot cleanupSlots[kMaxLiveTemporaries];

constexpr int kFatalSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE};

extern "C" void removeTemporariesAndDie(int signal) {
  for (CleanupSlot& slot : cleanupSlots) {
    int expected = kSlotArmed;
    if (slot.state.compare_exchange_strong(expected, kSlotTaken)) ::unlink(slot.path);
  }
  // SA_RESETHAND restored the default action; the signal stays blocked until
  // this handler returns, and then ends the process as it would have.
  ::raise(signal);
}

}  // namespace

void armCleanup(const std::filesystem::path& path) {
  const std::string& text = path.native();
  if (text.size() >= PATH_MAX) return;
  for (CleanupSlot& slot : cleanupSlots) {
    int expected = kSlotFree;
    if (!slot.state.compare_exchange_strong(expected, kSlotFilling)) continue;
    std::memcpy(slot.path, text.c_str(), text.size() + 1);
    slot.state.store(kSlotArmed, std::memory_order_release);
    return;
  }
}

void disarmCleanup(const std::filesystem::path& path) {
  for (CleanupSlot& slot : cleanupSlots) {
    if (slot.state.load(std::memory_order_acquire) != kSlotArmed) continue;
    if (std::strcmp(slot.path, path.c_str()) != 0) continue;
    int expected = kSlotArmed;
    slot.state.compare_exchange_strong(expected, kSlotFree);
    return;
  }
}

FatalSignalsHeld::FatalSignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal : kFatalSignals) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

FatalSignalsHeld::~FatalSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace posix

void installInterruptCleanup() {
  struct sigaction action = {};
  action.sa_handler = posix::removeTemporariesAndDie;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal : posix::kFatalSignals) sigaddset(&action.sa_mask, signal);
  for (int signal : posix::kFatalSignals) {
    struct sigaction previous = {};
    // A signal the caller chose to ignore (nohup, a shell's background job)
    // stays ignored.
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace pklfix
