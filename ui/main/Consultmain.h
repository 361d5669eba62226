// The main window: the menu, the Start and Stop buttons, the values, the
// status list and the position bar. Each handler hands its command to the
// session, shows the lines it reports and the enabled states that follow
// from the session's state; the session does the work.
#pragma once

#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

#include "analysis/WarningBell.h"
#include "control/Session.h"
#include "ui/app/WindowContext.h"

namespace Ui {
class ConsultMainForm;
}
class QAction;
class QTimer;
class DisplayTimer;
class LiveDisplay;
class RecorderBridge;
class TCom_set_Form;
class TExportDlg;
class TAboutBox;
class THelpWindow;
struct ValueSettings;
class ToolWindow;
class UserDialogs;

// The scroll codes the position bar's handler tells apart, in the order of
// the scroll-bar messages they come from.
enum class ScrollCode { LineUp, LineDown, PageUp, PageDown, Position, Track, Top, Bottom, EndScroll };

class TConsultMainForm : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 697;
  static constexpr int kClientHeight = 608;

  // Runs FormCreate. The secondary windows do not exist yet; they are handed
  // over with SetSecondaryWindows once created.
  TConsultMainForm(Session& session, const WindowContext& context, QWidget* parent = nullptr);
  ~TConsultMainForm() override;

  // The settings file this window and the Tool menu's windows read and write.
  const std::string& SettingsFilePath() const { return context_.settingsPath; }
  void SetSecondaryWindows(TCom_set_Form* comSetForm, TExportDlg* exportDlg, TAboutBox* aboutBox,
                           THelpWindow* helpWindow);
  // The settings Setting > Value Setting applies, and those shown now.
  void ApplyValueSettings(const ValueSettings& settings);
  const ValueSettings& ShownValueSettings() const;
  // The warning tone's settings Setting > Sound applies, and those in use.
  void ApplySoundSettings(const SoundSettings& settings) { sound_ = settings; }
  const SoundSettings& ShownSoundSettings() const { return sound_; }
  // The Tool menu: each window's item (the form's item of that caption, or
  // a new one) shows it, and each keeps its settings with the program's.
  void SetToolWindows(const std::vector<ToolWindow*>& tools);

  // A click on a menu item: does nothing while the item is disabled.
  static void ClickMenuItem(QAction* item);

  Ui::ConsultMainForm* Form() const { return ui_.get(); }
  DisplayTimer& DataShowTimer() { return *dataShowTimer_; }
  QTimer& AutoSearchTimer() { return *autoSearchTimer_; }
  Session& SessionOfWindow() { return session_; }
  // What the recorder's steps show in this window.
  RecorderBridge& Bridge() { return *bridge_; }
  // A line in the status list, which becomes its selected last line.
  void AddStatusLine(const std::string& line);
  // The lines of a command, then the enabled states its new state means.
  void ShowOutcome(const CommandOutcome& outcome);
  // The ECU No. box, for a number read elsewhere than ECU No. Check.
  void ShowEcuNumber(const QString& number);
  void ShowSample();

 signals:
  // The main window has closed: the message loop may end.
  void Closed();
  // The display has shown the current sample.
  void DisplayTicked();
  // The commands' enabled states changed: the windows of the ECU Control
  // and Setting menus follow them.
  void CommandsEnabled(const EnabledCommands& enabled);
  // The session took the registers chosen for the ECU just identified.
  void RegisterChoiceLoaded();

 public slots:
  void FormCreate();
  void FormCloseQuery(bool& canClose);
  // The program is told to end (SIGTERM, SIGHUP, SIGINT): closes as File >
  // Exit would, without asking; an unsaved recording goes to the recovery
  // folder first.
  void CloseForTermination();
  void FormResize();
  void SaveSettings();

  // File menu.
  void FileOpenClick();
  void SaveAsClick();
  void ExporttoExcelcsvClick();
  void AppExitClick();
  // Setting menu.
  void ComSettingBtnClick();
  void ClearLog1Click();
  void Time_minClick();
  void Time_secClick();
  void Time_msecClick();
  // ECU Control menu and buttons.
  void ECUOpenClick();
  void ECUCloseClick();
  void ECUInitClick();
  void ECUNoCheckClick();
  void ECUAutoSearchClick();
  void AutoSearchBtnClick();
  void AutoSearchTimerTimer();
  void StartButtonClick();
  void StopButtonClick();
  // Help menu.
  void HowtoUseHelp1Click();
  void About1Click();
  // Live display and playback.
  void DataShowTimerTimer();
  void PlayPositionBarScroll(ScrollCode scrollCode);
  void PlayPositionBarChange();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ConnectHandlers();
  void ReadSettings();
  void CheckTimeUnit(TimeUnit unit);
  void ApplyEnabled();
  // The registers kept for the ECU read last (or for an ECU not yet read)
  // go to the session.
  void LoadRegisterChoice();
  void SoundWarning();
  int32_t SelectedPort() const;
  UserDialogs& Dialogs() const { return context_.dialogs; }

  std::unique_ptr<Ui::ConsultMainForm> ui_;
  Session& session_;
  WindowContext context_;
  std::shared_ptr<RecorderBridge> bridge_;
  std::unique_ptr<LiveDisplay> display_;
  DisplayTimer* dataShowTimer_;
  QTimer* autoSearchTimer_;
  TCom_set_Form* comSetForm_ = nullptr;
  TExportDlg* exportDlg_ = nullptr;
  TAboutBox* aboutBox_ = nullptr;
  THelpWindow* helpWindow_ = nullptr;
  std::vector<ToolWindow*> tools_;
  SoundSettings sound_;
  WarningBell bell_;
};
