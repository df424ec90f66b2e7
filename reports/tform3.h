#pragma once

#include <QDate>
#include <QDialog>

#include <functional>

class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

// Form3: the quarter picker of the expiring-subscriptions report (modal,
// created once and reused). Its modal result is 100, 200, 300 or 400 for the
// chosen quarter, or 2 for Cancel.
class TForm3 : public QDialog
{
    Q_OBJECT
public:
    static constexpr int ResultCancel = 2;

    explicit TForm3(QWidget* parent = nullptr);

    int Tag = 0;
    // Today's date; tests fix it.
    std::function<QDate()> Today = [] { return QDate::currentDate(); };

    QFrame* Panel1;
    QRadioButton *RadioButton1, *RadioButton2, *RadioButton3, *RadioButton4;
    QLabel *Label1, *Label2, *Label3, *Label4;
    QPushButton *Button1, *Button2;

    void FormShow();
    void Button1Click(); // "Continue"
    void Button2Click(); // "Cancel"

public Q_SLOTS:
    void reject() override; // the close box cancels

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
