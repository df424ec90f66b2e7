#pragma once

#include <QColor>
#include <QPalette>

// The desktop colours the windows are drawn in, by role. Where the platform's
// palette has the role we take it from there; the classic desktop's caption
// gradients, application workspace and window frame have no counterpart on
// Linux, so they are fixed here, close to the classic desktop's values.
namespace SystemColors {

inline QColor BtnFace(const QPalette& p = {})
{
    return p.color(QPalette::Button);
}
inline QColor WindowText(const QPalette& p = {})
{
    return p.color(QPalette::WindowText);
}
inline QColor HighlightText(const QPalette& p = {})
{
    return p.color(QPalette::HighlightedText);
}

inline QColor GradientActiveCaption()
{
    return QColor(185, 209, 234);
}
inline QColor GradientInactiveCaption()
{
    return QColor(215, 228, 242);
}
inline QColor AppWorkSpace()
{
    return QColor(171, 171, 171);
}
inline QColor WindowFrame()
{
    return QColor(100, 100, 100);
}

} // namespace SystemColors
