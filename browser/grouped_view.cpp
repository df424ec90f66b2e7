// The customers of the loaded list, grouped under the server's state codes.

#include "tform1.h"

#include "customer_list_model.h"
#include "endpoints.h"
#include "text_basics.h"

#include <QTreeView>

void TForm1::SpeedButton8Click()
{
    const QString reply =
        IdHTTP1.Post(Endpoints::Address(m_server.baseAddress, Endpoints::StateCodes), {});

    // Two characters a code, untrimmed: a stray blank or line break is part
    // of a code, and an odd length ends with a one-character code.
    QStringList codes;
    for (qsizetype i = 0; i < reply.size(); i += 2)
        codes << reply.mid(i, 2);

    std::vector<CustomerListModel::Group> groups;
    std::vector<CustomerListModel::Entry> entries;
    for (const QString& code : codes) {
        CustomerListModel::Group group;
        group.header = QStringLiteral("Customers From ") + code;
        group.first = int(entries.size());
        const std::int32_t groupIndex = std::int32_t(groups.size());
        for (std::int32_t row = 0; row < Customers.CustomerCount(); ++row) {
            if (Trim(Customers.textView(CustomerField::ST, row)) == code)
                entries.push_back({row, CustomerListModel::NoImage, true, groupIndex});
        }
        group.count = int(entries.size()) - group.first;
        group.subtitle = QString::number(group.count) + QStringLiteral(" Customers in: ") + code;
        groups.push_back(std::move(group));
    }

    ListModel->setGroupedEntries(std::move(groups), std::move(entries));
    ListView1->expandAll();
    if (ListModel->count() > 0)
        SelectPosition(0);
}
