#pragma once

#include <QDialog>

// Form2: the customer edit dialog (modal, created once and reused).
class TForm2 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    // What the opener passes in before each showing.
    int Tag = 0;
};
