#include "data_sheet.h"

#include "data_sheet_layout.h"
#include "display_formats.h"
#include "error_handler.h"
#include "errors.h"
#include "message_boxes.h"
#include "print_dialogs.h"
#include "text_basics.h"
#include "vendor_logo.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPaintDevice>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QScreen>
#include <QTextLayout>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

DataSheet::PreviewHook& CurrentPreviewHook()
{
    static DataSheet::PreviewHook hook;
    return hook;
}

// Report units to device pixels.
struct Scale
{
    double x, y;

    explicit Scale(const QPaintDevice& device)
        : x(device.logicalDpiX() / SheetLayout::UnitsPerInch),
          y(device.logicalDpiY() / SheetLayout::UnitsPerInch)
    {
    }
    QRectF operator()(const QRectF& r) const
    {
        return QRectF(r.x() * x, r.y() * y, r.width() * x, r.height() * y);
    }
};

QFont SheetFont(const SheetLayout::Font& font)
{
    QFont f(SheetLayout::FontFamily.toString());
    f.setPointSizeF(font.pointSize);
    f.setBold(font.bold);
    return f;
}

void DrawText(QPainter& painter, const Scale& scale, const SheetLayout::Object& object,
              const QString& text)
{
    if (text.isEmpty())
        return;
    QString shown = text;
    shown.replace(u"\r\n"_s, QString(QChar::LineSeparator));
    shown.replace(u'\n', QChar::LineSeparator).replace(u'\r', QChar::LineSeparator);

    const bool clipped = object.flow == SheetLayout::Flow::WrapAndClip;
    const QRectF box = scale(object.box);
    const double insetX = SheetLayout::TextInsetX * scale.x;
    const double insetY = SheetLayout::TextInsetY * scale.y;

    QTextLayout layout(shown, SheetFont(object.font), painter.device());
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    // A word longer than the box breaks inside rather than running out of it.
    option.setWrapMode(clipped ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    double y = insetY;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(0.0, box.width() - 2 * insetX));
        line.setLeadingIncluded(true);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();

    painter.save();
    painter.setPen(Qt::black);
    if (clipped)
        painter.setClipRect(box, Qt::IntersectClip);
    const QPointF origin = box.topLeft() + QPointF(insetX, 0);
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        // Lines that start below the box would be clipped away entirely;
        // leaving them out keeps them out of the page's text as well.
        if (clipped && line.y() >= box.height())
            break;
        line.draw(&painter, origin);
    }
    painter.restore();
}

void DrawDoubleLine(QPainter& painter, const Scale& scale, const SheetLayout::Object& object)
{
    const bool horizontal = object.kind == SheetLayout::Kind::HorizontalDoubleLine;
    const QRectF box = scale(object.box);
    const double stroke = SheetLayout::DoubleLineStroke * (horizontal ? scale.y : scale.x);
    painter.save();
    painter.setPen(QPen(Qt::black, stroke, Qt::SolidLine, Qt::FlatCap));
    // Two strokes either side of the line's position with a stroke's gap between.
    for (const double offset : {-stroke, stroke}) {
        if (horizontal)
            painter.drawLine(QPointF(box.left(), box.top() + offset),
                             QPointF(box.right(), box.top() + offset));
        else
            painter.drawLine(QPointF(box.left() + offset, box.top()),
                             QPointF(box.left() + offset, box.bottom()));
    }
    painter.restore();
}

void DrawPicture(QPainter& painter, const Scale& scale, const SheetLayout::Object& object,
                 const QImage& image)
{
    const QRectF box = scale(object.box);
    painter.save();
    painter.fillRect(box, Qt::white);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF size = QSizeF(image.size()).scaled(box.size(), Qt::KeepAspectRatio);
    painter.drawImage(QRectF(box.topLeft(), size), image);
    painter.restore();
}

} // namespace

DataSheet::DataSheet(QObject* parent) : QObject(parent), m_logo(VendorLogo())
{
    setObjectName(u"frxReport1"_s);
    for (const SheetLayout::Object& object : SheetLayout::Objects())
        m_texts.push_back(object.text.toString());
}

DataSheet& DataSheet::Of(QObject& owner)
{
    if (DataSheet* sheet = owner.findChild<DataSheet*>(u"frxReport1"_s, Qt::FindDirectChildrenOnly))
        return *sheet;
    return *new DataSheet(&owner);
}

std::size_t DataSheet::indexOfText(QStringView name) const
{
    const SheetLayout::Object* object = SheetLayout::Find(name);
    if (!object || object->kind != SheetLayout::Kind::Text)
        throw TilloraError(u"Text object \"%1\" not found in the data sheet"_s.arg(name));
    return std::size_t(object - SheetLayout::Objects().data());
}

QString DataSheet::text(QStringView name) const
{
    return m_texts[indexOfText(name)];
}

void DataSheet::setText(QStringView name, QString text)
{
    m_texts[indexOfText(name)] = std::move(text);
}

void DataSheet::Fill(const TCustomerTable& table, std::int32_t row)
{
    using F = CustomerField;
    const auto stored = [&](F field) { return table.text(field, row); };
    const auto trimmed = [&](F field) { return Trim(table.textView(field, row)).toString(); };
    const auto date = [&](F field) { return FormatDate(table.textView(field, row)); };

    setText(u"txtName", trimmed(F::LN) + u", "_s + trimmed(F::FN));
    setText(u"txtAddress", stored(F::AD));
    setText(u"txtLocality", stored(F::CY) + u", "_s + stored(F::ST) + u"  "_s + stored(F::ZP));
    setText(u"txtPhone1", FormatPhone(table.textView(F::P1, row)));
    setText(u"txtPhone2", FormatPhone(table.textView(F::P2, row)));
    setText(u"txtEmail", stored(F::EM));
    setText(u"txtBus", stored(F::BN));
    setText(u"txtProductMode", trimmed(F::PM));
    setText(u"txtID", QString::number(table.ID(row)));
    setText(u"txtBD", date(F::BD));
    setText(u"txtDD", date(F::DD));
    setText(u"txtAD", date(F::ANI));
    setText(u"txtPD", date(F::PD));
    setText(u"txtProductKey", stored(F::PK));
}

void DataSheet::Paint(QPainter& painter, QStringView highlighted) const
{
    const Scale scale(*painter.device());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const std::span<const SheetLayout::Object> objects = SheetLayout::Objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const SheetLayout::Object& object = objects[i];
        switch (object.kind) {
        case SheetLayout::Kind::Text:
            if (object.name == highlighted)
                painter.fillRect(scale(object.box), QColor(255, 230, 90));
            DrawText(painter, scale, object, m_texts[i]);
            break;
        case SheetLayout::Kind::HorizontalDoubleLine:
        case SheetLayout::Kind::VerticalDoubleLine:
            DrawDoubleLine(painter, scale, object);
            break;
        case SheetLayout::Kind::Picture:
            DrawPicture(painter, scale, object, m_logo);
            break;
        }
    }
    painter.restore();
}

void DataSheet::Print(QPrinter& printer) const
{
    printer.setPageLayout(SheetLayout::PageLayout());
    printer.setFullPage(false);
    if (printer.docName().isEmpty())
        printer.setDocName(u"Tillora Customer Data Sheet"_s);
    QPainter painter;
    if (!painter.begin(&printer))
        throw TilloraError(u"The data sheet could not be sent to the printer"_s);
    Paint(painter);
    painter.end();
}

void DataSheet::WritePdf(const QString& path) const
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    Print(printer);
}

void DataSheet::ShowPreview(QWidget* parent)
{
    if (CurrentPreviewHook()) {
        CurrentPreviewHook()(*this);
        return;
    }
    DataSheetPreview preview(*this, parent);
    preview.exec();
}

void DataSheet::SetPreviewHook(PreviewHook hook)
{
    CurrentPreviewHook() = std::move(hook);
}

DataSheetPreview::DataSheetPreview(const DataSheet& sheet, QWidget* parent)
    : QDialog(parent), m_sheet(sheet), m_pagePrinter(QPrinter::HighResolution)
{
    setObjectName(u"DataSheetPreview"_s);
    setWindowTitle(u"Preview"_s);
    setModal(true);

    // The preview only needs the page; a PDF printer keeps the margins
    // exact whatever the default printer could do.
    m_pagePrinter.setOutputFormat(QPrinter::PdfFormat);
    m_pagePrinter.setPageLayout(SheetLayout::PageLayout());
    m_pagePrinter.setFullPage(false);

    auto* bar = new QToolBar(this);
    bar->setObjectName(u"PreviewToolBar"_s);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    QAction* print = bar->addAction(QIcon::fromTheme(u"document-print"_s), u"Print"_s);
    connect(print, &QAction::triggered, this, [this] { Guarded(this, [this] { PrintSheet(); }); });

    bar->addSeparator();
    bar->addWidget(new QLabel(u" Zoom "_s, bar));
    m_zoom = new QComboBox(bar);
    m_zoom->setObjectName(u"ZoomBox"_s);
    m_zoom->addItem(u"Page width"_s, 0.0);
    m_zoom->addItem(u"Whole page"_s, -1.0);
    for (const int percent : {50, 75, 100, 150, 200})
        m_zoom->addItem(u"%1%"_s.arg(percent), percent / 100.0);
    bar->addWidget(m_zoom);
    connect(m_zoom, &QComboBox::activated, this, [this](int index) { ZoomChosen(index); });

    bar->addSeparator();
    m_findText = new QLineEdit(bar);
    m_findText->setObjectName(u"FindText"_s);
    m_findText->setPlaceholderText(u"Text to find"_s);
    m_findText->setMaximumWidth(160);
    bar->addWidget(m_findText);
    QAction* find = bar->addAction(QIcon::fromTheme(u"edit-find"_s), u"Find"_s);
    connect(find, &QAction::triggered, this, [this] { Guarded(this, [this] { FindClicked(); }); });
    connect(m_findText, &QLineEdit::returnPressed, this,
            [this] { Guarded(this, [this] { FindClicked(); }); });

    bar->addSeparator();
    QAction* exportPdf = bar->addAction(QIcon::fromTheme(u"document-export"_s), u"Export"_s);
    connect(exportPdf, &QAction::triggered, this, [this] { Guarded(this, [this] { ExportClicked(); }); });

    bar->addSeparator();
    QAction* close = bar->addAction(QIcon::fromTheme(u"window-close"_s), u"Close"_s);
    connect(close, &QAction::triggered, this, &QDialog::accept);

    m_view = new QPrintPreviewWidget(&m_pagePrinter, this);
    m_view->setObjectName(u"PreviewPage"_s);
    m_view->setViewMode(QPrintPreviewWidget::SinglePageView);
    m_view->setZoomMode(QPrintPreviewWidget::FitToWidth);
    connect(m_view, &QPrintPreviewWidget::paintRequested, this, [this](QPrinter* printer) {
        QPainter painter(printer);
        m_sheet.Paint(painter, foundObject());
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(m_view, 1);

    // Large enough to read the page at its width, but not maximized.
    QSize size(820, 900);
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize() * 0.9);
    resize(size);
}

void DataSheetPreview::PrintSheet()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(SheetLayout::PageLayout());
    if (!PrintDialogs::Exec(printer, this))
        return;
    m_sheet.Print(printer);
}

bool DataSheetPreview::FindNext(const QString& text)
{
    const std::span<const SheetLayout::Object> objects = SheetLayout::Objects();
    const int count = int(objects.size());
    int found = -1;
    if (!text.isEmpty()) {
        for (int step = 1; step <= count && found < 0; ++step) {
            const int i = (m_found + step) % count;
            if (objects[std::size_t(i)].kind == SheetLayout::Kind::Text &&
                m_sheet.text(objects[std::size_t(i)].name).contains(text, Qt::CaseInsensitive))
                found = i;
        }
    }
    m_found = found;
    m_view->updatePreview();
    return found >= 0;
}

QString DataSheetPreview::foundObject() const
{
    if (m_found < 0)
        return {};
    return SheetLayout::Objects()[std::size_t(m_found)].name.toString();
}

void DataSheetPreview::ExportPdf(const QString& path) const
{
    m_sheet.WritePdf(path);
}

void DataSheetPreview::FindClicked()
{
    if (!FindNext(m_findText->text()))
        MessageBoxes::Show(MessageBoxes::Kind::Information, u"Text not found"_s, this);
}

void DataSheetPreview::ExportClicked()
{
    const QString path = QFileDialog::getSaveFileName(this, u"Export"_s, u"Data Sheet.pdf"_s,
                                                      u"PDF files (*.pdf)"_s);
    if (!path.isEmpty())
        ExportPdf(path);
}

void DataSheetPreview::ZoomChosen(int index)
{
    const double factor = m_zoom->itemData(index).toDouble();
    if (factor == 0)
        m_view->setZoomMode(QPrintPreviewWidget::FitToWidth);
    else if (factor < 0)
        m_view->setZoomMode(QPrintPreviewWidget::FitInView);
    else
        m_view->setZoomFactor(factor);
}
