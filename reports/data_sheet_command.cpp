// "Selected Client Data Sheet".

#include "tform1.h"

void TForm1::SpeedButton7Click()
{
}
