#pragma once

// The client data sheet's design: one Letter page of positioned objects.
// Positions and sizes are in report units of 1/96 inch from the top-left
// corner of the area inside the margins.

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QRectF>
#include <QStringView>

#include <span>

namespace SheetLayout {

inline constexpr double UnitsPerInch = 96.0;
inline constexpr double UnitsPerMm = UnitsPerInch / 25.4;

// Letter, portrait, 10 mm margins all round.
QPageLayout PageLayout();

enum class Kind
{
    Text,
    HorizontalDoubleLine, // box.width() long, box.height() is 0
    VerticalDoubleLine,   // box.height() long, box.width() is 0
    Picture,              // the vendor's logo
};

enum class Flow
{
    // Words wrap within the box; what does not fit is cut off at its edges.
    WrapAndClip,
    // One line, never wrapped or cut; the box grows with the text.
    SingleLine,
};

struct Font
{
    double pointSize = 10;
    bool bold = false;
};

struct Object
{
    Kind kind;
    QStringView name;
    QRectF box;
    Font font = {};
    // The fixed text; data objects start empty and are filled per customer.
    QStringView text = {};
    Flow flow = Flow::WrapAndClip;
};

// Text sits this far inside the top-left corner of its box.
inline constexpr double TextInsetX = 2;
inline constexpr double TextInsetY = 1;
// Each stroke of a double line, and the gap between the two strokes.
inline constexpr double DoubleLineStroke = 1;

inline constexpr QStringView FontFamily = u"Arial";

// Every object of the page, top to bottom.
std::span<const Object> Objects();

// The object of that name, or nullptr.
const Object* Find(QStringView name);

} // namespace SheetLayout
