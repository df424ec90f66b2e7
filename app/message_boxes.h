#pragma once

#include <QString>

#include <functional>

class QWidget;

// The application's message boxes, behind one seam so that tests can answer
// them instead of a person.
namespace MessageBoxes {

enum class Kind
{
    Error,
    Information,
    Warning, // something to decide on, with OK
    Confirmation
};
enum class Answer
{
    Ok,
    Yes,
    No
};

// Every box is captioned with this.
inline QString ApplicationTitle()
{
    return QStringLiteral("Tillora");
}

// Shows a modal box captioned with the application title.
Answer Show(Kind kind, const QString& text, QWidget* parent = nullptr);

// Tests install a hook that receives each box instead and returns the answer.
using Hook = std::function<Answer(Kind, const QString&)>;
void SetHook(Hook hook);

} // namespace MessageBoxes
