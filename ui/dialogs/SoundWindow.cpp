#include "ui/dialogs/SoundWindow.h"

#include "ui/main/WarningTone.h"
#include "ui/widgets/Placement.h"
#include "ui_SoundWindow.h"

TSoundWindow::TSoundWindow(WarningTone* tone, Apply apply)
    : ui_(std::make_unique<Ui::SoundWindow>()), tone_(tone), apply_(std::move(apply)) {
  ui_->setupUi(this);
  ui_->VolumeSlider->setMaximum(SoundSettings::kMaxVolume);
  connect(ui_->OkButton, &QPushButton::clicked, this, &TSoundWindow::OkButtonClick);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &TSoundWindow::CancelButtonClick);
  connect(ui_->TestButton, &QPushButton::clicked, this, &TSoundWindow::TestButtonClick);
  connect(ui_->VolumeSlider, &QSlider::valueChanged, this, &TSoundWindow::VolumeSliderChange);
}

TSoundWindow::~TSoundWindow() = default;

bool TSoundWindow::Available() const { return tone_ != nullptr && tone_->Available(); }

void TSoundWindow::ShowWindow(const SoundSettings& settings) {
  ui_->SoundOnBox->setChecked(settings.on);
  ui_->VolumeSlider->setValue(settings.volume);
  VolumeSliderChange();
  const bool available = Available();
  ui_->AvailabilityLabel->setText(available
                                      ? "The tone sounds on the default sound output."
                                      : "Sound is unavailable: no sound device was found. Warnings still "
                                        "turn their value red and are reported in the status list.");
  ui_->TestButton->setEnabled(available);
  ShowInFront(*this);
}

SoundSettings TSoundWindow::Chosen() const {
  SoundSettings settings;
  settings.on = ui_->SoundOnBox->isChecked();
  settings.volume = ui_->VolumeSlider->value();
  return settings;
}

void TSoundWindow::VolumeSliderChange() {
  ui_->VolumeValue->setText(QString("%1 %").arg(ui_->VolumeSlider->value()));
}

void TSoundWindow::TestButtonClick() {
  if (Available()) tone_->Play(ui_->VolumeSlider->value());
}

void TSoundWindow::OkButtonClick() {
  apply_(Chosen());
  hide();
}

void TSoundWindow::CancelButtonClick() { hide(); }
