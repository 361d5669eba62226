// Where a window shows itself: always inside the free area of the screen
// it stands on (the screen less its panels), whatever place and size the
// settings file gave it and however its contents grew. Every window of the
// program is shown through ShowInFront or ShowCentredOnScreen.
#pragma once

#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

// The screen under the window's middle; the primary one when it stands on
// none (a screen unplugged since its place was saved).
inline QScreen* ScreenOf(const QWidget& window) {
  if (QScreen* screen = QGuiApplication::screenAt(window.frameGeometry().center())) return screen;
  return QGuiApplication::primaryScreen();
}

// The window manager's frame around the window. It is known once the window
// has been on the screen; before that, a title bar as the style draws one
// and thin borders stand in for it, so that the frame does not push the
// window over the edge.
inline QMargins FrameOf(const QWidget& window) {
  const QRect outer = window.frameGeometry();
  const QRect inner = window.geometry();
  const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                       outer.bottom() - inner.bottom());
  if (!frame.isNull()) return frame;
  constexpr int kBorder = 2;
  return {kBorder, window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window), kBorder, kBorder};
}

// The screen the user works on: the one of the window in front.
inline QScreen* WorkingScreen() {
  const QWidget* active = QApplication::activeWindow();
  return active != nullptr ? active->screen() : QGuiApplication::primaryScreen();
}

// Fits the window, frame and all, into the free area of its screen: no
// larger than the area, and moved in where it stood partly outside it. A
// window no one has placed yet (none in the settings file, never shown)
// stands in the middle of the working screen rather than where the window
// manager finds room, which may be half below the bottom edge.
inline void KeepOnScreen(QWidget& window) {
  // The minimum size its contents ask for now, which show() would apply.
  if (window.layout() != nullptr) window.layout()->activate();
  const bool placed = window.testAttribute(Qt::WA_Moved);
  const QScreen* screen = placed ? ScreenOf(window) : WorkingScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  const QMargins frame = FrameOf(window);
  const QSize room = area.size().shrunkBy(frame);
  // Contents that cannot shrink that far are squeezed rather than cut off
  // by the screen's edge, where nothing could reach them.
  if (window.minimumWidth() > room.width() || window.minimumHeight() > room.height())
    window.setMinimumSize(window.minimumSize().boundedTo(room));
  window.resize(window.size().boundedTo(room));
  QRect outer(window.pos(), window.size().grownBy(frame));
  if (!placed) outer.moveCenter(area.center());
  outer.moveRight(std::min(outer.right(), area.right()));
  outer.moveBottom(std::min(outer.bottom(), area.bottom()));
  outer.moveLeft(std::max(outer.left(), area.left()));
  outer.moveTop(std::max(outer.top(), area.top()));
  if (outer.topLeft() != window.pos()) window.move(outer.topLeft());
}

// Shows a hidden window inside the screen: placed before it shows, and
// once more after, by its real frame where the platform knows it by then.
inline void ShowInsideScreen(QWidget& window) {
  KeepOnScreen(window);
  window.show();
  KeepOnScreen(window);
}

// Shown in the middle of the screen when it was hidden, where it stands
// when it was already shown, and raised.
inline void ShowCentredOnScreen(QWidget& window) {
  if (!window.isVisible()) {
    if (const QScreen* screen = ScreenOf(window)) {
      QRect frame = window.frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      window.move(frame.topLeft());
    }
    ShowInsideScreen(window);
  }
  window.raise();
}

// Shown, raised and given the keyboard, as a window called up from a menu.
// A hidden window opens where it last stood, inside the screen.
inline void ShowInFront(QWidget& window) {
  if (!window.isVisible()) ShowInsideScreen(window);
  window.raise();
  window.activateWindow();
}

// A label that shows a message (an error, a result, a file name) wraps it
// within the width its window has, rather than widening the window to fit
// it on one line: a long file name would otherwise push the window past
// the screen's edge, and keep it that wide. The label takes the room its
// row has to spare, and wraps only when that is not enough.
inline void WrapWithinWindow(QLabel& label) {
  label.setWordWrap(true);
  // A minimum of its own: a wrapped label's would be its longest word.
  label.setMinimumWidth(1);
  QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  policy.setHorizontalStretch(1);
  policy.setHeightForWidth(true);
  label.setSizePolicy(policy);
}

// A message's text with a place to wrap after every "/": a path is one long
// word to the line breaker, which would run it past the label's edge.
inline QString WrappableText(QString text) {
  text.replace('/', QStringLiteral("/\u200B"));
  return text;
}
