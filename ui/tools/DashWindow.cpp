#include "ui/tools/DashWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <vector>

#include "data/IniFile.h"
#include "ui/main/Consultmain.h"
#include "ui/tools/DashTile.h"
#include "ui/tools/ScreenAwake.h"
#include "ui/widgets/Placement.h"
#include "ui_Consultmain.h"
#include "ui_DashWindow.h"

namespace {

constexpr const char* kSection = "Dash";
// Engine speed, road speed, coolant, throttle, MAF voltage, ignition timing.
constexpr const char* kDefaultValues[TDashWindow::kMaxTiles] = {"rpm",      "speed", "coolant",
                                                                "throttle", "maf",   "ignition"};
const QTime kDefaultSunset(19, 30);
const QTime kDefaultSunrise(6, 30);
constexpr const char* kTimeFormat = "HH:mm";
const int kEngineSpeed = ValueColumnOf("rpm");

// Rows and columns of the grid for each count: side by side first, as
// dashboard screens are wider than high.
QSize GridOf(int count) {
  switch (count) {
    case 4: return {2, 2};
    case 6: return {3, 2};
    default: return {count, 1};
  }
}

int32_t Shown(int column, int32_t value, const ValueSettings& settings) {
  return static_cast<int32_t>(std::lround(ShownValue(column, value, settings)));
}

// Dark, with text dim but readable and the controls' edges still seen.
QPalette NightPalette() {
  QPalette night;
  const QColor text(0xa8, 0xa4, 0x98);
  const QColor faint(0x58, 0x56, 0x50);
  for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    const bool disabled = group == QPalette::Disabled;
    night.setColor(group, QPalette::Window, QColor(0x04, 0x04, 0x04));
    night.setColor(group, QPalette::WindowText, disabled ? faint : text);
    night.setColor(group, QPalette::Base, QColor(0x16, 0x16, 0x16));
    night.setColor(group, QPalette::AlternateBase, QColor(0x16, 0x16, 0x16));
    night.setColor(group, QPalette::Text, disabled ? faint : text);
    night.setColor(group, QPalette::PlaceholderText, faint);
    night.setColor(group, QPalette::Button, QColor(0x22, 0x22, 0x22));
    night.setColor(group, QPalette::ButtonText, disabled ? faint : text);
    night.setColor(group, QPalette::BrightText, QColor(0xd0, 0xcc, 0xc0));
    night.setColor(group, QPalette::Highlight, QColor(0x40, 0x48, 0x58));
    night.setColor(group, QPalette::HighlightedText, QColor(0xc8, 0xc4, 0xb8));
    night.setColor(group, QPalette::Light, QColor(0x48, 0x48, 0x48));
    night.setColor(group, QPalette::Midlight, QColor(0x38, 0x38, 0x38));
    night.setColor(group, QPalette::Mid, QColor(0x30, 0x30, 0x30));
    night.setColor(group, QPalette::Dark, QColor(0x24, 0x24, 0x24));
    night.setColor(group, QPalette::Shadow, QColor(0, 0, 0));
  }
  return night;
}

}  // namespace

bool NightByClock(QTime now, QTime sunset, QTime sunrise) {
  if (sunset == sunrise) return false;
  if (sunset > sunrise) return now >= sunset || now < sunrise;
  return now >= sunset && now < sunrise;
}

void StartReadingFromDash(TConsultMainForm& main) {
  // The search runs here, once, whether or not the settings tick it.
  main.AutoSearchTimer().stop();
  Ui::ConsultMainForm& form = *main.Form();
  if (form.AutoSearchBtn->isEnabled()) form.AutoSearchBtn->click();
  const Session& session = main.SessionOfWindow();
  if (session.State().ecuAnswered && session.LiveMode() && form.StartButton->isEnabled()) form.StartButton->click();
}

TDashWindow::TDashWindow(Session& session, const std::string& settingsPath)
    : QWidget(nullptr, Qt::Window), ui_(std::make_unique<Ui::DashWindow>()), session_(session) {
  ui_->setupUi(this);
  setObjectName("Dash");
  dayPalette_ = palette();
  nightPalette_ = NightPalette();
  for (int i = 0; i < kMaxTiles; ++i) {
    Slot& tile = tiles_[static_cast<size_t>(i)];
    tile.widget = new DashTile(ui_->TileArea);
    tile.widget->setObjectName("Tile" + QString::number(i + 1));
    tile.widget->setVisible(false);
    connect(tile.widget, &DashTile::Tapped, this, [this, i] { TileTapped(i); });
  }
  // The value menu of every tile: the table's values, the tile's own ticked.
  menu_ = new QMenu(this);
  menu_->setObjectName("ValueMenu");
  menuChoices_ = new QActionGroup(menu_);
  for (int c = 0; c < kAllValueCount; ++c) {
    QAction* choice = menu_->addAction(kAllValueColumns[static_cast<size_t>(c)].caption);
    choice->setCheckable(true);
    choice->setData(c);
    menuChoices_->addAction(choice);
  }
  connect(menuChoices_, &QActionGroup::triggered, this,
          [this](QAction* choice) { ChooseValue(menuTile_, choice->data().toInt()); });

  flash_ = new QTimer(this);
  flash_->setInterval(kShiftFlashMs);
  connect(flash_, &QTimer::timeout, this, [this] {
    shiftLit_ = !shiftLit_;
    PaintShiftLight();
  });
  clock_ = new QTimer(this);
  clock_->setInterval(kClockLookMs);
  connect(clock_, &QTimer::timeout, this, [this] { FollowClock(QTime::currentTime()); });
  awake_ = new ScreenAwake("Torvane", "The Dash shows a live reading", this);
  auto* fullScreen = new QShortcut(QKeySequence(Qt::Key_F11), this);
  connect(fullScreen, &QShortcut::activated, this, &TDashWindow::ToggleFullScreen);

  ReadSettings(settingsPath);
  for (Slot& tile : tiles_) DescribeTile(tile);
  ArrangeTiles();
  PaintShiftLight();

  connect(ui_->TileCountBox, &QComboBox::currentIndexChanged, this,
          [this](int index) { SetTileCount(ui_->TileCountBox->itemText(index).toInt()); });
  connect(ui_->ShiftEdit, &QSpinBox::valueChanged, this, [this] {
    redraw_ = true;
    ShowSample();
  });
  connect(ui_->NightButton, &QPushButton::toggled, this, &TDashWindow::SetNight);
  connect(ui_->ByClockBox, &QCheckBox::toggled, this, &TDashWindow::ClockChoiceChanged);
  connect(ui_->SunsetEdit, &QTimeEdit::timeChanged, this, &TDashWindow::ClockChoiceChanged);
  connect(ui_->SunriseEdit, &QTimeEdit::timeChanged, this, &TDashWindow::ClockChoiceChanged);
  connect(ui_->FullScreenButton, &QPushButton::toggled, this, [this](bool on) {
    if (on != isFullScreen()) ToggleFullScreen();
  });
  SetNight(ui_->NightButton->isChecked());
  ClockChoiceChanged();
}

TDashWindow::~TDashWindow() = default;

void TDashWindow::ReadSettings(const std::string& settingsPath) {
  const IniFile ini(settingsPath);
  // Each entry on its own: one that is missing or damaged gives its default.
  const int count = ini.ReadInteger(kSection, "Tiles", kMaxTiles);
  count_ = std::find(kTileCounts.begin(), kTileCounts.end(), count) != kTileCounts.end() ? count : kMaxTiles;
  for (int i = 0; i < kMaxTiles; ++i) {
    const std::string key = "Tile" + std::to_string(i + 1);
    const int column = ValueColumnOf(ini.ReadString(kSection, key, ""));
    tiles_[static_cast<size_t>(i)].column = column >= 0 ? column : ValueColumnOf(kDefaultValues[i]);
  }
  const int32_t shiftAt = ini.ReadInteger(kSection, "ShiftAt", 0);
  ui_->ShiftEdit->setValue(shiftAt >= 0 && shiftAt <= ui_->ShiftEdit->maximum() ? shiftAt : 0);
  ui_->NightButton->setChecked(ini.ReadInteger(kSection, "Night", 0) == 1);
  ui_->ByClockBox->setChecked(ini.ReadInteger(kSection, "ByClock", 0) == 1);
  auto time = [&](const char* key, QTime fallback) {
    const QTime read = QTime::fromString(QString::fromStdString(ini.ReadString(kSection, key, "")), kTimeFormat);
    return read.isValid() ? read : fallback;
  };
  ui_->SunsetEdit->setTime(time("Sunset", kDefaultSunset));
  ui_->SunriseEdit->setTime(time("Sunrise", kDefaultSunrise));
  const int32_t w = ini.ReadInteger(kSection, "Width", 0);
  const int32_t h = ini.ReadInteger(kSection, "Height", 0);
  if (w > 0 && h > 0) resize(std::max(w, minimumWidth()), std::max(h, minimumHeight()));
  // Its place is kept as that of its inside (the normal geometry, which a
  // full-screen Dash still knows), and so it comes back: move() would take
  // it for the frame's corner, and the Dash would creep down a title bar's
  // height at every start.
  if (ini.KeyExists(kSection, "Left") && ini.KeyExists(kSection, "Top"))
    setGeometry(QRect(QPoint(ini.ReadInteger(kSection, "Left", 0), ini.ReadInteger(kSection, "Top", 0)), size()));
  const QSignalBlocker quiet(ui_->TileCountBox);
  ui_->TileCountBox->setCurrentIndex(ui_->TileCountBox->findText(QString::number(count_)));
}

void TDashWindow::SaveSettings(IniFile& ini) const {
  // A Dash never opened has nothing new to keep: the file of someone who
  // never uses it stays as it was.
  if (!shownOnce_) return;
  const QRect place = normalGeometry().isValid() ? normalGeometry() : geometry();
  ini.WriteInteger(kSection, "Tiles", count_);
  for (int i = 0; i < kMaxTiles; ++i)
    ini.WriteString(kSection, "Tile" + std::to_string(i + 1),
                    kAllValueColumns[static_cast<size_t>(tiles_[static_cast<size_t>(i)].column)].key);
  ini.WriteInteger(kSection, "ShiftAt", ui_->ShiftEdit->value());
  ini.WriteInteger(kSection, "Night", ui_->NightButton->isChecked() ? 1 : 0);
  ini.WriteInteger(kSection, "ByClock", ui_->ByClockBox->isChecked() ? 1 : 0);
  ini.WriteString(kSection, "Sunset", ui_->SunsetEdit->time().toString(kTimeFormat).toStdString());
  ini.WriteString(kSection, "Sunrise", ui_->SunriseEdit->time().toString(kTimeFormat).toStdString());
  ini.WriteInteger(kSection, "Left", place.x());
  ini.WriteInteger(kSection, "Top", place.y());
  ini.WriteInteger(kSection, "Width", place.width());
  ini.WriteInteger(kSection, "Height", place.height());
}

void TDashWindow::ShowWindow() { ShowInFront(*this); }

void TDashWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  shownOnce_ = true;
  redraw_ = true;  // hidden, it let samples pass: the current one is shown at once
  ShowSample();
}

void TDashWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  awake_->Hold(false);
  ShowShiftLight(false);
}

void TDashWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) {
    const QSignalBlocker quiet(ui_->FullScreenButton);
    ui_->FullScreenButton->setChecked(isFullScreen());
    if (awake_ != nullptr) FollowRun();  // minimised, the screen may blank again
  }
}

void TDashWindow::ToggleFullScreen() {
  if (isFullScreen()) {
    showNormal();
  } else {
    showFullScreen();
  }
}

void TDashWindow::ApplyValueSettings(const ValueSettings& settings) {
  settings_ = settings;
  for (Slot& tile : tiles_) DescribeTile(tile);
  redraw_ = true;
  ShowSample();
}

void TDashWindow::SetTileCount(int count) {
  if (std::find(kTileCounts.begin(), kTileCounts.end(), count) == kTileCounts.end() || count == count_) return;
  count_ = count;
  {
    const QSignalBlocker quiet(ui_->TileCountBox);
    ui_->TileCountBox->setCurrentIndex(ui_->TileCountBox->findText(QString::number(count_)));
  }
  ArrangeTiles();
  redraw_ = true;
  ShowSample();
}

void TDashWindow::ArrangeTiles() {
  QGridLayout& grid = *ui_->TileGrid;
  for (Slot& tile : tiles_) grid.removeWidget(tile.widget);
  // A grid keeps the stretch of rows and columns it once had: none but
  // those in use may take room.
  for (int r = 0; r < grid.rowCount(); ++r) grid.setRowStretch(r, 0);
  for (int c = 0; c < grid.columnCount(); ++c) grid.setColumnStretch(c, 0);
  const QSize shape = GridOf(count_);
  for (int i = 0; i < kMaxTiles; ++i) {
    DashTile* widget = tiles_[static_cast<size_t>(i)].widget;
    if (i < count_) {
      grid.addWidget(widget, i / shape.width(), i % shape.width());
      widget->setVisible(true);
    } else {
      widget->setVisible(false);
    }
  }
  for (int r = 0; r < shape.height(); ++r) grid.setRowStretch(r, 1);
  for (int c = 0; c < shape.width(); ++c) grid.setColumnStretch(c, 1);
}

// The caption, unit, range and widest number of the tile's value, in the
// units chosen now.
void TDashWindow::DescribeTile(Slot& tile) {
  const ValueColumn& column = kAllValueColumns[static_cast<size_t>(tile.column)];
  const int32_t low = Shown(tile.column, column.rangeMin, settings_);
  const int32_t high = Shown(tile.column, column.rangeMax, settings_);
  QString widest = QString::number(low).size() > QString::number(high).size() ? QString::number(low)
                                                                                 : QString::number(high);
  for (QChar& c : widest)
    if (c.isDigit()) c = '8';
  // "Coolant Temp [deg C]": the unit goes under the number.
  const QString caption = QString::fromStdString(ShownCaption(tile.column, settings_)).section(" [", 0, 0);
  tile.widget->SetValue(caption, QString::fromStdString(ShownUnit(tile.column, settings_)), widest, low, high);
  tile.shown = false;
  tile.peakShown = false;
}

void TDashWindow::ChooseValue(int tile, int column) {
  if (tile < 0 || tile >= kMaxTiles || column < 0 || column >= kAllValueCount) return;
  Slot& chosen = tiles_[static_cast<size_t>(tile)];
  chosen.column = column;
  DescribeTile(chosen);
  redraw_ = true;
  ShowSample();
}

void TDashWindow::TileTapped(int tile) {
  menuTile_ = tile;
  for (QAction* choice : menuChoices_->actions())
    choice->setChecked(choice->data().toInt() == tiles_[static_cast<size_t>(tile)].column);
  // Under the finger, where it tapped.
  const DashTile& widget = Tile(tile);
  menu_->popup(widget.mapToGlobal(widget.rect().center()));
}

bool TDashWindow::ShiftLightFlashing() const { return flash_->isActive(); }

bool TDashWindow::LineLost() const {
  return session_.State().run == Run::kRecording && (session_.LineLost() || !session_.Enabled().ecuLamp);
}

void TDashWindow::FollowRun() {
  const Run run = session_.State().run;
  const uint64_t generation = session_.RecordingGeneration();
  if ((run != Run::kStopped && lastRun_ == Run::kStopped) || generation != generation_) {
    peaks_.Reset();
    watch_.Reset();
    fed_ = false;
    redraw_ = true;
  }
  lastRun_ = run;
  generation_ = generation;
  awake_->Hold(isVisible() && !isMinimized() && run == Run::kRecording);
  if (run == Run::kStopped) ShowShiftLight(false);
}

void TDashWindow::FollowSession() {
  FollowRun();
  if (isVisible() && LineLost() != lost_) ShowSample();
}

void TDashWindow::ShowSample() {
  FollowRun();
  // Before the first Start, and before the first live reading once the
  // ECU is open, the sample is nobody's: nothing to show yet, as in the
  // main window.
  const LastStart started = session_.State().lastStart;
  if (started == LastStart::kNone || (session_.LiveMode() && started != LastStart::kLive)) {
    if (isVisible() && (!blank_ || redraw_)) ShowNothing();
    return;
  }
  uint32_t version = 0;
  const SampleRecord sample = session_.Recording().current.Load(version);
  const bool fresh = !fed_ || version != fedVersion_;
  // The peaks and warnings follow the reading while the Dash is hidden
  // too: they are the reading's since it began.
  if (fresh) {
    readings_ = ReadingsOf(sample);
    std::vector<WarningWatch::Crossing> crossed;  // the main window reports them
    watch_.Feed(readings_, settings_, crossed);
    peaks_.Feed(readings_);
    fed_ = true;
    fedVersion_ = version;
  }
  if (!isVisible()) return;
  const bool lost = LineLost();
  if (!fresh && !redraw_ && !blank_ && lost == lost_) return;
  if (redraw_ || blank_)
    for (Slot& tile : tiles_) tile.shown = tile.peakShown = false;
  redraw_ = false;
  blank_ = false;
  lost_ = lost;
  for (int i = 0; i < count_; ++i) ShowTile(tiles_[static_cast<size_t>(i)], lost);
  const std::optional<int32_t>& engineSpeed = readings_[static_cast<size_t>(kEngineSpeed)];
  const int shiftAt = ui_->ShiftEdit->value();
  ShowShiftLight(shiftAt > 0 && engineSpeed && *engineSpeed >= shiftAt && session_.State().run != Run::kStopped);
}

void TDashWindow::ShowTile(Slot& tile, bool lost) {
  DashTile& widget = *tile.widget;
  const std::optional<int32_t>& reading = readings_[static_cast<size_t>(tile.column)];
  if (!reading) {
    // The ECU did not send it: no number, and an empty bar.
    widget.SetReading("n/a", std::nullopt);
    tile.shown = false;
  } else if (const int32_t value = Shown(tile.column, *reading, settings_); !tile.shown || value != tile.value) {
    widget.SetReading(QString::number(value), value);
    tile.shown = true;
    tile.value = value;
  }
  if (peaks_.Has(tile.column)) {
    const int32_t peak = Shown(tile.column, peaks_.Peak(tile.column), settings_);
    if (!tile.peakShown || peak != tile.peak) {
      widget.SetPeak(QString("max %1").arg(peak), peak);
      tile.peakShown = true;
      tile.peak = peak;
    }
  } else if (tile.peakShown || !widget.PeakText().isEmpty()) {
    widget.SetPeak(QString(), std::nullopt);
    tile.peakShown = false;
  }
  widget.SetLook(lost                        ? DashTile::Look::kLost
                 : watch_.Warning(tile.column) ? DashTile::Look::kWarning
                                               : DashTile::Look::kPlain);
}

void TDashWindow::ShowNothing() {
  for (Slot& tile : tiles_) {
    tile.widget->SetReading("-", std::nullopt);
    tile.widget->SetPeak(QString(), std::nullopt);
    tile.widget->SetLook(DashTile::Look::kPlain);
    tile.shown = tile.peakShown = false;
  }
  blank_ = true;
  redraw_ = false;
  lost_ = false;
  ShowShiftLight(false);
}

void TDashWindow::SetNight(bool night) {
  night_ = night;
  {
    const QSignalBlocker quiet(ui_->NightButton);
    ui_->NightButton->setChecked(night);
  }
  setPalette(night ? nightPalette_ : dayPalette_);
  for (Slot& tile : tiles_) tile.widget->SetNight(night);
  PaintShiftLight();
}

void TDashWindow::ClockChoiceChanged() {
  const bool byClock = ui_->ByClockBox->isChecked();
  // By the clock, the button shows what the clock says.
  ui_->NightButton->setEnabled(!byClock);
  for (QWidget* edit : {static_cast<QWidget*>(ui_->SunsetEdit), static_cast<QWidget*>(ui_->SunriseEdit)})
    edit->setEnabled(byClock);
  if (byClock) {
    clock_->start();
    FollowClock(QTime::currentTime());
  } else {
    clock_->stop();
  }
}

void TDashWindow::FollowClock(QTime now) {
  if (!ui_->ByClockBox->isChecked()) return;
  const bool night = NightByClock(now, ui_->SunsetEdit->time(), ui_->SunriseEdit->time());
  if (night != night_) SetNight(night);
}

void TDashWindow::ShowShiftLight(bool flashing) {
  if (flashing == flash_->isActive()) return;
  if (flashing) {
    flash_->start();
  } else {
    flash_->stop();
  }
  // Lit at once when the speed gets there; dark at once when it drops.
  shiftLit_ = flashing;
  PaintShiftLight();
}

void TDashWindow::PaintShiftLight() {
  QPalette strip = palette();
  const QColor lit = night_ ? QColor(0xa0, 0x20, 0x00) : QColor(0xff, 0x30, 0x00);
  strip.setColor(QPalette::Window, shiftLit_ ? lit : palette().color(QPalette::Window));
  ui_->ShiftLight->setPalette(strip);
}
