#pragma once

#include <QLabel>

// A label that shows its text as plain characters ("&" included) and expands
// a tab character to the next tab stop, one every eight average character
// widths of its font.
class TabStopLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int tabStop() const;
};
