#pragma once

#include <QPixmap>

// The program's own small pictures, drawn at start-up.
namespace Pictures {

QPixmap FolderCard();   // 16 x 16, entries of the active and dormant lists
QPixmap OpenEnvelope(); // 16 x 16, entries of the CD list
QPixmap Clock();        // 64 x 64, beside the chosen call
QPixmap CloseDisc();    // 16 x 16, red disc with a white cross
QPixmap AbortCross();   // 16 x 16, red cross

} // namespace Pictures
