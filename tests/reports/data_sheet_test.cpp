// The client data sheet: its texts for a customer, where they land on the
// printed page (read back from a PDF), the preview's commands, and the main
// window's button.

#include "data_sheet.h"
#include "data_sheet_layout.h"
#include "errors.h"
#include "gui_fixture.h"
#include "list_text.h"
#include "message_boxes.h"
#include "poppler.h"
#include "print_dialogs.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPrinter>
#include <QPrintPreviewWidget>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>

namespace {

using namespace Qt::StringLiterals;

// A customer record of the list format, field by field.
struct Record
{
    QString id = u"7"_s, ln = u"Lee"_s, fn = u"Ann"_s, bn = u"Lee & Sons"_s, ad = u"1 Main St"_s,
            cy = u"Dover"_s, st = u"DE"_s, zp = u"19901"_s, p1 = u"3025550100"_s,
            p2 = u"3025550101"_s, em = u"ann@lee.example"_s, ho = u"Web Search"_s,
            dv = u"CD By Mail"_s, sn = u"0042"_s, pk = u"TLR-1111"_s, pm = u"Unlimited"_s,
            bd = u"2020-01-15"_s, dd = u"2027-02-16"_s, ani = u"2026-03-17"_s, pd = u"2026-04-18"_s,
            act = u"1"_s;
};

TCustomerTable Table(const std::vector<Record>& records)
{
    QList<QStringList> rows;
    for (const Record& r : records)
        rows << QStringList{r.id, r.ln, r.fn, r.bn, r.ad, r.cy, r.st, r.zp,  r.p1, r.p2, r.em,
                            r.ho, r.dv, r.sn, r.pk, r.pm, r.bd, r.dd, r.ani, r.pd, r.act};
    return TCustomerTable::Parse(ListResponse(rows));
}

struct Word
{
    QRectF box; // PDF points from the top-left of the page
    QString text;
};

struct PageText
{
    QSizeF size;
    std::vector<Word> words;

    // The words whose centre lies in `area`, in reading order, joined by spaces.
    QString textIn(const QRectF& area) const
    {
        QStringList inside;
        for (const Word& w : words)
            if (area.contains(w.box.center()))
                inside << w.text;
        return inside.join(u' ');
    }
    const Word* first(const QRectF& area) const
    {
        for (const Word& w : words)
            if (area.contains(w.box.center()))
                return &w;
        return nullptr;
    }
};

PageText ReadPdf(const QString& pdf)
{
    const QString html = QString::fromUtf8(Poppler(u"pdftotext"_s, {u"-bbox"_s, pdf, u"-"_s}));
    PageText page;
    const QRegularExpression pageTag(uR"re(<page width="([\d.]+)" height="([\d.]+)")re"_s);
    const auto pageMatch = pageTag.match(html);
    EXPECT_TRUE(pageMatch.hasMatch());
    page.size = QSizeF(pageMatch.captured(1).toDouble(), pageMatch.captured(2).toDouble());
    const QRegularExpression wordTag(
        uR"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"_s);
    for (auto it = wordTag.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        QString text = m.captured(5);
        text.replace(u"&amp;"_s, u"&"_s)
            .replace(u"&lt;"_s, u"<"_s)
            .replace(u"&gt;"_s, u">"_s)
            .replace(u"&quot;"_s, u"\""_s)
            .replace(u"&apos;"_s, u"'"_s);
        page.words.push_back({QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                                     QPointF(m.captured(3).toDouble(), m.captured(4).toDouble())),
                              text});
    }
    return page;
}

// Report units (1/96 inch from the corner inside the 10 mm margins) to PDF points.
QRectF Points(const QRectF& units)
{
    const double margin = 10 / 25.4 * 72;
    const double k = 72.0 / 96;
    return QRectF(margin + units.x() * k, margin + units.y() * k, units.width() * k,
                  units.height() * k);
}

QRectF BoxOf(QStringView name)
{
    const SheetLayout::Object* object = SheetLayout::Find(name);
    EXPECT_NE(object, nullptr) << name.toString().toStdString();
    return object ? Points(object->box) : QRectF();
}

class DataSheetPdf : public testing::Test
{
protected:
    PageText Render(const DataSheet& sheet, const QString& name = u"sheet.pdf"_s)
    {
        const QString path = dir.filePath(name);
        sheet.WritePdf(path);
        return ReadPdf(path);
    }
    QTemporaryDir dir;
};

TEST(DataSheetFillTest, EachDataObjectShowsItsColumnInItsDisplayForm)
{
    Record r;
    r.id = u"4711"_s;
    r.ln = u"  Lee \t"_s;
    r.fn = u" Ann "_s;
    r.bn = u" Lee  & Sons "_s;
    r.cy = u"Dover "_s;
    r.st = u"DE"_s;
    r.zp = u" 19901"_s;
    r.p2 = u"555012"_s; // too short for a number
    r.ad = u"9 Oak Rd"_s;
    r.pm = u"  Network  "_s;
    r.bd = u"2020-13-45"_s;
    r.ani = u"2026-03-17"_s;
    DataSheet sheet;
    sheet.Fill(Table({Record(), r}), 1);

    const std::pair<QStringView, QString> cases[] = {
        {u"txtName", u"Lee, Ann"_s},
        {u"txtBus", u" Lee  & Sons "_s},
        {u"txtAddress", u"9 Oak Rd"_s}, // not the anniversary date
        {u"txtLocality", u"Dover , DE   19901"_s},
        {u"txtPhone1", u"(302) 555-0100"_s},
        {u"txtPhone2", u"Unknown"_s},
        {u"txtEmail", u"ann@lee.example"_s},
        {u"txtProductMode", u"Network"_s},
        {u"txtID", u"4711"_s},
        {u"txtBD", u"Error Date"_s},
        {u"txtDD", u"02/16/2027"_s},
        {u"txtAD", u"03/17/2026"_s},
        {u"txtPD", u"04/18/2026"_s},
        {u"txtProductKey", u"TLR-1111"_s},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(sheet.text(name), expected) << name.toString().toStdString();

    // Fixed texts stay; names that are not text objects are refused.
    EXPECT_EQ(sheet.text(u"Memo1"), u"Tillora Customer Data Sheet");
    EXPECT_THROW(sheet.text(u"Line1"), TilloraError);
    EXPECT_THROW(sheet.setText(u"txtSN", u"x"_s), TilloraError);
}

TEST_F(DataSheetPdf, TextsLandAtTheTopLeftOfTheirBoxesOnALetterPage)
{
    DataSheet sheet;
    Record r;
    r.p2 = u"8005550199"_s;
    sheet.Fill(Table({r}), 0);
    const PageText page = Render(sheet);

    EXPECT_NEAR(page.size.width(), 612, 0.5);
    EXPECT_NEAR(page.size.height(), 792, 0.5);

    const std::pair<QStringView, QString> cases[] = {
        {u"txtName", u"Lee, Ann"_s},
        {u"txtBus", u"Lee & Sons"_s},
        {u"txtAddress", u"1 Main St"_s},
        {u"txtLocality", u"Dover, DE 19901"_s},
        {u"txtPhone1", u"(302) 555-0100"_s},
        {u"txtPhone2", u"(800) 555-0199"_s},
        {u"txtEmail", u"ann@lee.example"_s},
        {u"txtProductMode", u"Unlimited"_s},
        {u"txtID", u"7"_s},
        {u"txtBD", u"01/15/2020"_s},
        {u"txtDD", u"02/16/2027"_s},
        {u"txtAD", u"03/17/2026"_s},
        {u"txtPD", u"04/18/2026"_s},
        {u"txtProductKey", u"TLR-1111"_s},
        {u"Memo3", u"Customer Name"_s},
        {u"Memo4", u"Customer ID"_s},
        {u"Memo16", u"Paid Date"_s},
    };
    // Text starts 2 units right of and 1 unit below the box's corner; the
    // glyph boxes poppler reports are allowed a little slack.
    const double insetX = 2 * 0.75, insetY = 1 * 0.75, slack = 0.75;
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name.toString().toStdString());
        const QRectF box = BoxOf(name);
        EXPECT_EQ(page.textIn(box), expected);
        const Word* first = page.first(box);
        ASSERT_NE(first, nullptr);
        EXPECT_NEAR(first->box.left(), box.left() + insetX, slack);
        EXPECT_NEAR(first->box.top(), box.top() + insetY, slack);
    }

    // The heading runs past its narrow box on one line.
    const QRectF heading = BoxOf(u"Memo8");
    const QRectF headingLine(heading.left(), heading.top(), 300, heading.height());
    EXPECT_EQ(page.textIn(headingLine), u"Important Registration Dates");
    EXPECT_EQ(page.textIn(BoxOf(u"Memo1")), u"Tillora Customer Data Sheet");

    // Arial, which fontconfig gives as its metric twin.
    const QString fonts = QString::fromUtf8(Poppler(u"pdffonts"_s, {dir.filePath(u"sheet.pdf"_s)}));
    EXPECT_TRUE(fonts.contains(u"LiberationSans-Bold"_s) || fonts.contains(u"Arial"_s))
        << fonts.toStdString();
    EXPECT_FALSE(fonts.contains(u"DejaVu"_s)) << fonts.toStdString();
}

TEST_F(DataSheetPdf, LongBusinessNameIsCutOffAtItsBox)
{
    Record r;
    r.bn = u"Northern Delaware Agricultural Machinery Sales Service and Spare Parts "
           "Distribution Company of the Greater Wilmington Area Incorporated"_s;
    DataSheet sheet;
    sheet.Fill(Table({r}), 0);
    const PageText page = Render(sheet);

    const QRectF box = BoxOf(u"txtBus");
    const QStringList nameWords = r.bn.split(u' ');
    int shown = 0;
    for (const Word& w : page.words) {
        if (!nameWords.contains(w.text))
            continue;
        ++shown;
        EXPECT_LT(w.box.top(), box.bottom()) << w.text.toStdString();
        EXPECT_GE(w.box.left(), box.left()) << w.text.toStdString();
        EXPECT_LE(w.box.right(), box.right()) << w.text.toStdString();
    }
    EXPECT_GT(shown, 1);
    EXPECT_LT(shown, nameWords.size());
    EXPECT_TRUE(page.textIn(box).startsWith(u"Northern Delaware"));

    // No ink between the box's lower edge and the double line below it.
    const QString stem = dir.filePath(u"page"_s);
    Poppler(u"pdftoppm"_s, {u"-r"_s, u"72"_s, u"-gray"_s, u"-png"_s, u"-singlefile"_s,
                            dir.filePath(u"sheet.pdf"_s), stem});
    const QImage image(stem + u".png"_s);
    ASSERT_FALSE(image.isNull());
    const double lineTop = BoxOf(u"Line1").top() - 2;
    int inked = 0;
    for (int y = int(std::ceil(box.bottom())) + 1; y < int(lineTop); ++y)
        for (int x = int(box.left()); x < int(box.right()); ++x)
            inked += qGray(image.pixel(x, y)) < 160;
    EXPECT_EQ(inked, 0);
    // The same band holds the wrapped text when the box is not full.
    int inkedInBox = 0;
    for (int y = int(box.top()); y < int(box.bottom()); ++y)
        for (int x = int(box.left()); x < int(box.right()); ++x)
            inkedInBox += qGray(image.pixel(x, y)) < 160;
    EXPECT_GT(inkedInBox, 0);
}

TEST_F(DataSheetPdf, SecondCustomerReplacesTheFirst)
{
    Record first;
    Record second;
    second.id = u"8"_s;
    second.ln = u"Moe"_s;
    second.fn = u"Bo"_s;
    second.bn = u""_s; // an empty text must not leave the previous one
    second.p1 = u"6175550123"_s;
    second.pd = u"bad"_s;
    const TCustomerTable table = Table({first, second});
    DataSheet sheet;
    sheet.Fill(table, 0);
    Render(sheet, u"first.pdf"_s);
    sheet.Fill(table, 1);
    const PageText page = Render(sheet, u"second.pdf"_s);

    EXPECT_EQ(page.textIn(BoxOf(u"txtName")), u"Moe, Bo");
    EXPECT_EQ(page.textIn(BoxOf(u"txtBus")), u"");
    EXPECT_EQ(page.textIn(BoxOf(u"txtPhone1")), u"(617) 555-0123");
    EXPECT_EQ(page.textIn(BoxOf(u"txtID")), u"8");
    EXPECT_EQ(page.textIn(BoxOf(u"txtPD")), u"Error Date");
    for (const Word& w : page.words)
        EXPECT_FALSE(w.text == u"Lee" || w.text == u"Sons" || w.text == u"04/18/2026")
            << w.text.toStdString();
}

// The preview's commands, on a preview that is built but never shown modally.
class DataSheetPreviewTest : public DataSheetPdf
{
protected:
    DataSheetPreviewTest() { sheet.Fill(Table({Record()}), 0); }
    ~DataSheetPreviewTest() override { PrintDialogs::SetHook({}); }
    DataSheet sheet;
};

TEST_F(DataSheetPreviewTest, PrintsThroughThePrintDialogAtPageWidth)
{
    DataSheetPreview preview(sheet);
    EXPECT_EQ(preview.view()->zoomMode(), QPrintPreviewWidget::FitToWidth);

    const QString cancelled = dir.filePath(u"cancelled.pdf"_s);
    const QString printed = dir.filePath(u"printed.pdf"_s);
    int dialogs = 0;
    bool accept = false;
    PrintDialogs::SetHook([&](QPrinter& printer) {
        ++dialogs;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(accept ? printed : cancelled);
        return accept;
    });
    preview.PrintSheet();
    accept = true;
    preview.PrintSheet();

    EXPECT_EQ(dialogs, 2);
    EXPECT_FALSE(QFile::exists(cancelled));
    const PageText page = ReadPdf(printed);
    EXPECT_EQ(page.textIn(BoxOf(u"txtName")), u"Lee, Ann");
    EXPECT_NEAR(page.size.width(), 612, 0.5);
}

TEST_F(DataSheetPreviewTest, FindMovesThroughMatchingTextsAndWrapsRound)
{
    sheet.setText(u"txtPD", u"Error Date"_s);
    DataSheetPreview preview(sheet);
    QStringList found;
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(preview.FindNext(u"DATE"_s));
        found << preview.foundObject();
    }
    // The title's "Data" is no match; the data texts count like the fixed ones.
    EXPECT_EQ(found, (QStringList{u"Memo8"_s, u"Memo10"_s, u"Memo12"_s, u"Memo14"_s, u"Memo16"_s,
                                  u"txtPD"_s}));
    EXPECT_TRUE(preview.FindNext(u"date"_s));
    EXPECT_EQ(preview.foundObject(), u"Memo8");

    EXPECT_FALSE(preview.FindNext(u"no such text"_s));
    EXPECT_EQ(preview.foundObject(), u"");
}

// The main window's button, against the reference server.
class DataSheetCommandTest : public testing::Test
{
protected:
    DataSheetCommandTest() : fixture({MakeCustomer("Lee", "Ann"), MakeCustomer("Moe", "Bo")})
    {
        DataSheet::SetPreviewHook([this](DataSheet& sheet) { shown << sheet.text(u"txtName"); });
        fixture.start();
    }
    ~DataSheetCommandTest() override { DataSheet::SetPreviewHook({}); }

    GuiFixture fixture;
    QStringList shown;
};

TEST_F(DataSheetCommandTest, ShowsTheSelectedCustomerWithoutAskingTheServer)
{
    TForm1& form = fixture.form();
    ASSERT_TRUE(fixture.errorBoxes.isEmpty()) << fixture.errorBoxes.join(u'\n').toStdString();
    fixture.clearRequests();

    form.SelectPosition(1);
    form.SpeedButton7->click();
    form.SelectPosition(0);
    form.SpeedButton7->click();

    EXPECT_EQ(shown, (QStringList{u"Moe, Bo"_s, u"Lee, Ann"_s}));
    EXPECT_TRUE(fixture.requests().isEmpty()) << fixture.requests().join(u' ').toStdString();
    EXPECT_TRUE(fixture.errorBoxes.isEmpty());
}

TEST_F(DataSheetCommandTest, DoesNothingWithoutASelection)
{
    TForm1& form = fixture.form();
    form.SelectPosition(-1);
    ASSERT_FALSE(form.SelectedRow().has_value());
    form.SpeedButton7->click();
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_TRUE(fixture.errorBoxes.isEmpty());
}

} // namespace
