#include "wait_input_gate.h"

#include "request_waits.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace {

bool IsUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::ContextMenu:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

// The top-level widget shown in a window of the window system.
QWidget* WidgetOf(const QWindow* window)
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->windowHandle() == window)
            return top;
    return nullptr;
}

} // namespace

WaitInputGate::WaitInputGate(QWidget* mainWindow, std::vector<QWidget*> closeButtons)
    : m_mainWindow(mainWindow)
{
    for (QWidget* button : closeButtons)
        m_closeButtons.emplace_back(button);
    qApp->installEventFilter(this);
    RequestWaits::SetQueueService([] { QCoreApplication::processEvents(); });
    RequestWaits::SetAllEndedHandler([this] { HandOnHeldInput(); });
}

WaitInputGate::~WaitInputGate()
{
    RequestWaits::SetQueueService({});
    RequestWaits::SetAllEndedHandler({});
}

bool WaitInputGate::IsCloseButton(const QWidget* widget) const
{
    for (const QPointer<QWidget>& button : m_closeButtons)
        if (widget && button && (widget == button || button->isAncestorOf(widget)))
            return true;
    return false;
}

bool WaitInputGate::LetThrough(QWindow* window, QEvent* event)
{
    QWidget* top = WidgetOf(window);
    if (!top || !m_mainWindow)
        return false;
    switch (event->type()) {
    case QEvent::Close:
        if (top == m_mainWindow) {
            // Closing the main window ends the application, which closes
            // every other window on its way out: from now on all goes through.
            m_closing = true;
            return true;
        }
        if (top == QApplication::activeModalWidget()) {
            // Closing the modal dialog that waits means the same to the
            // operator; the dialog then closes as it always does.
            m_mainWindow->close();
            return true;
        }
        return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        m_closePressed = IsCloseButton(top->childAt(mouse->position().toPoint()));
        return m_closePressed;
    }
    case QEvent::MouseMove:
        return m_closePressed;
    case QEvent::MouseButtonRelease: {
        const bool pressed = m_closePressed;
        m_closePressed = false;
        return pressed;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return IsCloseButton(qobject_cast<QWidget*>(window->focusObject()));
    default:
        return false;
    }
}

bool WaitInputGate::eventFilter(QObject* watched, QEvent* event)
{
    // Input reaches a window first and its widgets only through it, so the
    // window is where it is held back.
    if (!RequestWaits::AnyWaiting() || m_closing)
        return false;
    if (event->type() == QEvent::ShortcutOverride) {
        // An accepted override keeps a shortcut from firing now; the key
        // itself then arrives at its window and is held there.
        if (IsCloseButton(QApplication::focusWidget()))
            return false;
        event->accept();
        return true;
    }
    if (!watched->isWindowType() || !IsUserInput(event->type()))
        return false;
    if (LetThrough(static_cast<QWindow*>(watched), event))
        return false;
    m_held.push_back({watched, std::unique_ptr<QEvent>(event->clone())});
    return true;
}

void WaitInputGate::HandOnHeldInput()
{
    std::vector<Held> held;
    held.swap(m_held);
    for (Held& h : held)
        if (h.receiver)
            QCoreApplication::postEvent(h.receiver, h.event.release());
}
