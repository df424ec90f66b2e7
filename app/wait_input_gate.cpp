#include "wait_input_gate.h"

#include "error_handler.h"
#include "request_waits.h"
#include "save_abandoning.h"

#include <QApplication>
#include <QCloseEvent>
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
    SetHandlerDeferral([this](const QObject* owner, std::function<void()>& body) {
        return DeferHandler(owner, body);
    });
}

WaitInputGate::~WaitInputGate()
{
    RequestWaits::SetQueueService({});
    RequestWaits::SetAllEndedHandler({});
    SetHandlerDeferral({});
}

bool WaitInputGate::DeferHandler(const QObject* owner, std::function<void()>& body)
{
    if (!RequestWaits::AnyWaiting() || m_closing)
        return false;
    m_held.push_back({const_cast<QObject*>(owner), nullptr, std::move(body)});
    return true;
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
    case QEvent::KeyRelease: {
        // Enter and Space press the focused button; other keys wait.
        const int key = static_cast<QKeyEvent*>(event)->key();
        return IsCloseButton(qobject_cast<QWidget*>(window->focusObject())) &&
               (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space);
    }
    default:
        return false;
    }
}

bool WaitInputGate::OperatorClose(QWidget* top, QCloseEvent* event)
{
    if (top == m_mainWindow)
        return false; // closes and ends the application
    if (top == QApplication::activeModalWidget()) {
        // A dialog closed during its own save abandons that save and closes
        // as Cancel; the main window goes on. Any other modal window that
        // waits means the application to the operator.
        auto* dialog = dynamic_cast<SaveAbandoning*>(top);
        if (!dialog || !dialog->AbandonSave())
            m_mainWindow->close();
        return false;
    }
    // Nothing else may close while a request waits.
    event->ignore();
    return true;
}

bool WaitInputGate::eventFilter(QObject* watched, QEvent* event)
{
    if (const auto replayed = m_replayed.find(event); replayed != m_replayed.end()) {
        m_replayed.erase(replayed);
        // Input for a window that has gone meanwhile (a dialog that ended
        // with the request) is dropped: it must not act on a hidden window.
        if (watched->isWindowType() && !static_cast<QWindow*>(watched)->isVisible())
            return true;
    }
    if (event->type() == QEvent::Close && watched == m_mainWindow)
        m_closing = true; // every other window closes on the way out
    if (!RequestWaits::AnyWaiting() || m_closing)
        return false;
    if (event->type() == QEvent::ShortcutOverride) {
        // An accepted override keeps a shortcut from firing now; the key
        // itself then arrives at its window and is held there.
        event->accept();
        return true;
    }
    if (event->type() == QEvent::Close && event->spontaneous() && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow())
        return OperatorClose(static_cast<QWidget*>(watched), static_cast<QCloseEvent*>(event));
    // Composed text (a dead key's letter, an input method's word) goes
    // straight to the focused widget; it waits in line with the keys.
    if (event->type() == QEvent::InputMethod && watched->isWidgetType()) {
        m_held.push_back({watched, std::unique_ptr<QEvent>(event->clone()), {}});
        return true;
    }
    // A close command passes its window and is judged at the widget: only
    // there can the operator's close be told from the code's. Other input
    // reaches a window first and its widgets only through it, so the window
    // is where it is held back.
    if (!watched->isWindowType() || !IsUserInput(event->type()))
        return false;
    if (LetThrough(static_cast<QWindow*>(watched), event))
        return false;
    m_held.push_back({watched, std::unique_ptr<QEvent>(event->clone())});
    return true;
}

void WaitInputGate::HandOnHeldInput()
{
    m_closePressed = false;
    std::vector<Held> held;
    held.swap(m_held);
    for (Held& h : held) {
        if (!h.receiver)
            continue;
        if (h.handler) {
            // Queued behind the input held before it; a wait that the input
            // handed on before it starts takes the body again.
            QObject* owner = h.receiver;
            QMetaObject::invokeMethod(
                owner, [owner, body = std::move(h.handler)] { Guarded(owner, body); },
                Qt::QueuedConnection);
            continue;
        }
        m_replayed.insert(h.event.get());
        QCoreApplication::postEvent(h.receiver, h.event.release());
    }
}
