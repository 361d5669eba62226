#include "ui/tools/MoreValuesWindow.h"

#include <QGridLayout>
#include <QLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ui/widgets/Placement.h"
#include "ui/widgets/ValueBar.h"
#include "ui/widgets/ValueLabel.h"
#include "ui_MoreValuesWindow.h"

namespace {

// As the main window draws its captions and numbers.
constexpr const char* kCaptionStyle = "color: navy; font: bold 16px \"Century Gothic\";";
constexpr const char* kNumberStyle = "color: purple; font: bold 16px \"Century Gothic\";";
constexpr int kExtraBank = 3;  // in kAllBitBanks

RegisterMask BankRegister() {
  return RegisterMask{1} << CatalogueIndexOf(kAllBitBanks[kExtraBank].registerNumber);
}

}  // namespace

TMoreValuesWindow::TMoreValuesWindow(Session& session, RecordingModel& recording)
    : QWidget(nullptr, Qt::Window), ui_(std::make_unique<Ui::MoreValuesWindow>()), session_(session), recording_(recording) {
  ui_->setupUi(this);
  setObjectName("MoreValues");
  QGridLayout& grid = *ui_->ValuesLayout;
  for (int i = 0; i < kExtraValueCount; ++i) {
    Row& row = rows_[static_cast<size_t>(i)];
    row.column = kValueCount + i;
    const ValueColumn& column = kAllValueColumns[static_cast<size_t>(row.column)];
    const QString key = column.key;
    row.caption = new QLabel(column.caption, ui_->ValuesFrame);
    row.caption->setObjectName("Caption_" + key);
    row.caption->setStyleSheet(kCaptionStyle);
    row.caption->setMinimumWidth(216);
    row.bar = new ValueBar(ui_->ValuesFrame);
    row.bar->setObjectName("Bar_" + key);
    row.bar->setTextVisible(false);
    row.bar->setFixedSize(201, 24);
    row.bar->setRange(static_cast<int>(std::lround(ShownValue(row.column, column.rangeMin, settings_))),
                      static_cast<int>(std::lround(ShownValue(row.column, column.rangeMax, settings_))));
    row.bar->setValue(row.bar->minimum());
    row.number = new ValueLabel("-", ui_->ValuesFrame);
    row.number->setObjectName("Value_" + key);
    row.number->setStyleSheet(kNumberStyle);
    row.number->setMinimumSize(55, 24);
    row.number->setBackgroundRole(QPalette::Window);
    row.number->setAutoFillBackground(true);
    row.numberStyle = row.number->styleSheet();
    row.barPalette = row.bar->palette();
    grid.addWidget(row.caption, i, 0);
    grid.addWidget(row.bar, i, 1);
    grid.addWidget(row.number, i, 2);
    for (QWidget* w : {static_cast<QWidget*>(row.caption), static_cast<QWidget*>(row.bar), static_cast<QWidget*>(row.number)})
      w->setVisible(false);
    const int index = row.column;
    ValueBar* bar = row.bar;
    connect(bar, &ValueBar::MarkClearRequested, bar, [this, index, bar] {
      peaks_.Reset(index);
      bar->SetMark(false);
    });
  }
  ui_->BankGroup->setTitle(kAllBitBanks[kExtraBank].groupCaption);
  for (size_t b = 0; b < kExtraBitColumns.size(); ++b) {
    marks_[b] = findChild<QRadioButton*>(kExtraBitColumns[b].indicator);
    marks_[b]->setText(kExtraBitColumns[b].caption);
    // The indicators show bits; the user does not toggle them.
    marks_[b]->setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  ui_->BankGroup->setVisible(false);
  List(0);
  subscription_ = recording_.Subscribe([this](const RecordingModel::Change& change) { RecordingChanged(change); });
}

TMoreValuesWindow::~TMoreValuesWindow() { recording_.Unsubscribe(subscription_); }

void TMoreValuesWindow::ShowWindow() { ShowInFront(*this); }

void TMoreValuesWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  anyShown_ = false;  // hidden, it let samples pass: the current one is shown at once
  ShowSample();
}

void TMoreValuesWindow::ApplyValueSettings(const ValueSettings& settings) {
  settings_ = settings;
  for (Row& row : rows_) {
    row.caption->setText(QString::fromStdString(ShownCaption(row.column, settings_)));
    row.shown = false;
    if (!settings_.LimitOf(row.column).peakHold) row.bar->SetMark(false);
  }
  anyShown_ = false;
  ShowSample();
}

void TMoreValuesWindow::RecordingChanged(const RecordingModel::Change& change) {
  // Another recording: its peaks and warnings are its own.
  if (change.replaced) {
    peaks_.Reset();
    watch_.Reset();
    for (Row& row : rows_) row.bar->SetMark(false);
  }
  if (change.Any()) ShowSample();
}

RegisterMask TMoreValuesWindow::Offered(const SampleRecord& sample) const {
  if (recording_.LiveMode()) {
    // What the last live Start asked for, lacking ones too; before one,
    // what the next will ask for.
    return session_.State().lastStart == LastStart::kLive ? session_.StreamedRegisters() | session_.LackingRegisters()
                                                          : session_.Registers();
  }
  return session_.Recording().registersAsked | PresentRegisters(sample);
}

bool TMoreValuesWindow::Lists(int column) const {
  return column >= kValueCount && column < kAllValueCount && rows_[static_cast<size_t>(column - kValueCount)].listed;
}

QString TMoreValuesWindow::Shown(int column) const {
  return Lists(column) ? rows_[static_cast<size_t>(column - kValueCount)].number->text() : QString();
}

bool TMoreValuesWindow::ListsBank() const { return (offered_ & BankRegister()) != 0; }

void TMoreValuesWindow::List(RegisterMask offered) {
  offered_ = offered;
  listedOnce_ = true;
  int listed = 0;
  for (Row& row : rows_) {
    row.listed = (RegistersOf(kAllValueColumns[static_cast<size_t>(row.column)]) & offered) != 0;
    for (QWidget* w : {static_cast<QWidget*>(row.caption), static_cast<QWidget*>(row.bar), static_cast<QWidget*>(row.number)})
      w->setVisible(row.listed);
    listed += row.listed ? 1 : 0;
  }
  ui_->ValuesFrame->setVisible(listed > 0);
  ui_->BankGroup->setVisible(ListsBank());
  ui_->NoteLabel->setText(listed > 0 || ListsBank()
                              ? QString("The values beyond the main window's that the recording holds or the reading "
                                        "asks for; n/a where the ECU did not send them.")
                              : QString("This recording holds no values beyond the main window's. Choose more "
                                        "registers in ECU Control > Registers; they show here from the next Start."));
  // As high as the rows listed now: no empty space, no row squeezed.
  layout()->activate();
  resize(width(), sizeHint().height());
  anyShown_ = false;
}

void TMoreValuesWindow::ShowSample() {
  if (!isVisible()) return;
  uint32_t version = 0;
  const SampleRecord sample = session_.Recording().current.Load(version);
  const RegisterMask offered = Offered(sample);
  if (!listedOnce_ || offered != offered_) List(offered);
  // Before the first live reading the sample is nobody's: nothing to show
  // yet, as in the main window.
  if (recording_.LiveMode() && session_.State().lastStart != LastStart::kLive) {
    if (!blank_) ShowNothing();
    blank_ = true;
    anyShown_ = false;
    return;
  }
  if (anyShown_ && version == shownVersion_) return;
  anyShown_ = true;
  blank_ = false;
  shownVersion_ = version;
  // The main window reports the warnings; here they only colour the rows.
  const ValueReadings readings = ReadingsOf(sample);
  std::vector<WarningWatch::Crossing> crossed;
  watch_.Feed(readings, settings_, crossed);
  peaks_.Feed(readings);
  for (Row& row : rows_)
    if (row.listed) ShowRow(row, readings[static_cast<size_t>(row.column)]);
  if (ListsBank()) ShowBank(sample);
}

void TMoreValuesWindow::ShowNothing() {
  for (Row& row : rows_) {
    row.number->setText("-");
    row.number->setStyleSheet(row.numberStyle);
    row.bar->setValue(row.bar->minimum());
    row.bar->setPalette(row.barPalette);
    row.shown = row.absent = row.warned = false;
  }
  ui_->DigBit4->setText(kAllBitBanks[kExtraBank].hexField);
  for (QRadioButton* mark : marks_) {
    mark->setChecked(false);
    mark->setEnabled(true);
  }
}

void TMoreValuesWindow::ShowRow(Row& row, const std::optional<int32_t>& value) {
  auto shown = [&](int32_t v) { return static_cast<int32_t>(std::lround(ShownValue(row.column, v, settings_))); };
  const bool absent = !value.has_value();
  if (absent && !row.absent) {
    row.number->setText("n/a");
    row.bar->setValue(row.bar->minimum());
    row.shown = false;
  } else if (!absent && (!row.shown || *value != row.lastShown)) {
    const ValueColumn& column = kAllValueColumns[static_cast<size_t>(row.column)];
    row.number->setText(QString::number(shown(*value)));
    row.bar->setValue(std::clamp(shown(*value), shown(column.rangeMin), shown(column.rangeMax)));
    row.shown = true;
    row.lastShown = *value;
  }
  const bool warned = watch_.Warning(row.column);
  if (absent != row.absent || warned != row.warned) {
    row.number->setStyleSheet(absent ? row.numberStyle + " color: gray;"
                              : warned ? row.numberStyle + " color: red;"
                                       : row.numberStyle);
    QPalette bar = row.barPalette;
    if (warned) bar.setColor(QPalette::Highlight, Qt::red);
    row.bar->setPalette(bar);
  }
  row.absent = absent;
  row.warned = warned;
  if (settings_.LimitOf(row.column).peakHold && peaks_.Has(row.column)) {
    const int32_t peak = shown(peaks_.Peak(row.column));
    row.bar->SetMark(true, peak, QString("max %1").arg(peak));
  }
}

void TMoreValuesWindow::ShowBank(const SampleRecord& sample) {
  const BitBank& bank = kAllBitBanks[kExtraBank];
  const bool held = (PresentRegisters(sample) & BankRegister()) != 0;
  const uint8_t byte = sample[bank.recordByte];
  ui_->DigBit4->setText(held ? QString::asprintf("%s : 0x%02X", bank.hexField, byte)
                             : QString("%1 : n/a").arg(bank.hexField));
  for (size_t b = 0; b < kExtraBitColumns.size(); ++b) {
    marks_[b]->setEnabled(held);
    marks_[b]->setChecked(held && BitIsSet(kExtraBitColumns[b], sample));
  }
}
