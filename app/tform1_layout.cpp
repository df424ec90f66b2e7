// The main window's controls: their names, places, sizes, texts, fonts and
// colours, and how they follow the window's size.

#include "tform1.h"

#include "customer_list_model.h"
#include "fonts.h"
#include "group_row_delegate.h"
#include "named.h"
#include "pictures.h"
#include "system_colors.h"
#include "tab_stop_label.h"

#include <QCommandLinkButton>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QStatusBar>
#include <QTabBar>
#include <QToolButton>
#include <QTreeView>

namespace {

constexpr int DesignWidth = 1128;
constexpr int DesignHeight = 722;
constexpr int ListWidth = 265;
constexpr int ReportsWidth = 177;
constexpr int CallAreaHeight = 241;
constexpr int DetailDesignHeight = 606;
constexpr int GroupBoxRightGap = 140;

void Paint(QWidget* widget, QPalette::ColorRole role, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
    if (role == QPalette::Window)
        widget->setAutoFillBackground(true);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QPoint at, QFont font)
{
    auto* label = Named(new TabStopLabel(text, parent), name);
    label->setTextFormat(Qt::PlainText); // "&" stays a plain character
    label->setFont(font);
    label->move(at);
    label->adjustSize();
    return label;
}

// A flat button on a dark bar. The style's own hover panel is near white and
// would swallow the white caption, so under the pointer the button shows a
// raised frame on the bar's colour instead.
QToolButton* MakeFlatButton(QWidget* parent, const char* name, const QString& text, QRect geometry,
                            QFont font)
{
    auto* button = Named(new QToolButton(parent), name);
    button->setText(text);
    button->setAutoRaise(true); // no frame until the pointer is over it
    button->setFont(font);
    button->setGeometry(geometry);
    button->setFocusPolicy(Qt::NoFocus);
    const QPalette system;
    const QColor caption = SystemColors::HighlightText(system);
    const QColor bar = SystemColors::WindowFrame();
    const QColor light = system.color(QPalette::Light);
    const QColor shadow = bar.darker(200); // the usual shadow grey is lighter than the bar
    button->setStyleSheet(
        QStringLiteral("QToolButton { color: %1; background: transparent;"
                       " border: 1px solid transparent; padding: 0px; }"
                       "QToolButton:hover { background: %2; border-color: %3 %4 %4 %3; }"
                       "QToolButton:pressed { background: %2; border-color: %4 %3 %3 %4; }")
            .arg(caption.name(), bar.name(), light.name(), shadow.name()));
    return button;
}

} // namespace

void TForm1::BuildCommandBar()
{
    Panel1 = Named(new QFrame(this), "Panel1");
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(1);
    Paint(Panel1, QPalette::Window, SystemColors::WindowFrame());

    Label1 =
        MakeLabel(Panel1, "Label1", QStringLiteral("Find Customer"), {17, 13}, Tahoma(11, true));
    Paint(Label1, QPalette::WindowText, Qt::white);

    Edit1 = Named(new QLineEdit(QStringLiteral("Edit1"), Panel1), "Edit1");
    Edit1->setGeometry(119, 8, 217, 24);
    Edit1->setFont(Tahoma(13, true));

    const QFont barFont = Tahoma(11, true);
    SpeedButton1 = MakeFlatButton(Panel1, "SpeedButton1", QStringLiteral("Add New"),
                                  {342, 6, 97, 29}, barFont);
    SpeedButton2 = MakeFlatButton(Panel1, "SpeedButton2", QStringLiteral("Edit Customer"),
                                  {445, 6, 97, 29}, barFont);
    SpeedButton3 = MakeFlatButton(Panel1, "SpeedButton3", QStringLiteral("Refresh Data"),
                                  {548, 6, 97, 29}, barFont);
    SpeedButton4 =
        MakeFlatButton(Panel1, "SpeedButton4", QStringLiteral("Send Email Message to All Clients"),
                       {726, 6, 259, 29}, barFont);
    for (QToolButton* b : {SpeedButton1, SpeedButton2, SpeedButton3, SpeedButton4})
        Paint(b, QPalette::ButtonText, SystemColors::HighlightText(palette()));

    BitBtn2 = Named(new QPushButton(QIcon(Pictures::AbortCross()), QStringLiteral("Close"), Panel1),
                    "BitBtn2");
    BitBtn2->setFont(Tahoma(11, true));
    Paint(BitBtn2, QPalette::ButtonText, Qt::red);
    BitBtn2->setCursor(Qt::PointingHandCursor);

    // Out of sight beyond the bar's right edge, but still in the tab order.
    BitBtn1 = Named(new QPushButton(QIcon(Pictures::CloseDisc()), QStringLiteral("Close"), Panel1),
                    "BitBtn1");
    BitBtn1->setFont(Tahoma(11));
    BitBtn1->setCursor(Qt::PointingHandCursor);
    // Enter presses a focused button, as Space does.
    BitBtn1->setAutoDefault(true);
    BitBtn2->setAutoDefault(true);
}

void TForm1::BuildTabStrips()
{
    auto* views = Named(new QTabBar(this), "TabControl2");
    for (const char* text :
         {"Active Customers", "Dormant Customers", "Customers Requiring CD", "Grouped By State"})
        views->addTab(QString::fromLatin1(text));
    views->setExpanding(false);
    views->setDrawBase(true);
    views->setCursor(Qt::PointingHandCursor);
    TabControl2 = views;

    auto* letters = Named(new QTabBar(this), "TabControl3");
    letters->setShape(QTabBar::RoundedSouth);
    letters->addTab(QStringLiteral("ALL"));
    for (char c = 'A'; c <= 'Z'; ++c)
        letters->addTab(QString(QChar(c)));
    letters->setExpanding(false);
    letters->setUsesScrollButtons(false);
    // Tabs of 35 x 16 drawn along the strip's bottom edge; the style's usual
    // padding would clip "ALL".
    letters->setStyleSheet(QStringLiteral(
        "QTabBar::tab { width: 35px; height: 16px; padding: 0px; margin-top: 8px; }"));
    letters->setCursor(Qt::PointingHandCursor);
    TabControl3 = letters;

    StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
    StatusBar1->setSizeGripEnabled(true);
    StatusText = Named(new QLabel(StatusBar1), "StatusText");
    StatusText->setTextFormat(Qt::PlainText);
    StatusBar1->addWidget(StatusText, 1);
}

void TForm1::BuildList()
{
    ListView1 = Named(new QTreeView(this), "ListView1");
    ListModel = new CustomerListModel(this);
    ListModel->setTable(&Customers);
    ListModel->setImages(QIcon(Pictures::FolderCard()), QIcon(Pictures::OpenEnvelope()));
    ListView1->setModel(ListModel);
    ListView1->setItemDelegate(new GroupRowDelegate(ListView1));
    ListView1->setHeaderHidden(true);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setItemsExpandable(false);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setIconSize({16, 16});
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    ListView1->setColumnHidden(1, true); // the row number lives in the unseen second column
    ListView1->viewport()->setCursor(Qt::PointingHandCursor);
    // The selection shows only while the list has the keyboard focus.
    QPalette palette = ListView1->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Base));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText, palette.color(QPalette::Text));
    ListView1->setPalette(palette);
}

void TForm1::BuildDetailArea()
{
    Panel4 = Named(new QFrame(this), "Panel4");
    Panel4->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel4->setLineWidth(1);
    Paint(Panel4, QPalette::Window, SystemColors::GradientInactiveCaption());

    Label3 = MakeLabel(Panel4, "Label3", QStringLiteral("Label3"), {22, 16}, Tahoma(19, true));

    const QFont caption = Tahoma(11, true);
    const QFont value = Tahoma(11);
    struct Row
    {
        QLabel** captionLabel;
        const char* captionName;
        const char* text;
        QLabel** valueLabel;
        const char* valueName;
        int valueLeft;
        int top;
    };
    const Row rows[] = {
        {&Label2, "Label2", "Last Name", &lblLN, "lblLN", 182, 49},
        {&Label4, "Label4", "First Name", &lblFN, "lblFN", 181, 71},
        {&Label5, "Label5", "Business Name", &lblBN, "lblBN", 181, 93},
        {&Label6, "Label6", "Mailing Address", &lblAD, "lblAD", 182, 129},
        {&Label7, "Label7", "City", &lblCY, "lblCY", 181, 151},
        {&Label8, "Label8", "State", &lblST, "lblST", 181, 173},
        {&Label9, "Label9", "Zip Code", &lblZP, "lblZP", 182, 195},
        {&Label10, "Label10", "Telephone 1 (Pref)", &lblP1, "lblP1", 182, 217},
        {&Label11, "Label11", "Telephone 2", &lblP2, "lblP2", 182, 239},
        {&Label12, "Label12", "Email Address @", &lblEM, "lblEM", 182, 261},
    };
    for (const Row& r : rows) {
        *r.captionLabel =
            MakeLabel(Panel4, r.captionName, QString::fromLatin1(r.text), {22, r.top}, caption);
        *r.valueLabel =
            MakeLabel(Panel4, r.valueName,
                      r.valueLabel == &lblLN ? QStringLiteral("lblLN") : QStringLiteral("Label13"),
                      {r.valueLeft, r.top}, value);
    }
    Label7->setFont(Tahoma(15, true));
    Label7->adjustSize();

    GroupBox1 = Named(new QGroupBox(QStringLiteral("Customer Registration Information"), Panel4),
                      "GroupBox1");
    GroupBox1->setFont(Tahoma(11, true));
    GroupBox1->resize(323, 276);
    struct RegistrationLabel
    {
        QLabel** label;
        const char* name;
        int top;
        int pixels;
        bool bold;
    };
    const RegistrationLabel registration[] = {
        {&Label13, "Label13", 24, 11, true},   {&Label14, "Label14", 46, 16, true},
        {&Label16, "Label16", 71, 11, true},   {&Label17, "Label17", 93, 11, true},
        {&Label18, "Label18", 115, 11, false}, {&Label19, "Label19", 137, 11, false},
        {&Label20, "Label20", 159, 11, false}, {&Label21, "Label21", 181, 11, false},
        {&Label22, "Label22", 208, 13, true},  {&Label15, "Label15", 249, 11, true},
    };
    for (const RegistrationLabel& r : registration)
        *r.label = MakeLabel(GroupBox1, r.name, QStringLiteral("Label13"), {24, r.top},
                             Tahoma(r.pixels, r.bold));
    Paint(Label13, QPalette::WindowText, Qt::blue);
    Paint(Label22, QPalette::Window, SystemColors::GradientInactiveCaption()); // opaque

    ButtonGradient1 =
        Named(new QCommandLinkButton(QStringLiteral("Move To Dormant"), Panel4), "ButtonGradient1");
    ButtonGradient1->setGeometry(80, 318, 243, 39);
    ButtonGradient1->setFont(font());
    ButtonGradient1->setToolTip(QStringLiteral(
        "Click Here to move customer to dormant list.  Call History will be lost.  Only contact "
        "information and registration will be kept on file.  Only do this for known Extinct "
        "Clients."));

    Panel5 = Named(new QFrame(Panel4), "Panel5");
    Paint(Panel5, QPalette::Window, SystemColors::AppWorkSpace());
    Panel5->setFont(Tahoma(11));
    BuildReportsColumn(Panel5);

    Panel6 = Named(new QFrame(Panel4), "Panel6");
    Panel6->setFrameStyle(QFrame::Box | QFrame::Raised);
    Panel6->setLineWidth(1);
    Panel6->setMidLineWidth(1);
    Paint(Panel6, QPalette::Window, SystemColors::GradientInactiveCaption());
    Panel6->hide();

    Panel2 = Named(new QFrame(Panel4), "Panel2");
    Panel2->setFrameStyle(QFrame::Box | QFrame::Plain);
    Panel2->setLineWidth(1);
    Paint(Panel2, QPalette::Window, Qt::white);
    BuildCallHistoryArea(Panel2);

    // The reports column lies over the box's right edge; the overlay over
    // the customer labels, the box and the dormant button.
    Panel5->raise();
    Panel6->raise();
}

void TForm1::BuildReportsColumn(QWidget* parent)
{
    Label23 = MakeLabel(parent, "Label23", QStringLiteral("Reports"), {16, 10}, Tahoma(15, true));
    auto button = [parent](const char* name, const char* text, int top) {
        auto* b = Named(new QPushButton(QString::fromLatin1(text), parent), name);
        b->setGeometry(16, top, 151, 41);
        b->setFocusPolicy(Qt::NoFocus);
        b->setCursor(Qt::PointingHandCursor);
        return b;
    };
    SpeedButton5 = button("SpeedButton5", "Clients Requiring Invoice", 48);
    SpeedButton7 = button("SpeedButton7", "Selected Client Data Sheet", 127);
    SpeedButton6 = button("SpeedButton6", "Clients Requiring CD by Mail", 207);
    SpeedButton8 = button("SpeedButton8", "Call History", 283);
    SpeedButton6->setEnabled(false);
    SpeedButton8->setEnabled(false);
    SpeedButton6->unsetCursor();
    SpeedButton8->unsetCursor();
}

void TForm1::BuildCallHistoryArea(QWidget* parent)
{
    Panel3 = Named(new QFrame(parent), "Panel3");
    Paint(Panel3, QPalette::Window, SystemColors::WindowFrame());
    auto* caption =
        Named(new QLabel(QStringLiteral("  Customer Call History"), Panel3), "Panel3Caption");
    caption->setFont(Tahoma(11, true));
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    caption->setGeometry(0, 0, 280, 32);
    Paint(caption, QPalette::WindowText, SystemColors::HighlightText(palette()));
    Panel3->setFont(Tahoma(11, true));
    SpeedButton9 = MakeFlatButton(Panel3, "SpeedButton9", QStringLiteral("Add Call"),
                                  {288, 4, 89, 25}, Tahoma(11, true));
    Paint(SpeedButton9, QPalette::ButtonText, SystemColors::HighlightText(palette()));
    SpeedButton9->setCursor(Qt::PointingHandCursor);

    auto* strip = Named(new QTabBar(parent), "TabControl1");
    strip->setDocumentMode(true); // tabs drawn as flat buttons
    strip->setExpanding(false);
    strip->setDrawBase(false);
    strip->setCursor(Qt::PointingHandCursor);
    TabControl1 = strip;

    Image1 = Named(new QLabel(parent), "Image1");
    Image1->setGeometry(3, 67, 41, 40);
    Image1->setPixmap(Pictures::Clock());
    Image1->setScaledContents(true);
    Image1->hide();

    // Unlike the customer labels these two treat "&" as an accelerator mark.
    Label26 = Named(new QLabel(parent), "Label26");
    Label26->setTextFormat(Qt::RichText);
    Label26->move(53, 74);
    Label26->setFont(Tahoma(15, true));

    Label27 = Named(new QLabel(parent), "Label27");
    Label27->setGeometry(53, 96, 809, 115);
    Label27->setFont(Tahoma(11));
    Label27->setWordWrap(true);
    Label27->setTextFormat(Qt::RichText);
    Label27->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();

    Panel1->setGeometry(0, 3, w, 41);
    BitBtn2->setGeometry(w - (DesignWidth - 1008), 8, 105, 27);
    BitBtn1->setGeometry(w - (DesignWidth - 1243), 6, 75, 29);

    TabControl2->setGeometry(0, 44, w, 29);
    TabControl3->setGeometry(0, 73, w, 24);

    const int top = 97;
    const int bottom = h - 19;
    StatusBar1->setGeometry(0, bottom, w, 19);
    ListView1->setGeometry(0, top, ListWidth, bottom - top);
    Panel4->setGeometry(ListWidth, top, w - ListWidth, bottom - top);
    LayoutDetailArea();
}

void TForm1::LayoutDetailArea()
{
    // Children dock inside the panel's 1-pixel bevel.
    const int w = Panel4->width() - 2;
    const int h = Panel4->height() - 2;
    const int upper = h - CallAreaHeight;

    Panel2->setGeometry(1, 1 + upper, w, CallAreaHeight);
    Panel5->setGeometry(1 + w - ReportsWidth, 1, ReportsWidth, upper);
    Panel6->setGeometry(1, 1, w - ReportsWidth, upper);

    // The box keeps its distance from the right edge; its centre keeps its
    // proportion of the area's height.
    const int centre = (49 + 276 / 2) * Panel4->height() / DetailDesignHeight;
    GroupBox1->move(Panel4->width() - GroupBoxRightGap - GroupBox1->width(), centre - 276 / 2);

    const int inner = Panel2->width() - 2;
    Panel3->setGeometry(1, 1, inner, 32);
    TabControl1->setGeometry(1, 33, inner, 28);
}
