#pragma once

#include <QString>

// A label text in which "&" marks an accelerator, as rich text: "&x" shows x
// underlined, "&&" shows one "&", a lone "&" at the end shows nothing. Line
// breaks and runs of blanks are kept.
QString AcceleratorRichText(const QString& text);
