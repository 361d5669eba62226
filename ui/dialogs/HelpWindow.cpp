#include "ui/dialogs/HelpWindow.h"

#include <QDesktopServices>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/widgets/Placement.h"

namespace {

// The anchor a heading gets on GitHub, which the guide's own links use:
// lower case, punctuation dropped, spaces as hyphens.
QString HeadingAnchor(const QString& heading) {
  QString anchor;
  for (const QChar c : heading.toLower()) {
    if (c.isLetterOrNumber() || c == '-' || c == '_') anchor += c;
    else if (c == ' ') anchor += '-';
  }
  return anchor;
}

// Qt's Markdown reader gives headings no anchors, so without these the
// guide's contents and its links between sections would lead nowhere.
void AddHeadingAnchors(QTextDocument& page) {
  for (QTextBlock block = page.begin(); block.isValid(); block = block.next()) {
    if (block.blockFormat().headingLevel() == 0) continue;
    QTextCursor cursor(block);
    cursor.select(QTextCursor::BlockUnderCursor);
    QTextCharFormat anchor;
    anchor.setAnchor(true);
    anchor.setAnchorNames({HeadingAnchor(block.text())});
    cursor.mergeCharFormat(anchor);
  }
}

}  // namespace

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent), browser_(new QTextBrowser(this)) {
  setWindowTitle("Help");
  setWindowFlags(Qt::Window);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  // The browser would load the guide afresh for a link within it, and the
  // anchors added below would be gone before it looked for one: the links
  // are followed here instead.
  browser_->setOpenLinks(false);
  connect(browser_, &QTextBrowser::anchorClicked, this, &THelpWindow::FollowLink);
  browser_->setSource(QUrl(kGuideUrl), QTextDocument::MarkdownResource);
  AddHeadingAnchors(*browser_->document());
  // Wide enough for the main window's picture at its own size.
  resize(760, 680);
}

void THelpWindow::ShowGuide() { ShowInFront(*this); }

void THelpWindow::FollowLink(const QUrl& link) {
  // A link within the guide (its contents, a "see ...") goes to the heading.
  if (link.hasFragment() && link.adjusted(QUrl::RemoveFragment) == QUrl(kGuideUrl)) {
    browser_->scrollToAnchor(link.fragment());
    return;
  }
  // Links out of the guide go to the desktop's browser.
  const QString scheme = link.scheme();
  if (scheme == "http" || scheme == "https" || scheme == "mailto") QDesktopServices::openUrl(link);
}
