// The customer list views: the two list loads and the handlers of the view
// tabs, the letter tabs and "Refresh Data".

#include "tform1.h"

#include "background_sink.h"
#include "customer_list_model.h"
#include "endpoints.h"
#include "list_filter.h"
#include "text_basics.h"
#include "tform5.h"

#include <QCommandLinkButton>
#include <QFrame>
#include <QLabel>
#include <QTabBar>
#include <QTreeView>

#include <utility>

namespace {

constexpr int CdViewTab = 2;
constexpr int GroupedViewTab = 3;

} // namespace

void TForm1::LoadCustomers()
{
    // Every view from the CD tab on is built from the CD list; the grouped
    // view rebuilds itself from the loaded list afterwards.
    if (TabControl2->currentIndex() == CdViewTab) {
        CDList();
        return;
    }
    CommonLoad(false, 0);
    // While "Grouped By State" is chosen, the reloaded list is grouped again
    // (never the CD list under a tab that reads "Grouped By State").
    if (TabControl2->currentIndex() == GroupedViewTab)
        SpeedButton8Click();
}

void TForm1::CDList()
{
    CommonLoad(true, 1);
}

void TForm1::CommonLoad(bool cdFilter, std::uint8_t image)
{
    // Asked for this load only: a load that fails must not leave the next
    // one without its selection.
    const bool keepSelection = std::exchange(KeepSelection, false);
    const bool active = ListMode == u'A';
    const QString caption = active ? QStringLiteral("Loading Customer List Data")
                                   : QStringLiteral("Loading Dormant Customer List Data");
    const QString words =
        active ? QStringLiteral(" Registered Customers") : QStringLiteral(" Dormant Customers");
    const QString address = Endpoints::Address(
        m_server.baseAddress, active ? Endpoints::ActiveList : Endpoints::DormantList);

    Form5->ShowTask(caption);
    // The list is cut into a new table while it arrives, on a second thread;
    // the current table stays as it is until the new one is complete.
    TCustomerTable::Builder builder;
    BackgroundSink cutting(builder);
    IdHTTP1.Post(address, {}, cutting);
    cutting.finish();

    ListModel->clear();
    const std::int32_t count = builder.count();
    StatusText->setText(QString::number(count) + words);

    const QString statistics =
        IdHTTP1.Post(Endpoints::Address(m_server.baseAddress, Endpoints::Statistics), {});
    StatusText->setText(StatusText->text() + QStringLiteral("   |   ") + statistics);

    Panel6->show();

    // The entries are made only once the whole table has been swapped in.
    const ListFilter filter{TabControl3->currentIndex(),
                            TabControl3->tabText(TabControl3->currentIndex()), cdFilter, image};
    TCustomerTable table = builder.take();
    std::vector<CustomerListModel::Entry> entries = FilteredEntries(table, filter);
    Customers = std::move(table);
    ListModel->setEntries(std::move(entries));

    if (!keepSelection && ListModel->count() > 0) {
        Panel6->hide();
        SelectPosition(0);
        ListView1SelectItem(0, true);
    }
    Form5->close();
}

void TForm1::TabControl2Change()
{
    ListModel->setGroupDisplay(false);
    switch (TabControl2->currentIndex()) {
    case 0:
        ListMode = u'A';
        ButtonGradient1->show();
        LoadCustomers();
        break;
    case 1:
        ListMode = u'D';
        ButtonGradient1->hide();
        LoadCustomers();
        break;
    case CdViewTab:
        ListMode = u'A';
        ButtonGradient1->show();
        CDList();
        break;
    case GroupedViewTab:
        SpeedButton8Click();
        break;
    }
}

void TForm1::TabControl3Change()
{
    const int view = TabControl2->currentIndex();
    // The grouped view is not filtered by letter: it stays as it is.
    if (view == GroupedViewTab)
        return;
    ListModel->setGroupDisplay(false);
    if (view == CdViewTab)
        CDList();
    else if (view == 0 || view == 1)
        LoadCustomers();
}

void TForm1::SpeedButton3Click()
{
    const int remembered = SelectedPosition();
    LoadCustomers();
    if (ListModel->count() == 0)
        return;
    // Nothing selected before, or a position beyond the new list: the first.
    const int position = remembered >= 0 && remembered < ListModel->count() ? remembered : 0;
    SelectPosition(position);
    ListView1SelectItem(position, true);
}
