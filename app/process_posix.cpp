// The process on POSIX systems: arguments and streams are already UTF-8.

#include <algorithm>
#include <iostream>

#include "app/process.h"

namespace pklfix {

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

std::ostream& standardOutput() { return std::cout; }
std::ostream& standardError() { return std::cerr; }

}  // namespace pklfix
