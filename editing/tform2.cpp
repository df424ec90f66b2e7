#include "tform2.h"

#include "fonts.h"

TForm2::TForm2(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Customer Data Edit"));
    setFixedSize(791, 627);
    setFont(Tahoma(11));
    setModal(true);
}
