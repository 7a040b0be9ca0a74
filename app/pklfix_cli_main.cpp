#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "engine/file_system.h"

int main(int argc, char** argv) {
  pklfix::installInterruptCleanup();
  std::vector<std::string> args(argv + 1, argv + argc);
  return pklfix::runCli(args, std::cout, std::cerr, pklfix::realFileSystem());
}
