// "Clients Requiring Invoice": the expiring-subscriptions report.

#include "tform1.h"
#include "tform3.h"

#include "expiring_listing.h"
#include "listing_output.h"

void TForm1::ClientsRequiringInvoiceThisQuarter1Click()
{
    const int result = Form3->exec();
    if (result == TForm3::ResultCancel || result < 100)
        return;
    const QStringList listing = BuildExpiringListing(Customers, Quarter(result), Form3->Today());
    SaveAndPrintListing(listing, QStringLiteral("Expiring_2.txt"), this);
}
