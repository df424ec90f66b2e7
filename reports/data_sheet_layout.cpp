#include "data_sheet_layout.h"

#include <algorithm>
#include <iterator>

namespace SheetLayout {

namespace {

constexpr Font Title{20, true};
constexpr Font Plain{10, false};
constexpr Font Bold{10, true};
constexpr Font Heading{12, true};
constexpr Font Large{16, true};

constexpr Object Text(QStringView name, double left, double top, double width, double height,
                      Font font, QStringView text = {}, Flow flow = Flow::WrapAndClip)
{
    return {Kind::Text, name, QRectF(left, top, width, height), font, text, flow};
}

constexpr Object HLine(QStringView name, double left, double top, double width)
{
    return {Kind::HorizontalDoubleLine, name, QRectF(left, top, width, 0)};
}

constexpr Object VLine(QStringView name, double left, double top, double height)
{
    return {Kind::VerticalDoubleLine, name, QRectF(left, top, 0, height)};
}

constexpr Object Page[] = {
    Text(u"Memo1", 26.45671, 5.11812, 419.52783, 41.57483, Title, u"Tillora Customer Data Sheet"),
    HLine(u"Line6", 34.01577, 52.91342, 495.11843),
    VLine(u"Line5", 529.1342, 52.91342, 98.26778),
    {Kind::Picture, u"Picture1", QRectF(548.03185, 52.91342, 147.40167, 136.06308)},
    Text(u"Memo3", 32.23624, 72.91342, 113.3859, 18.89765, Plain, u"Customer Name"),
    Text(u"txtName", 149.82684, 72.91342, 343.93723, 18.89765, Bold),
    Text(u"Memo7", 33.5906, 111.3859, 113.3859, 18.89765, Plain, u"Business Name"),
    Text(u"txtBus", 151.1812, 111.3859, 343.93723, 18.89765, Bold),
    HLine(u"Line1", 41.57483, 151.1812, 453.5436),
    HLine(u"Line3", 491.3389, 151.1812, 37.7953),
    VLine(u"Line4", 529.1342, 151.1812, 268.34663),
    Text(u"Memo9", 33.5906, 201.29932, 113.3859, 18.89765, Plain, u"Address"),
    Text(u"txtAddress", 151.1812, 201.29932, 343.93723, 18.89765, Bold),
    Text(u"Memo11", 33.5906, 220.19697, 113.3859, 18.89765, Plain, u"Locality"),
    Text(u"txtLocality", 151.1812, 220.19697, 343.93723, 18.89765, Bold),
    Text(u"Memo4", 548.03185, 245.66945, 94.48825, 18.89765, Plain, u"Customer ID"),
    Text(u"txtID", 548.03185, 264.5671, 94.48825, 34.01577, Large),
    Text(u"Memo17", 33.5906, 276.88992, 113.3859, 18.89765, Plain, u"Phone 1"),
    Text(u"txtPhone1", 151.1812, 276.88992, 343.93723, 18.89765, Bold),
    Text(u"Memo19", 33.5906, 295.78757, 113.3859, 18.89765, Plain, u"Phone 2"),
    Text(u"txtPhone2", 151.1812, 295.78757, 343.93723, 18.89765, Bold),
    Text(u"Memo2", 548.03185, 306.14193, 173.85838, 18.89765, Plain, u"Product Mode"),
    Text(u"txtProductMode", 548.03185, 325.03958, 173.85838, 41.57483, Large),
    Text(u"Memo21", 34.01577, 337.3624, 113.3859, 18.89765, Plain, u"Email @"),
    Text(u"txtEmail", 151.60637, 337.3624, 343.93723, 18.89765, Bold),
    Text(u"Memo5", 549.24094, 375.15603, 173.85838, 18.89765, Plain, u"Product Key"),
    Text(u"txtProductKey", 549.24094, 394.05368, 173.85838, 41.57483, Large),
    HLine(u"Line2", 37.7953, 417.7483, 491.3389),
    Text(u"Memo8", 75.5906, 476.22078, 94.48825, 18.89765, Heading, u"Important Registration Dates",
         Flow::SingleLine),
    Text(u"Memo10", 112.3859, 510.23655, 113.3859, 18.89765, Plain, u"Beginning Date"),
    Text(u"txtBD", 230.43321, 510.23655, 94.48825, 18.89765, Bold),
    Text(u"Memo12", 112.3859, 532.91373, 113.3859, 18.89765, Plain, u"Due Date"),
    Text(u"txtDD", 230.43321, 532.91373, 94.48825, 18.89765, Bold),
    Text(u"Memo14", 112.3859, 555.59091, 113.3859, 18.89765, Plain, u"Anniversary Date"),
    Text(u"txtAD", 230.43321, 555.59091, 94.48825, 18.89765, Bold),
    Text(u"Memo16", 112.3859, 578.26809, 113.3859, 18.89765, Plain, u"Paid Date"),
    Text(u"txtPD", 230.43321, 578.26809, 94.48825, 18.89765, Bold),
};

} // namespace

QPageLayout PageLayout()
{
    return QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait,
                       QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
}

std::span<const Object> Objects()
{
    return Page;
}

const Object* Find(QStringView name)
{
    const auto it = std::find_if(std::begin(Page), std::end(Page),
                                 [name](const Object& o) { return o.name == name; });
    return it == std::end(Page) ? nullptr : &*it;
}

} // namespace SheetLayout
