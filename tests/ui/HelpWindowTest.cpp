// Help > Help: the guide the program carries, as the Help window shows it.
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

}  // namespace
