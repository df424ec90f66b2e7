#include "request_waits.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace RequestWaits {

namespace {

struct State
{
    std::function<void()> service;
    std::function<void()> allEnded;
    int waiting = 0;
};

State& Shared()
{
    static State state;
    return state;
}

} // namespace

void ServiceQueue()
{
    if (Shared().service)
        Shared().service();
    else
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void SetQueueService(std::function<void()> service)
{
    Shared().service = std::move(service);
}

void SetAllEndedHandler(std::function<void()> handler)
{
    Shared().allEnded = std::move(handler);
}

bool AnyWaiting()
{
    return Shared().waiting > 0;
}

Scope::Scope()
{
    ++Shared().waiting;
}

Scope::~Scope()
{
    if (--Shared().waiting == 0 && Shared().allEnded)
        Shared().allEnded();
}

} // namespace RequestWaits
