#pragma once

#include <QDialog>

// Form3: the quarter picker of the expiring-subscriptions report (modal, created once and reused).
class TForm3 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    // What the opener passes in before each showing.
    int Tag = 0;
};
