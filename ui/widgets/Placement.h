// Where a window shows itself.
#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

// Shown in the middle of the screen when it was hidden, where it stands
// when it was already shown, and raised.
inline void ShowCentredOnScreen(QWidget& window) {
  if (!window.isVisible()) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame = window.frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      window.move(frame.topLeft());
    }
  }
  window.show();
  window.raise();
}

// Shown, raised and given the keyboard, as a window called up from a menu.
inline void ShowInFront(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
}
