#include "UiTestSupport.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "ui_Consultmain.h"

namespace {

// One QApplication for the whole run, as the windows need one.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "torvane_ui_tests";
    static char* argv[] = {name, nullptr};
    // No display and no person: the windows run offscreen unless told otherwise.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    application = std::make_unique<QApplication>(argc, argv);
    InstallFontSubstitutes();
  }
  void TearDown() override { application.reset(); }

 private:
  std::unique_ptr<QApplication> application;
};

[[maybe_unused]] ::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

void WindowTest::SetUp() {
  folder = std::make_unique<TempDir>();
  directory = folder->Root();
  settingsPath = SettingsFile();
  // Whatever a test leaves behind stays its own: its log memory has a name
  // of its own, and recovered recordings land in its folder.
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  shmBase = std::string(".MMF-ui-") + test->test_suite_name() + "." + test->name() + "-";
  for (char& c : shmBase)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '-';
  setenv("XDG_DATA_HOME", (directory / "xdg-data").c_str(), 1);
}

void WindowTest::TearDown() {
  windows = ProgramWindows{};
  // A test's end is an orderly one: nothing is left to recover.
  if (instances) (void)instances->logMemory.WriteRecoveryMarker(kLogMemorySlot, 0, false);
  instances.reset();
  unsetenv("XDG_DATA_HOME");
  folder.reset();
}

void WindowTest::WriteSettings(const std::string& text) const {
  std::ofstream(SettingsFile(), std::ios::binary) << text;
}

std::string WindowTest::ReadSettings() const {
  std::ifstream in(SettingsFile(), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WindowTest::CreateWindows(std::chrono::nanoseconds clockPeriod) {
  windows = ProgramWindows{};  // a second start in one test: the old windows go first
  if (instances) (void)instances->logMemory.WriteRecoveryMarker(kLogMemorySlot, 0, false);
  instances.reset();
  instances = std::make_unique<TestInstances>(clockPeriod, shmBase);
  windows = CreateProgramWindows(instances->session, Context());
  // No test searches this machine's own devices unless it says so.
  DeviceTree none;
  none.sysRoot = (directory / "no-sys").string();
  none.devRoot = (directory / "no-dev").string();
  instances->consultSession.SetDeviceTree(none);
}

std::vector<std::string> WindowTest::StatusLines() {
  std::vector<std::string> lines;
  QListWidget* list = Form().StatusListBox;
  for (int i = 0; i < list->count(); ++i) lines.push_back(list->item(i)->text().toStdString());
  return lines;
}
