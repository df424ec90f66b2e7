#include "tform3.h"

#include "fonts.h"

TForm3::TForm3(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("List of Customers Requiring Extended Service Invoice"));
    setFixedSize(366, 313);
    setFont(Tahoma(11));
    setModal(true);
}
