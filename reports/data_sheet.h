#pragma once

// The client data sheet (frxReport1): the page design with its current
// texts, painting it, and the preview it is printed from.

#include "customer_table.h"

#include <QDialog>
#include <QImage>
#include <QObject>
#include <QPrinter>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <vector>

class QComboBox;
class QLineEdit;
class QPainter;
class QPrintPreviewWidget;

class DataSheet : public QObject
{
    Q_OBJECT
public:
    explicit DataSheet(QObject* parent = nullptr);

    // The sheet owned by `owner`, made on first use. It keeps the last
    // customer's texts until the next fill.
    static DataSheet& Of(QObject& owner);

    // Text objects by name; an unknown name raises TilloraError.
    QString text(QStringView name) const;
    void setText(QStringView name, QString text);

    // Sets all fourteen data texts from `row` of `table`.
    void Fill(const TCustomerTable& table, std::int32_t row);

    // Paints the page with the painter's origin at the top-left corner of
    // the area inside the margins, scaled to the device's resolution. The
    // object named `highlighted` gets a marker behind it (the preview's find).
    void Paint(QPainter& painter, QStringView highlighted = {}) const;

    // Sets the sheet's page on `printer` and prints it; raises TilloraError
    // when the printer cannot be opened.
    void Print(QPrinter& printer) const;
    void WritePdf(const QString& path) const;

    // The modal preview; returns when the operator closes it.
    void ShowPreview(QWidget* parent);

    // Tests get the prepared sheet here instead of a modal preview.
    using PreviewHook = std::function<void(DataSheet&)>;
    static void SetPreviewHook(PreviewHook hook);

private:
    std::size_t indexOfText(QStringView name) const;

    QImage m_logo;
    // By object, in the order of the design; empty for lines and the picture.
    std::vector<QString> m_texts;
};

// The preview window: the page at the width of the window, with print,
// zoom, find, export and close.
class DataSheetPreview : public QDialog
{
    Q_OBJECT
public:
    explicit DataSheetPreview(const DataSheet& sheet, QWidget* parent = nullptr);

    QPrintPreviewWidget* view() const { return m_view; }

    // The toolbar's commands.
    // Prints through the print dialog onto the default printer.
    void PrintSheet();
    // Marks the next text object (in page order, wrapping round) that
    // contains `text`, ignoring case; false when none does.
    bool FindNext(const QString& text);
    QString foundObject() const;
    void ExportPdf(const QString& path) const;

private:
    void FindClicked();
    void ExportClicked();
    void ZoomChosen(int index);

    const DataSheet& m_sheet;
    QPrinter m_pagePrinter;
    QPrintPreviewWidget* m_view = nullptr;
    QComboBox* m_zoom = nullptr;
    QLineEdit* m_findText = nullptr;
    int m_found = -1;
};
