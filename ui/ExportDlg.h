// The export dialog: a chosen window of the recording as a CSV file.
#pragma once

#include <QWidget>

class TExportDlg : public QWidget {
  Q_OBJECT

 public:
  explicit TExportDlg(QWidget* parent = nullptr);
};
