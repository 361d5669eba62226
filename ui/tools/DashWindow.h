// "Dash": a few values in big digits, for a screen on the dashboard, to
// drive by. Up to six tiles, each a value of the display table (a tap
// chooses which) with its bar, unit and the peak since the reading began;
// a tile turns red while its value is beyond a Value Setting limit, and
// every tile greys while the line is lost. A strip across the top flashes
// from an engine speed chosen here (a shift light); night mode darkens the
// window, by a button or by the clock. While the Dash shows a live reading
// the screen is kept from blanking.
//
// It follows the main window's display, a sample at a time, and repaints
// only the tiles whose number or bar moved: it is meant to run all the way
// through a drive on a small computer.
#pragma once

#include <QPalette>
#include <QString>
#include <QTime>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "analysis/ValueSettings.h"
#include "control/Session.h"
#include "ui/tools/ToolWindow.h"

namespace Ui {
class DashWindow;
}
class DashTile;
class QActionGroup;
class QMenu;
class QTimer;
class ScreenAwake;
class TConsultMainForm;

// Whether it is night at now by the user's sunset and sunrise: after
// sunset or before sunrise. A sunset past midnight (earlier in the day
// than sunrise) makes the night the hours from one to the other. When the
// two are equal there is no night.
bool NightByClock(QTime now, QTime sunset, QTime sunrise);

// What torvane --dash does once the windows are up: the ECU Auto Search
// of the main window, as its button runs it (a box when no cable is
// found), and Start when it found the ECU.
void StartReadingFromDash(TConsultMainForm& main);

class TDashWindow : public QWidget, public ToolWindow {
  Q_OBJECT

 public:
  static constexpr int kMaxTiles = 6;
  static constexpr std::array<int, 5> kTileCounts = {1, 2, 3, 4, 6};
  static constexpr int kShiftFlashMs = 125;  // lit and dark four times a second
  static constexpr int kClockLookMs = 30000;  // night by the clock is looked at this often

  TDashWindow(Session& session, const std::string& settingsPath);
  ~TDashWindow() override;

  Ui::DashWindow* Form() const { return ui_.get(); }
  QString MenuCaption() const override { return "&Dash"; }
  void ShowWindow() override;
  void SaveSettings(IniFile& ini) const override;
  void ApplyValueSettings(const ValueSettings& settings) override;

  int TileCount() const { return count_; }
  // One of kTileCounts; any other count is ignored.
  void SetTileCount(int count);
  // The row of kAllValueColumns a tile shows.
  int TileValue(int tile) const { return tiles_[static_cast<size_t>(tile)].column; }
  void ChooseValue(int tile, int column);
  DashTile& Tile(int tile) const { return *tiles_[static_cast<size_t>(tile)].widget; }
  // The tile's value menu, open after a tap until a value is chosen.
  QMenu& ValueMenu() const { return *menu_; }

  bool Night() const { return night_; }
  bool ShiftLightFlashing() const;
  bool ShiftLightLit() const { return shiftLit_; }
  // Whether night mode follows the clock, and a look at it for this time.
  void FollowClock(QTime now);
  ScreenAwake& Awake() { return *awake_; }

 public slots:
  // The current sample, if it is not the one shown; at the main window's
  // display ticks.
  void ShowSample();
  // A command changed the session's state: a reading began or ended, the
  // line went or came back.
  void FollowSession();
  void ToggleFullScreen();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  struct Slot {
    DashTile* widget = nullptr;
    int column = 0;
    // What the tile shows, in the units shown; nothing before its first value.
    bool shown = false;
    int32_t value = 0;
    bool peakShown = false;
    int32_t peak = 0;
  };

  void ReadSettings(const std::string& settingsPath);
  void ArrangeTiles();
  void DescribeTile(Slot& tile);
  void ShowTile(Slot& tile, bool lost);
  void ShowNothing();
  void TileTapped(int tile);
  // A reading or playback began, or another recording came: the peaks and
  // warnings start again.
  void FollowRun();
  bool LineLost() const;
  void SetNight(bool night);
  void ClockChoiceChanged();
  void ShowShiftLight(bool flashing);
  void PaintShiftLight();

  std::unique_ptr<Ui::DashWindow> ui_;
  Session& session_;
  std::array<Slot, kMaxTiles> tiles_{};
  int count_ = kMaxTiles;
  QMenu* menu_ = nullptr;
  QActionGroup* menuChoices_ = nullptr;
  int menuTile_ = 0;
  ValueSettings settings_;
  WarningWatch watch_;
  PeakHold peaks_;
  ValueReadings readings_{};
  bool fed_ = false;
  uint32_t fedVersion_ = 0;
  bool blank_ = true;  // the tiles read "-": no reading of the ECU yet
  bool lost_ = false;
  bool redraw_ = true;  // every tile is shown again at the next sample
  Run lastRun_ = Run::kStopped;
  uint64_t generation_ = 0;
  bool night_ = false;
  QPalette dayPalette_;
  QPalette nightPalette_;
  QTimer* flash_ = nullptr;
  QTimer* clock_ = nullptr;
  bool shiftLit_ = false;
  ScreenAwake* awake_ = nullptr;
  bool shownOnce_ = false;
};
