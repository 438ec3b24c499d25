// Where the workbench's small windows appear.
#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

// Centres `window` on `mainWindow`, or on the screen when there is no main window.
inline void CentreOn(QWidget* window, const QWidget* mainWindow) {
  QRect area;
  if (mainWindow) {
    area = mainWindow->window()->frameGeometry();
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (!area.isValid()) return;
  // move() places the frame, so centre the frame rather than the client area.
  QRect frame = window->frameGeometry();
  frame.moveCenter(area.center());
  window->move(frame.topLeft());
}
