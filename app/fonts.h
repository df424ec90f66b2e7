#pragma once

#include <QFont>

// Makes the Tahoma font of fonts-wine known to Qt: fontconfig does not scan
// wine's font folder, and without it "Tahoma" silently becomes another face.
void RegisterTahoma();

// Tahoma at a pixel height, as the window designs give their fonts.
QFont Tahoma(int pixelHeight, bool bold = false);
