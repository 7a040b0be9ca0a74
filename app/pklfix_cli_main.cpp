#include "app/cli.h"
#include "engine/file_system.h"
#include "engine/process.h"

int main(int argc, char** argv) {
  pklfix::installInterruptCleanup();
  return pklfix::runCli(pklfix::commandLineArguments(argc, argv), pklfix::standardOutput(),
                        pklfix::standardError(), pklfix::realFileSystem());
}
