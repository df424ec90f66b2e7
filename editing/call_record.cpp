// "Add Call": the call record dialog for the selected customer.

#include "tform1.h"
#include "tform4.h"

void TForm1::SpeedButton9Click()
{
    const std::optional<std::int32_t> row = SelectedRow();
    if (!row)
        return; // no customer to log a call for
    Form4->Tag = Customers.ID(*row);
    if (Form4->exec() == TForm4::ResultCancel)
        return;
    LoadCalls();
    CallList();
}
