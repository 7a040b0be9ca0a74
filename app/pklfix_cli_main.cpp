#include <iostream>

#include "app/cli.h"
#include "engine/file_system.h"

int main(int argc, char** argv) {
  return pklfix::runCli(pklfix::commandLineArguments(argc, argv), std::cout, std::cerr,
                        pklfix::realFileSystem());
}
