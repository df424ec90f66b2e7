// "Add Call": the call record dialog for the selected customer.

#include "tform1.h"
#include "tform4.h"

void TForm1::SpeedButton9Click()
{
    const std::optional<std::int32_t> row = SelectedRow();
    if (!row)
        return; // no customer to log a call for
    Form4->Tag = Customers.ID(*row);
    // Closed while saving, or after a save that may have been stored: the
    // call log tells.
    if (Form4->exec() == TForm4::ResultCancel && !Form4->SaveAbandoned() && !Form4->ReloadNeeded())
        return;
    LoadCalls();
    CallList();
}
