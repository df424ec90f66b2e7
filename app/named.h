#pragma once

#include <QString>

// Gives a window's control its name as objectName, so that tests and
// accessibility tools find it by the name the code uses.
template <typename W> W* Named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}
