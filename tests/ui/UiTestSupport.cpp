#include "UiTestSupport.h"

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
  std::string pattern = (std::filesystem::temp_directory_path() / "torvane-ui-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  directory = pattern;
  SetSettingsPath(SettingsFile());
  SetUserDialogs(&dialogs);
}

void WindowTest::TearDown() {
  windows = ProgramWindows{};
  instances.reset();
  SetUserDialogs(nullptr);
  SetSettingsPath("");
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
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
  instances.reset();
  instances = std::make_unique<TestInstances>(clockPeriod);
  windows = CreateProgramWindows(instances->refs);
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
