#pragma once

#include <QDialog>

// Form4: the call record dialog (modal, created once and reused).
class TForm4 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    // What the opener passes in before each showing.
    int Tag = 0;
};
