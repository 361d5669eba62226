// The main window: start-up and close, the main menu, the live display,
// the status log and playback, and the ECU control commands.
#pragma once

#include <QMainWindow>
#include <QElapsedTimer>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "data/Recorder.h"
#include "control/ProgramInstances.h"
#include "ui/main/RecorderBridge.h"
#include "ui/app/WindowContext.h"

namespace Ui {
class ConsultMainForm;
}
class QAction;
class QLabel;
class QLineEdit;
class QProgressBar;
class QRadioButton;
class TCom_set_Form;
class TExportDlg;
class TAboutBox;
class THelpWindow;
class TSubWindow;
class TRunCheckWindow;
class TPowerMeterWindow;

// The windows of the Tool menu, created after the others.
struct ToolWindows {
  TSubWindow* subWindow = nullptr;
  TRunCheckWindow* check400 = nullptr;
  TRunCheckWindow* check1000 = nullptr;
  TPowerMeterWindow* powerMeter = nullptr;
};

// The scroll codes the position bar's handler tells apart, in the order of
// the scroll-bar messages they come from.
enum class ScrollCode { LineUp, LineDown, PageUp, PageDown, Position, Track, Top, Bottom, EndScroll };

class TConsultMainForm : public QMainWindow, public RecorderView {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 697;
  static constexpr int kClientHeight = 608;

  // Runs FormCreate. The secondary windows do not exist yet; they are handed
  // over with SetSecondaryWindows once created.
  TConsultMainForm(const ProgramInstances& instances, const WindowContext& context,
                   QWidget* parent = nullptr);
  ~TConsultMainForm() override;

  // The settings file this window and the Tool menu's windows read and write.
  const std::string& SettingsFilePath() const { return context_.settingsPath; }
  void SetSecondaryWindows(TCom_set_Form* comSetForm, TExportDlg* exportDlg, TAboutBox* aboutBox,
                           THelpWindow* helpWindow);
  void SetToolWindows(const ToolWindows& tools) { tools_ = tools; }

  // A click on a menu item: does nothing while the item is disabled.
  static void ClickMenuItem(QAction* item);

  Ui::ConsultMainForm* Form() const { return ui_.get(); }
  QTimer& DataShowTimer() { return dataShowTimer_; }
  QTimer& AutoSearchTimer() { return autoSearchTimer_; }
  Recorder& RecorderOfWindow();

  void ShowSample();

  // RecorderView. From the clock's thread each effect is queued and applied
  // here, on the interface thread, in the order made.
  bool TimeUnitChecked(TimeUnit unit) override;
  void SetStatusText(const std::string& text) override;
  void SetPlayPosition(int32_t position) override;
  void ClickStopButton() override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void AddStatusLine(const std::string& line) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;

 signals:
  // The main window has closed: the message loop may end.
  void Closed();
  // The display has shown the current sample, every 5 ms while it runs.
  void DisplayTicked();

 public slots:
  void FormCreate();
  void FormCloseQuery(bool& canClose);
  // The program is told to end (SIGTERM, SIGHUP, SIGINT): closes as File >
  // Exit would, without asking; an unsaved recording goes to the recovery
  // folder first.
  void CloseForTermination();
  void FormResize();
  void SaveSettings();

  // File menu (the log file commands fill these in).
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
  // Tool menu: each item shows and raises its window.
  void SubWindow1Click();
  void N0400Check1Click();
  void N01000Check1Click();
  void PowerMeter1Click();
  // Live display and playback.
  void DataShowTimerTimer();
  void PlayPositionBarScroll(ScrollCode scrollCode);
  void PlayPositionBarChange();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct ValueRow {
    const ValueColumn* column;
    QLabel* valueLabel;
    QProgressBar* bar;
    // The value the label shows; none while it shows "-".
    bool shown = false;
    int32_t lastShown = 0;
  };
  struct Indicator {
    const BitColumn* bit;
    QRadioButton* mark;
  };

  void SetUpControls();
  void ConnectHandlers();
  void CheckTimeUnit(TimeUnit unit);
  void PostEffect(std::function<void()> effect);
  void ScheduleViewFlush();
  void FlushViewUpdates();
  void CloseProtocol();
  void MarkRecording(bool unsaved);
  int32_t SelectedPort() const;
  UserDialogs& Dialogs() const { return context_.dialogs; }

  std::unique_ptr<Ui::ConsultMainForm> ui_;
  ProgramInstances instances_;
  WindowContext context_;
  std::shared_ptr<RecorderBridge> bridge_;
  TCom_set_Form* comSetForm_ = nullptr;
  TExportDlg* exportDlg_ = nullptr;
  TAboutBox* aboutBox_ = nullptr;
  THelpWindow* helpWindow_ = nullptr;
  ToolWindows tools_;

  QTimer dataShowTimer_;
  bool playbackRunning_ = false;  // Start in playback mode until Stop
  QTimer autoSearchTimer_;

  std::array<ValueRow, kValueCount> rows_{};
  std::array<Indicator, kBitCount> indicators_{};
  std::array<uint8_t, kBankCount> previousBankBytes_{};
  std::array<QLineEdit*, kBankCount> hexFields_{};
  bool hexShown_ = false;  // the hex fields still show their design texts

  // The checked time unit, readable by the clock's thread.
  std::atomic<bool> msecChecked_{true};
  std::atomic<bool> secChecked_{false};
  std::atomic<bool> minChecked_{false};

  // Effects of recorder steps waiting for the interface thread.
  EffectQueue effects_{this};
  // The latest readout and bar position from the clock's thread.
  static constexpr qint64 kViewFlushMs = 40;
  std::mutex latestLock_;
  std::string latestStatus_;
  int32_t latestPosition_ = 0;
  bool statusWaiting_ = false;
  bool positionWaiting_ = false;
  std::atomic<bool> flushScheduled_{false};
  QTimer viewFlushTimer_;
  QElapsedTimer lastFlush_;
};
