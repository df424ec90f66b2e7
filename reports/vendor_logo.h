#pragma once

#include <QImage>

// The vendor's logo for printed pages: 125 x 114 pixels, colour on white.
// An image rather than a pixmap, so that it can be drawn without a display.
QImage VendorLogo();
