// The detail panel of the selected customer.

#include "tform1.h"

#include <QFrame>

void TForm1::ListView1SelectItem(int position, bool selected)
{
    Panel6->hide();
    if (!selected || position < 0)
        return;
}
