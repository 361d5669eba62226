// The user guide, as the Help menu shows it: docs/guide.md and its pictures,
// compiled into the program so that it reads the same offline and after
// install as in the source tree.
#pragma once

#include <QWidget>

class QTextBrowser;
class QUrl;

class THelpWindow : public QWidget {
  Q_OBJECT

 public:
  // Where the guide lives among the program's resources; its pictures are
  // found relative to it.
  static constexpr const char* kGuideUrl = "qrc:/guide/guide.md";

  explicit THelpWindow(QWidget* parent = nullptr);

  QTextBrowser* Browser() const { return browser_; }

  // Shows the window in front, at the page it was left on.
  void ShowGuide();

 public slots:
  // A link clicked or entered: one within the guide scrolls to its heading.
  void FollowLink(const QUrl& link);

 private:
  QTextBrowser* browser_;
};
