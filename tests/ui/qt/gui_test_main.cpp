// The window tests' own main(): gtest_discover_tests runs the binary at
// build time, where there may be no display, so Qt is pointed at its
// offscreen platform unless told otherwise.

#include <gtest/gtest.h>

#include <QApplication>
#include <QtGlobal>
#include <filesystem>
#include <system_error>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    // Qt wants a private runtime folder and complains without one.
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path runtime = fs::temp_directory_path(ec) / "pklfix-test-runtime";
    fs::create_directories(runtime, ec);
    fs::permissions(runtime, fs::perms::owner_all, ec);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.string()));
  }
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
