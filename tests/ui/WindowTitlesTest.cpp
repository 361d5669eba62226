// The titles as the window system shows them. Qt may add to a title on its
// way to the X server (the application's display name, for one), so these
// read the title back from the server. Run under Xvfb by ctest; skipped on
// any other platform.
#include <QGuiApplication>
#include <QProcess>

#include "UiTestSupport.h"
#include "ui/tools/MoreValuesWindow.h"

namespace {

// _NET_WM_NAME of a window as xprop reports it, without the quotes.
QString ServerTitle(QWidget& window) {
  QProcess xprop;
  xprop.start("xprop", {"-id", QString::number(window.winId()), "_NET_WM_NAME"});
  if (!xprop.waitForFinished(10000)) return "(xprop did not answer)";
  const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
  const int quote = out.indexOf('"');
  return quote < 0 ? out : out.mid(quote + 1, out.size() - quote - 2);
}

QString ShownTitle(QWidget& window) {
  window.show();
  QString title;
  WaitForEvents([&] {
    title = ServerTitle(window);
    return !title.contains("not found");
  });
  return title;
}

using WindowTitlesOnX11 = WindowTest;

TEST_F(WindowTitlesOnX11, EveryTitleReadsExactlyAsDesigned) {
  if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
  CreateWindows();
  EXPECT_EQ(ShownTitle(Main()), "Nissan Torvane");
  EXPECT_EQ(ShownTitle(*windows.comSetForm), "COM Port");
  EXPECT_EQ(ShownTitle(*windows.aboutBox), "About");
  EXPECT_EQ(ShownTitle(*windows.exportDlg), "Export");
  EXPECT_EQ(ShownTitle(*windows.helpWindow), "Help");
  EXPECT_EQ(ShownTitle(*windows.registersWindow), "Registers");
  EXPECT_EQ(ShownTitle(*windows.Tool<TMoreValuesWindow>()), "More Values");
  for (const char* title : {"CHECK", "Clear Log", "Time Check", "Set Error", "ECU Auto Search",
                            "Search"}) {
    auto box = MakeMessageBox(&Main(), QMessageBox::Information, "text", title, QMessageBox::Ok);
    EXPECT_EQ(ShownTitle(*box), title);
  }
}

}  // namespace
