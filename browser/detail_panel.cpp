// The detail panel of the selected customer.

#include "tform1.h"

#include "customer_list_model.h"
#include "display_formats.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>

namespace {

void SetLabel(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

} // namespace

void TForm1::ListView1SelectItem(int position, bool selected)
{
    Panel6->hide();
    if (!selected)
        return;
    // Only the list's selected entry is read; a call without one (or for a
    // position that is gone) leaves the panel as it is.
    const int current = SelectedPosition();
    if (current < 0)
        return;
    const std::int32_t row = ListModel->entries()[std::size_t(current)].row;
    if (row < 0 || row >= Customers.CustomerCount())
        return;

    Edit1->setText(ListModel->caption(current));

    const QString tabs = QStringLiteral("\t\t");
    SetLabel(Label3, QStringLiteral("Client Detail Data Sheet - ") + Customers.FN(row) + u' ' +
                         Customers.LN(row));
    SetLabel(lblLN, Customers.LN(row));
    SetLabel(lblFN, Customers.FN(row));
    SetLabel(lblBN, Customers.BN(row));
    SetLabel(lblAD, Customers.AD(row));
    SetLabel(lblCY, Customers.CY(row));
    SetLabel(lblST, Customers.ST(row));
    SetLabel(lblZP, Customers.ZP(row));
    SetLabel(lblP1, FormatPhone(Customers.P1(row)));
    SetLabel(lblP2, FormatPhone(Customers.P2(row)));
    SetLabel(lblEM, Customers.EM(row));
    SetLabel(Label13, QStringLiteral("Customer ID: ") + QString::number(Customers.ID(row)));
    SetLabel(Label14, QStringLiteral("Product Mode: ") + Customers.PM(row));
    SetLabel(Label15, QStringLiteral("Heard Of Tillora: ") + Customers.HO(row));
    SetLabel(Label16, QStringLiteral("Serial #: ") + tabs + Customers.SN(row));
    SetLabel(Label17, QStringLiteral("Product Key: ") + tabs + Customers.PK(row));
    SetLabel(Label18, QStringLiteral("Paid Date: ") + tabs + FormatDate(Customers.PD(row)));
    SetLabel(Label19, QStringLiteral("Anniversary: ") + tabs + FormatDate(Customers.ANI(row)));
    SetLabel(Label20, QStringLiteral("Due Date: ") + tabs + FormatDate(Customers.DD(row)));
    SetLabel(Label21, QStringLiteral("Beginning: ") + tabs + FormatDate(Customers.BD(row)));
    switch (Customers.ACT(row)) {
    case 0:
        SetLabel(Label22, QStringLiteral("User Status: ") + tabs + QStringLiteral("Expired"));
        break;
    case 1:
        SetLabel(Label22, QStringLiteral("User Status: ") + tabs + QStringLiteral("Current"));
        break;
    case -1:
        SetLabel(Label22, QStringLiteral("User Status: ") + tabs + QStringLiteral("Dormant"));
        break;
    default:
        break; // any other status leaves the label as it was
    }

    CallList();
    if (position >= 0 && position < ListModel->count())
        ListView1->scrollTo(ListModel->indexOfPosition(position), QAbstractItemView::EnsureVisible);
}
