// Help > Help: the guide the program carries, as the Help window shows it.
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>

#include <fstream>
#include <string>

#include "UiTestSupport.h"
#include "ui_Consultmain.h"

namespace {

// The first "# " heading of the guide in the source tree: the window must
// show this guide, not a copy that went stale.
QString GuideHeading() {
  std::ifstream guide(TORVANE_GUIDE);
  std::string line;
  while (std::getline(guide, line))
    if (line.rfind("# ", 0) == 0) return QString::fromStdString(line.substr(2)).trimmed();
  return {};
}

using HelpWindowTest = WindowTest;

TEST_F(HelpWindowTest, HelpItemShowsTheGuideWithEveryPicture) {
  CreateWindows();
  THelpWindow& help = *windows.helpWindow;
  ASSERT_FALSE(help.isVisible());
  TConsultMainForm::ClickMenuItem(Form().HowtoUseHelp1);
  ASSERT_TRUE(WaitForEvents([&] { return help.isVisible(); }));
  EXPECT_EQ(help.windowTitle(), "Help");

  const QTextDocument& page = *help.Browser()->document();
  const QString heading = GuideHeading();
  ASSERT_FALSE(heading.isEmpty());
  EXPECT_EQ(page.firstBlock().text(), heading);

  // Every picture the page names loads from the program's resources, and
  // every link within the page (the contents) has a place to go.
  int pictures = 0;
  QStringList anchors;
  QStringList links;
  for (QTextBlock block = page.begin(); block.isValid(); block = block.next()) {
    for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
      const QTextCharFormat format = fragment.fragment().charFormat();
      anchors += format.anchorNames();
      if (format.anchorHref().startsWith('#')) links += format.anchorHref().mid(1);
      if (!format.isImageFormat()) continue;
      const QString name = format.toImageFormat().name();
      const QVariant image =
          help.Browser()->loadResource(QTextDocument::ImageResource, QUrl(name));
      EXPECT_FALSE(image.value<QByteArray>().isEmpty()) << name.toStdString();
      ++pictures;
    }
  }
  EXPECT_GE(pictures, 4);
  EXPECT_FALSE(links.isEmpty());
  for (const QString& link : links) EXPECT_TRUE(anchors.contains(link)) << link.toStdString();

  // A second click brings the same window back, not a new one.
  help.hide();
  TConsultMainForm::ClickMenuItem(Form().HowtoUseHelp1);
  EXPECT_TRUE(WaitForEvents([&] { return help.isVisible(); }));
}

// The contents' links lead to their headings, clicked or entered from the
// keyboard: the heading then stands at the top of the view.
TEST_F(HelpWindowTest, ContentsLinksJumpToTheirHeadings) {
  CreateWindows();
  THelpWindow& help = *windows.helpWindow;
  TConsultMainForm::ClickMenuItem(Form().HowtoUseHelp1);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&help));
  QTextBrowser& browser = *help.Browser();
  const QTextDocument& page = *browser.document();
  // The first fragment that carries the format asked for.
  auto find = [&](const std::function<bool(const QTextCharFormat&)>& wanted) {
    for (QTextBlock block = page.begin(); block.isValid(); block = block.next())
      for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment)
        if (wanted(fragment.fragment().charFormat())) return fragment.fragment().position();
    return -1;
  };
  // Where a place of the page stands in the view, from its top edge.
  auto shownAt = [&](int position) {
    QTextCursor cursor(browser.document());
    cursor.setPosition(position);
    return browser.cursorRect(cursor);
  };
  auto heading = [&](const QString& anchor) {
    return find([&](const QTextCharFormat& f) { return f.anchorNames().contains(anchor); });
  };
  const int link = find([](const QTextCharFormat& f) { return f.anchorHref() == "#playback"; });
  ASSERT_GE(link, 0);
  ASSERT_GE(heading("playback"), 0);
  ASSERT_GT(shownAt(heading("playback")).top(), browser.viewport()->height());  // out of view at first

  QTest::mouseClick(browser.viewport(), Qt::LeftButton, Qt::NoModifier, shownAt(link + 1).center());
  EXPECT_GT(browser.verticalScrollBar()->value(), 0);
  EXPECT_NEAR(shownAt(heading("playback")).top(), 0, 30);

  // From the top again, the keyboard: Tab to the first link, Enter.
  browser.moveCursor(QTextCursor::Start);
  browser.verticalScrollBar()->setValue(0);
  browser.setFocus();
  QTest::keyClick(&browser, Qt::Key_Tab);
  QTest::keyClick(&browser, Qt::Key_Return);
  const int first = heading("getting-started-with-the-simulator");
  ASSERT_GE(first, 0);
  EXPECT_NEAR(shownAt(first).top(), 0, 30);
}

}  // namespace
