#pragma once

#include <QString>

#include <functional>

// The application's default error handler: the message in an error box,
// with a full stop added when the last character's code is above that of
// ".". Before the box shows, the progress window of the failed operation is
// closed (it would otherwise claim a transfer that is over).
void ShowDefaultError(const QString& message);

// Where the progress window is closed on an error; set by the window set.
void SetProgressWindowCloser(std::function<void()> closer);

class QObject;

// Runs an operator-facing handler's body so that no exception unwinds
// through Qt: every failure goes to the default error handler. While a
// request waits, the body does not run then, however the handler was
// started (a click, a screen reader's action): the handler deferral takes
// it, to run in order with the held input once the wait is over, and not at
// all if `owner` has gone by then.
void Guarded(const QObject* owner, std::function<void()> body);

// The same at once, wait or not: for the Close commands, and for handlers
// that only input reaching the widget starts (the input gate holds that).
void GuardedNow(const std::function<void()>& body);

// Takes a handler's body while a request waits; true when it took it. Set
// by the input gate.
using HandlerDeferral = std::function<bool(const QObject* owner, std::function<void()>& body)>;
void SetHandlerDeferral(HandlerDeferral deferral);

// The message as the error box shows it.
QString ErrorBoxText(const QString& message);
