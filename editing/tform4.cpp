#include "tform4.h"

#include "fonts.h"

TForm4::TForm4(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Tillora Call Record"));
    setFixedSize(688, 491);
    setFont(Tahoma(11));
    setModal(true);
}
