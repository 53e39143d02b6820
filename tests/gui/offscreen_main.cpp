// The main of the Qt test binaries: no screen is needed, and message boxes
// are recorded instead of waiting for a click.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QSettings>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("KALVEX_AUTO_DISMISS_BOXES", "1", 1);
  // Recent files and the browser's directory go to the build tree, never to
  // the settings of the user who runs the tests, and to a folder of this
  // process's own: CTest runs test binaries side by side, and one's recent
  // files must not change under another.
  const std::filesystem::path settings = std::filesystem::path(KALVEX_BINARY_DIR) / "test-scratch" / "settings" /
                                         std::to_string(::getpid());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(settings.string()));
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(settings, ignored);
  return status;
}
