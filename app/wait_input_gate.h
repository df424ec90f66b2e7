#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <unordered_set>
#include <vector>

class QCloseEvent;
class QEvent;
class QWidget;
class QWindow;

// Holds back the operator's input while a request waits for the server,
// and the bodies of the handlers started meanwhile by anything else (a
// screen reader's action on a button or tab),
// except what ends the application: a click on either "Close" button of the
// main window, Enter or Space on one of them, and the close command of the
// main window or of the modal dialog the wait runs in; the close command of
// any other window is refused. Whatever it held back is handed on, in order,
// once the last request has ended, except to a window that has gone.
//
// Qt's own way of holding input back also holds back the close request,
// which is why the queue is serviced in full and filtered here.
class WaitInputGate : public QObject
{
public:
    WaitInputGate(QWidget* mainWindow, std::vector<QWidget*> closeButtons);
    ~WaitInputGate() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // True for input that goes through at once: what closes the application.
    bool LetThrough(QWindow* window, QEvent* event);
    // The operator's close command for a top-level widget; true when it is
    // refused.
    bool OperatorClose(QWidget* top, QCloseEvent* event);
    bool IsCloseButton(const QWidget* widget) const;
    void HandOnHeldInput();

    QPointer<QWidget> m_mainWindow;
    std::vector<QPointer<QWidget>> m_closeButtons;
    // A press that went through to a close button lets its release through.
    bool m_closePressed = false;
    bool m_closing = false;
    // Held input, or the body of a handler started during the wait.
    struct Held
    {
        QPointer<QObject> receiver;
        std::unique_ptr<QEvent> event;
        std::function<void()> handler;
    };
    bool DeferHandler(const QObject* owner, std::function<void()>& body);
    std::vector<Held> m_held;
    // Events handed on and not yet delivered; they carry no mark of their own.
    std::unordered_set<const QEvent*> m_replayed;
};
