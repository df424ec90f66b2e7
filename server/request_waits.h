#pragma once

#include <functional>

// What a waiting request does with the event queue, for the whole process.
// By default each slice of a wait services the queue with user input held
// back; the application replaces that with a step that still lets the
// operator's close commands through, and learns from the end handler when
// the input it held back can be handed on.
namespace RequestWaits {

// Services the event queue once. Called in every slice of a wait and by the
// transfer-progress handlers.
void ServiceQueue();

// Replaces the servicing step; an empty function restores the default.
void SetQueueService(std::function<void()> service);

// Called each time the last waiting request of the process has ended.
void SetAllEndedHandler(std::function<void()> handler);

bool AnyWaiting();

// Marks one request as waiting for as long as it lives.
class Scope
{
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

} // namespace RequestWaits
