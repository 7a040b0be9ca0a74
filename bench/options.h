#ifndef BENCH_OPTIONS_H_
#define BENCH_OPTIONS_H_

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace pklfix::bench {

// The little command-line parsing the bench programs share: --name VALUE,
// --name=VALUE, bare --flag, and positional arguments.
class Args {
 public:
  Args(int argc, char** argv) : args_(argv + 1, argv + argc) {}

  bool flag(std::string_view name) {
    for (std::size_t i = 0; i < args_.size(); ++i) {
      if (args_[i] == name) {
        args_.erase(args_.begin() + static_cast<long>(i));
        return true;
      }
    }
    return false;
  }
  std::string value(std::string_view name, std::string fallback = "") {
    for (std::size_t i = 0; i < args_.size(); ++i) {
      if (args_[i] == name && i + 1 < args_.size()) {
        std::string v = args_[i + 1];
        args_.erase(args_.begin() + static_cast<long>(i), args_.begin() + static_cast<long>(i) + 2);
        return v;
      }
      std::string withEquals = std::string(name) + "=";
      if (args_[i].rfind(withEquals, 0) == 0) {
        std::string v = args_[i].substr(withEquals.size());
        args_.erase(args_.begin() + static_cast<long>(i));
        return v;
      }
    }
    return fallback;
  }
  // A size with an optional K, M or G suffix (powers of 1024).
  std::size_t size(std::string_view name, std::size_t fallback) {
    std::string text = value(name);
    if (text.empty()) return fallback;
    char* end = nullptr;
    double number = std::strtod(text.c_str(), &end);
    double scale = 1;
    switch (*end) {
      case 'k':
      case 'K':
        scale = 1024.0;
        break;
      case 'm':
      case 'M':
        scale = 1024.0 * 1024;
        break;
      case 'g':
      case 'G':
        scale = 1024.0 * 1024 * 1024;
        break;
      default:
        break;
    }
    return static_cast<std::size_t>(number * scale);
  }
  // What is left once every option was taken; an option left over is a
  // mistake, reported here.
  bool positional(std::vector<std::string>& out) {
    for (const std::string& arg : args_) {
      if (arg.rfind("--", 0) == 0) {
        std::fprintf(stderr, "unknown option %s\n", arg.c_str());
        return false;
      }
    }
    out = args_;
    return true;
  }

 private:
  std::vector<std::string> args_;
};

}  // namespace pklfix::bench

#endif  // BENCH_OPTIONS_H_
