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

// Runs an event handler's body so that no exception unwinds through Qt:
// every failure goes to the default error handler.
void Guarded(const std::function<void()>& body);

// The message as the error box shows it.
QString ErrorBoxText(const QString& message);
