#include "ui/ExportDlg.h"

TExportDlg::TExportDlg(QWidget* parent) : QWidget(parent) {
  setObjectName("ExportDlg");
  setWindowTitle("Export");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  resize(273, 216);
}
