#include "app/cli.h"
#include "app/process.h"
#include "engine/files/file_system.h"
#include "engine/files/interrupt_cleanup.h"

int main(int argc, char** argv) {
  pklfix::installInterruptCleanup();
  return pklfix::runCli(pklfix::commandLineArguments(argc, argv), pklfix::standardOutput(),
                        pklfix::standardError(), pklfix::realFileSystem());
}
