// Not a check: with TORVANE_SCREENSHOT=<file.png> set, saves a picture of
// the main window showing a sample, for the documentation.
#include <QPixmap>

#include <cstdlib>

#include "UiTestSupport.h"
#include "ui_Consultmain.h"

namespace {

using ScreenshotTest = WindowTest;

TEST_F(ScreenshotTest, SavesTheMainWindowWhenAsked) {
  const char* target = std::getenv("TORVANE_SCREENSHOT");
  if (target == nullptr) GTEST_SKIP() << "TORVANE_SCREENSHOT not set";
  CreateWindows();
  SampleRecord sample;
  sample[0] = kFrameLength;
  sample[1] = 0x00;  // 800 rpm
  sample[2] = 0x40;
  sample[3] = 0x00;
  sample[4] = 0xC8;  // 1000 mV
  sample[5] = 135;   // 85 deg C
  sample[6] = 45;    // 450 mV
  sample[7] = 0;
  sample[8] = 173;   // 13840 mV
  sample[9] = 25;    // 500 mV
  sample[10] = 80;   // 1600 mV
  sample[11] = 0x05;
  sample[12] = 0x00;
  sample[13] = 0xF0;  // 2400 us
  sample[14] = 95;    // 15 deg BTDC
  sample[15] = 60;    // 30 %
  sample[16] = 100;
  sample[17] = 0x41;
  sample[18] = 0x01;
  State().current.Store(sample);
  Main().ShowSample();
  Main().AddStatusLine("OK. COM1 Open Interface OK");
  Main().AddStatusLine("OK. ECU Found.");
  Main().SetStatusText("Time : 12340 [msec]");
  Main().show();
  ASSERT_TRUE(WaitFor([&] { return Form().ClientArea->size() == QSize(697, 608); }));
  QApplication::processEvents();
  ASSERT_TRUE(Main().grab().save(target));
}

}  // namespace
