// The main of the Qt test binaries: no screen is needed, and message boxes
// are recorded instead of waiting for a click.
#include <gtest/gtest.h>

#include <QSettings>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("KALVEX_AUTO_DISMISS_BOXES", "1", 1);
  // Recent files and the browser's directory go to the build tree, never to
  // the settings of the user who runs the tests.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromStdString(std::string(KALVEX_BINARY_DIR) + "/test-scratch/settings"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
