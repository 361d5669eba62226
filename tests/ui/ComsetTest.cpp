// The COM port dialog: its list, OK, Cancel, the close box, Search, and the
// live selection that ECU Open reads.
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "UiTestSupport.h"
#include "ui_Comset.h"
#include "ui_Consultmain.h"

namespace {

class ComsetTest : public WindowTest {
 protected:
  TCom_set_Form& Dialog() { return *windows.comSetForm; }
  QComboBox& Box() { return *windows.comSetForm->Form()->Com_box; }
  void Type(const QString& text) {
    Box().lineEdit()->clear();
    QTest::keyClicks(Box().lineEdit(), text);
  }
};

TEST_F(ComsetTest, TheListIsTheNinePortsAndAnEmptyTenth) {
  CreateWindows();
  ASSERT_EQ(Box().count(), 10);
  EXPECT_EQ(Box().itemText(0), "COM1");
  EXPECT_EQ(Box().itemText(8), "COM9");
  EXPECT_EQ(Box().itemText(9), "");
  EXPECT_EQ(Box().currentText(), "COM1");  // the edit field as designed, nothing selected
  EXPECT_EQ(Dialog().PortNumber(), 0);
  EXPECT_EQ(Dialog().windowTitle(), "COM Port");
}

TEST_F(ComsetTest, ComNoKeySelectsItsEntryOrNone) {
  for (const auto& [value, port] : {std::pair{"3", 3}, {"10", 10}, {"12", 0}, {"-2", 0}}) {
    WriteSettings(std::string("[SET]\ncom_no=") + value + "\n");
    CreateWindows();
    EXPECT_EQ(Dialog().PortNumber(), port) << "com_no=" << value;
  }
}

TEST_F(ComsetTest, TypedTextSelectsTheEntryItNamesOrNoneAndNeverGrowsTheList) {
  CreateWindows();
  Dialog().show();
  Type("com5");
  EXPECT_EQ(Dialog().PortNumber(), 5);
  EXPECT_EQ(Box().currentText(), "com5");  // as typed
  for (const char* text : {"COM12", "COM1x", "5", ""}) {
    Type(text);
    QTest::keyClick(Box().lineEdit(), Qt::Key_Return);
    EXPECT_EQ(Dialog().PortNumber(), 0) << text;
    EXPECT_EQ(Box().count(), 10) << text;
  }
}

TEST_F(ComsetTest, OkWithoutAPortComplainsAndSelectsCom1) {
  CreateWindows();
  Dialog().show();
  Dialog().Form()->Com_OK->click();
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].kind, "plain");
  EXPECT_EQ(dialogs.calls[0].title, "Set Error");
  EXPECT_EQ(dialogs.calls[0].text, "Com No Error");
  EXPECT_EQ(Dialog().PortNumber(), 1);
  EXPECT_FALSE(Dialog().isVisible());
  // With a port chosen, OK just hides the dialog.
  Dialog().show();
  Box().setCurrentIndex(9);
  Dialog().Form()->Com_OK->click();
  EXPECT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(Dialog().PortNumber(), 10);
  EXPECT_TRUE(Main().close());
  EXPECT_NE(ReadSettings().find("com_no=10\n"), std::string::npos);
}

TEST_F(ComsetTest, CancelAndTheCloseBoxBringBackTheSelectionOfTheOpening) {
  WriteSettings("[SET]\ncom_no=2\n");
  CreateWindows();
  TConsultMainForm::ClickMenuItem(Form().ComSettingBtn);
  Box().setCurrentIndex(4);
  EXPECT_EQ(Dialog().PortNumber(), 5);  // live while the dialog is open
  Dialog().Form()->Com_Cancel->click();
  EXPECT_EQ(Dialog().PortNumber(), 2);
  TConsultMainForm::ClickMenuItem(Form().ComSettingBtn);
  Box().setCurrentIndex(6);
  Dialog().close();
  EXPECT_EQ(Dialog().PortNumber(), 2);
  EXPECT_FALSE(Dialog().isVisible());
}

TEST_F(ComsetTest, SearchReportsTheCableOrItsAbsence) {
  CreateWindows();
  DeviceTree none;
  none.sysRoot = (directory / "nothing").string();
  instances->consultSession.SetDeviceTree(none);
  Box().setCurrentIndex(1);
  Dialog().Form()->Auto_set->click();
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].kind, "warning");
  EXPECT_EQ(dialogs.calls[0].title, "Search");
  EXPECT_EQ(dialogs.calls[0].text, "Vranok Nissan DID-Uzorari Cable  \nis NOT Found.");
  EXPECT_EQ(Dialog().PortNumber(), 2);  // unchanged
}

TEST_F(ComsetTest, SearchFindingTheCableSelectsItsPort) {
  CreateWindows();
  // The dialog's own search, given a finder that sees a cable on COM4.
  TCom_set_Form dialog(&Main(), [] { return 4; }, Context());
  dialog.Form()->Auto_set->click();
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].kind, "information");
  EXPECT_EQ(dialogs.calls[0].text, "Vranok Nissan DID-Uzorari Cable  \nis Found.\nCOM : 4\n");
  EXPECT_EQ(dialog.PortNumber(), 4);
  // A cable beyond the ten entries selects none.
  TCom_set_Form far(&Main(), [] { return 12; }, Context());
  far.Form()->Com_box->setCurrentIndex(2);
  far.Form()->Auto_set->click();
  EXPECT_EQ(far.PortNumber(), 0);
}

}  // namespace

// torvane --port picks a port for one run: the settings file keeps its own
// port until the user chooses one in the dialog.
TEST_F(ComsetTest, TheCommandLinesPortIsForThisRunOnly) {
  WriteSettings("[SET]\ncom_no=3\n");
  CreateWindows();
  Dialog().SelectPortForThisRun(1);
  EXPECT_EQ(Dialog().PortNumber(), 1);
  EXPECT_TRUE(Main().close());
  EXPECT_NE(ReadSettings().find("com_no=3\n"), std::string::npos);

  CreateWindows();
  Dialog().SelectPortForThisRun(1);
  TConsultMainForm::ClickMenuItem(Form().ComSettingBtn);
  Dialog().Form()->Com_OK->click();  // chosen, even though it is the same port
  EXPECT_TRUE(Main().close());
  EXPECT_NE(ReadSettings().find("com_no=1\n"), std::string::npos);
}
