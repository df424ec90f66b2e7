#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

// Places a window in the middle of the screen, as the window designs ask,
// rather than over its parent.
inline void CentreOnScreen(QWidget* window)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}
