#include "print_dialogs.h"

#include <QDir>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

namespace PrintDialogs {

namespace {

Hook& CurrentHook()
{
    static Hook hook;
    return hook;
}

} // namespace

void SetHook(Hook hook)
{
    CurrentHook() = std::move(hook);
}

bool Exec(QPrinter& printer, QWidget* parent)
{
    if (CurrentHook())
        return CurrentHook()(printer);
    // With no printer installed the dialog offers only printing to a PDF
    // file, and its default file name would be a directory.
    if (QPrinterInfo::availablePrinters().isEmpty() && printer.outputFileName().isEmpty())
        printer.setOutputFileName(
            QDir::current().absoluteFilePath(QStringLiteral("tillora-print.pdf")));
    QPrintDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("PrintDialog1"));
    return dialog.exec() == QDialog::Accepted;
}

} // namespace PrintDialogs
