#include "ui/AboutBox.h"

TAboutBox::TAboutBox(QWidget* parent) : QWidget(parent) {
  setObjectName("AboutBox");
  setWindowTitle("About");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  resize(298, 189);
}
