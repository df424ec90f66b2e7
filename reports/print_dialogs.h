#pragma once

#include <functional>

class QPrinter;
class QWidget;

// The printer selection dialog behind one seam, so that tests can choose a
// PDF printer (or cancel) instead of a person.
namespace PrintDialogs {

// Shows the print dialog for `printer`; true when the operator chose to print.
bool Exec(QPrinter& printer, QWidget* parent = nullptr);

// Tests install a hook that gets the printer instead and answers.
using Hook = std::function<bool(QPrinter&)>;
void SetHook(Hook hook);

} // namespace PrintDialogs
