#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

// Form5: the progress window shown during the longer transfers. It has no
// behaviour of its own; callers show and close it, and the transfer events
// of the HTTP clients move its bar and write its second label.
class TForm5 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    // The callers' order: stay on top, task text, (for the customer save)
    // an empty second label, show.
    void ShowTask(const QString& task, bool clearProgressText = false);

    QLabel* Label1;
    QLabel* Label2;
    QProgressBar* ProgressBar1;

protected:
    void closeEvent(QCloseEvent* event) override;
};
