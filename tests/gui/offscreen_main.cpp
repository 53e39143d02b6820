// The main of the Qt test binaries: no screen is needed, and message boxes
// are recorded instead of waiting for a click.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("KALVEX_AUTO_DISMISS_BOXES", "1", 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
