// GoogleTest entry for tests that measure text: fonts need a Qt application.
#include <QGuiApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication App(argc, argv);
  return RUN_ALL_TESTS();
}
