// Test runner for widgets; run with QT_QPA_PLATFORM=offscreen so no display is needed. The
// client's own application object is used, so its presenter and exception handling are in place.
#include "connection/norvapplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  NorvApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
