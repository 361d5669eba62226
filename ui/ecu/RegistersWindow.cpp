#include "ui/ecu/RegistersWindow.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableWidget>

#include <cmath>

#include "data/IniFile.h"
#include "control/RegisterChoice.h"
#include "data/Escape.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/widgets/Placement.h"
#include "ui_RegistersWindow.h"

namespace {

constexpr RegisterMask Bit(int k) { return RegisterMask{1} << k; }

// The registers that make one value with register k (k itself when none):
// a word is streamed whole or not at all.
RegisterMask ValueOf(int k) {
  RegisterMask together = Bit(k);
  for (const ValueColumn& column : kAllValueColumns)
    if ((RegistersOf(column) & Bit(k)) != 0) together |= RegistersOf(column);
  return together;
}

// The unit of the value the register belongs to; a bank holds bits.
QString UnitOf(int k) {
  for (const ValueColumn& column : kAllValueColumns)
    if ((RegistersOf(column) & Bit(k)) != 0) return column.unit;
  for (const BitBank& bank : kAllBitBanks)
    if (bank.registerNumber == kCatalogue[static_cast<size_t>(k)].number) return "bits";
  return {};
}

}  // namespace

TRegistersWindow::TRegistersWindow(Session& session, const WindowContext& context, Report report)
    : ui_(std::make_unique<Ui::RegistersWindow>()), session_(session), context_(context), report_(std::move(report)) {
  ui_->setupUi(this);
  WrapWithinWindow(*ui_->BudgetLabel);
  QTableWidget& table = *ui_->RegisterTable;
  table.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table.setRowCount(kCatalogueSize);
  for (int k = 0; k < kCatalogueSize; ++k) {
    const CatalogueRegister& entry = kCatalogue[static_cast<size_t>(k)];
    auto* tick = new QTableWidgetItem;
    tick->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    tick->setCheckState(Qt::Unchecked);
    table.setItem(k, kStream, tick);
    auto text = [&](int column, const QString& value) {
      auto* item = new QTableWidgetItem(value);
      item->setFlags(Qt::ItemIsEnabled);
      table.setItem(k, column, item);
    };
    text(kNumber, QString::asprintf("%02X", entry.number));
    text(kName, QString::fromUtf8(entry.name));
    text(kUnit, UnitOf(k));
    text(kThisEcu, QString());
  }
  // Rows as high as a line of text: more of the catalogue in sight.
  table.verticalHeader()->setDefaultSectionSize(table.fontMetrics().height() + 6);
  table.resizeColumnsToContents();
  connect(&table, &QTableWidget::itemChanged, this, &TRegistersWindow::TickChanged);
  connect(ui_->ProbeButton, &QPushButton::clicked, this, &TRegistersWindow::ProbeButtonClick);
  connect(ui_->EighteenButton, &QPushButton::clicked, this, &TRegistersWindow::EighteenButtonClick);
  connect(ui_->OkButton, &QPushButton::clicked, this, &TRegistersWindow::OkButtonClick);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &TRegistersWindow::CancelButtonClick);
  ShowSessionChoice();
  FollowSession();
}

TRegistersWindow::~TRegistersWindow() = default;

QTableWidgetItem* TRegistersWindow::Tick(int k) const { return ui_->RegisterTable->item(k, kStream); }

RegisterMask TRegistersWindow::Ticked() const {
  RegisterMask mask = 0;
  for (int k = 0; k < kCatalogueSize; ++k)
    if (Tick(k)->checkState() == Qt::Checked) mask |= Bit(k);
  return mask;
}

void TRegistersWindow::SetTicked(RegisterMask registers) {
  ticking_ = true;
  for (int k = 0; k < kCatalogueSize; ++k)
    Tick(k)->setCheckState((registers & Bit(k)) != 0 ? Qt::Checked : Qt::Unchecked);
  ticking_ = false;
  ShowBudget();
}

void TRegistersWindow::ShowWindow() {
  ShowSessionChoice();
  FollowSession();
  ShowInFront(*this);
}

void TRegistersWindow::ShowSessionChoice() {
  const std::string& part = session_.EcuPartNumberRead();
  ui_->PartNumberLabel->setText(part.empty() ? QString("not read (kept for any ECU)")
                                             : QString::fromStdString(Escaped(part)));
  // A probe tells of the ECU it asked only.
  if (probed_ && probedPart_ != part) {
    probed_ = false;
    ShowProbe();
  }
  SetTicked(session_.Registers());
}

void TRegistersWindow::FollowSession() {
  const bool reading = session_.State().run == Run::kRecording;
  ui_->RegisterTable->setEnabled(!reading);
  ui_->EighteenButton->setEnabled(!reading);
  ui_->OkButton->setEnabled(!reading);
  ui_->ProbeButton->setEnabled(session_.Enabled().selfDiagnosis);
  ui_->NoteLabel->setText(reading ? QString("A reading runs: the registers can be changed after Stop, and a choice "
                                            "takes effect at the next Start.")
                                  : QString("A choice takes effect at the next Start. Probe needs the ECU found "
                                            "(ECU Initialize) and no reading."));
}

void TRegistersWindow::TickChanged(QTableWidgetItem* item) {
  if (ticking_ || item->column() != kStream) return;
  // Its partner follows: the two bytes of a word are ticked together.
  const Qt::CheckState state = item->checkState();
  ticking_ = true;
  const RegisterMask together = ValueOf(item->row());
  for (int k = 0; k < kCatalogueSize; ++k)
    if ((together & Bit(k)) != 0 && Tick(k)->checkState() != state) Tick(k)->setCheckState(state);
  ticking_ = false;
  ShowBudget();
}

void TRegistersWindow::ShowBudget() {
  const int bytes = RegisterCount(Ticked());
  QString text = QString("%1 of %2 data bytes").arg(bytes).arg(kMaxFrameLength);
  if (bytes == 0) {
    text += ": tick at least one";
  } else {
    text += QString(", %1 frames a second").arg(std::lround(FramesPerSecond(bytes)));
    if (bytes > kMaxFrameLength) text += ": more than a frame carries";
  }
  ui_->BudgetLabel->setText(text);
  ui_->BudgetLabel->setStyleSheet(bytes == 0 || bytes > kMaxFrameLength ? "color: red;" : "");
}

void TRegistersWindow::ProbeButtonClick() {
  if (!session_.Enabled().selfDiagnosis) return;
  // Each register is asked alone: some seconds with nothing else to do.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const CommandOutcome outcome = session_.ProbeRegisters(has_, lacks_);
  QApplication::restoreOverrideCursor();
  probed_ = outcome.done;
  probedPart_ = session_.EcuPartNumberRead();
  ShowProbe();
  report_(outcome);
}

void TRegistersWindow::ShowProbe() {
  for (int k = 0; k < kCatalogueSize; ++k) {
    QString verdict;
    if (probed_) verdict = (has_ & Bit(k)) != 0 ? "has" : (lacks_ & Bit(k)) != 0 ? "lacks" : "?";
    QTableWidgetItem* item = ui_->RegisterTable->item(k, kThisEcu);
    item->setText(verdict);
    item->setForeground(verdict == "lacks" ? QBrush(Qt::red) : QBrush());
  }
}

void TRegistersWindow::EighteenButtonClick() { SetTicked(kEighteenMask); }

void TRegistersWindow::OkButtonClick() {
  if (session_.State().run == Run::kRecording) return;
  const RegisterMask chosen = Ticked();
  const int bytes = RegisterCount(chosen);
  if (bytes == 0) {
    context_.dialogs.Warning(this, "Tick at least one register to stream.", "Registers");
    return;
  }
  if (bytes > kMaxFrameLength) {
    context_.dialogs.Warning(this,
                             QString("%1 data bytes are more than a frame carries (%2).\nUntick %3 of them.")
                                 .arg(bytes)
                                 .arg(kMaxFrameLength)
                                 .arg(bytes - kMaxFrameLength),
                             "Registers");
    return;
  }
  IniFile ini(context_.settingsPath);
  WriteRegisterChoice(ini, session_.EcuPartNumberRead(), chosen);
  if (!ini.UpdateFile())
    context_.dialogs.Warning(this,
                             "The choice could not be written to\n" + QString::fromStdString(Escaped(ini.FileName())) +
                                 "\nIt holds until the program ends.",
                             "Registers");
  session_.SetRegisters(chosen);
  CommandOutcome outcome;
  outcome.done = true;
  outcome.lines.push_back("OK. Registers chosen: " + std::to_string(bytes) + " data bytes, from the next Start.");
  report_(outcome);
  hide();
  emit RegistersChosen();
}

void TRegistersWindow::CancelButtonClick() { hide(); }
