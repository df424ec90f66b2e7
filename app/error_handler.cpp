#include "error_handler.h"

#include "errors.h"
#include "http_client.h"
#include "message_boxes.h"

#include <exception>
#include <new>

namespace {

std::function<void()>& ProgressCloser()
{
    static std::function<void()> closer;
    return closer;
}

HandlerDeferral& Deferral()
{
    static HandlerDeferral deferral;
    return deferral;
}

} // namespace

QString ErrorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void SetProgressWindowCloser(std::function<void()> closer)
{
    ProgressCloser() = std::move(closer);
}

void ShowDefaultError(const QString& message)
{
    if (ProgressCloser())
        ProgressCloser()();
    MessageBoxes::Show(MessageBoxes::Kind::Error, ErrorBoxText(message));
}

void SetHandlerDeferral(HandlerDeferral deferral)
{
    Deferral() = std::move(deferral);
}

void Guarded(const QObject* owner, std::function<void()> body)
{
    if (Deferral() && Deferral()(owner, body))
        return;
    GuardedNow(body);
}

void GuardedNow(const std::function<void()>& body)
{
    try {
        body();
    } catch (const RequestAbandoned&) {
        // The window that waited for it is closing: nothing to report, and
        // no transfer left to show.
        if (ProgressCloser())
            ProgressCloser()();
    } catch (const TilloraError& e) {
        ShowDefaultError(e.message());
    } catch (const std::bad_alloc&) {
        ShowDefaultError(QStringLiteral("Out of memory"));
    } catch (const std::exception& e) {
        ShowDefaultError(QString::fromUtf8(e.what()));
    }
}
