// "Selected Client Data Sheet".

#include "data_sheet.h"
#include "tform1.h"

void TForm1::SpeedButton7Click()
{
    // The sheet is of one customer; with none selected there is nothing to show.
    const std::optional<std::int32_t> row = SelectedRow();
    if (!row)
        return;
    DataSheet& sheet = DataSheet::Of(*this);
    sheet.Fill(Customers, *row);
    sheet.ShowPreview(this);
}
