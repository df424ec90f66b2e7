// The call-history strip of the selected customer.

#include "tform1.h"

#include "customer_list_model.h"
#include "display_formats.h"
#include "label_text.h"
#include "text_basics.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QTabBar>

void TForm1::CallList()
{
    {
        // Tabs changed from here do not count as the operator's choice.
        const QSignalBlocker block(TabControl1);
        while (TabControl1->count() > 0)
            TabControl1->removeTab(0);
    }
    StripStamps.clear();
    StripTags.clear();
    StripTexts.clear();
    Image1->hide();
    Label26->clear();
    Label27->clear();

    const std::optional<std::int32_t> row = SelectedRow();
    if (!row || *row >= Customers.CustomerCount())
        return;
    const std::int32_t customerId = Customers.ID(*row);

    {
        const QSignalBlocker block(TabControl1);
        for (const std::int32_t call : Calls.RowsOfCustomer(customerId)) {
            Image1->show();
            const QString date = FormatDate(Calls.CallDate(call));
            TabControl1->addTab(date);
            StripStamps << date + QStringLiteral("  ") + FormatTime(Calls.CallTime(call));
            StripTags << Calls.CallTag2(call) + QStringLiteral(" - ") + Calls.CallTag1(call);
            StripTexts << Trim(Calls.CallText(call)).toString();
        }
        if (TabControl1->count() > 0)
            TabControl1->setCurrentIndex(TabControl1->count() - 1);
    }
    if (TabControl1->count() > 0)
        TabControl1Change();
}

void TForm1::TabControl1Change()
{
    const int k = TabControl1->currentIndex();
    if (k < 0 || k >= StripStamps.size())
        return;
    Label26->setText(
        AcceleratorRichText(StripStamps[k] + QStringLiteral("   -   ") + StripTags[k]));
    Label26->adjustSize();
    Label27->setText(AcceleratorRichText(StripTexts[k]));
}
