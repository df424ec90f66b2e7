#include "tform2.h"

#include "error_handler.h"
#include "fonts.h"
#include "named.h"
#include "persistent_selection_edit.h"
#include "system_colors.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace {

QLabel* Caption(QWidget* parent, const char* name, const char* text, QPoint at)
{
    auto* label = Named(new QLabel(QString::fromLatin1(text), parent), name);
    label->setTextFormat(Qt::PlainText);
    label->move(at);
    label->adjustSize();
    return label;
}

// A labelled edit: the caption stands just above the field.
QLineEdit* LabelledEdit(QWidget* parent, const char* name, const char* caption, QRect geometry,
                        QLineEdit* made = nullptr)
{
    auto* edit = Named(made ? made : new QLineEdit(parent), name);
    edit->setGeometry(geometry);
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QString::fromLatin1(name) + QStringLiteral("Label"));
    label->setTextFormat(Qt::PlainText);
    label->adjustSize();
    label->move(geometry.left(), geometry.top() - label->height() - 2);
    label->setBuddy(edit);
    return edit;
}

// The masked date edit: two digits, "/", two digits, "/", four digits.
QLineEdit* DateEdit(QWidget* parent, const char* name, QRect geometry)
{
    auto* edit = Named(new QLineEdit(parent), name);
    edit->setGeometry(geometry);
    // Month and day digits may be left out, the four year digits are asked
    // for (Qt's "0" is an optional digit, "9" a required one).
    edit->setInputMask(QStringLiteral("00/00/9999;_"));
    edit->setMaxLength(10);
    return edit;
}

QComboBox* PickList(QWidget* parent, const char* name, QStringList entries, QRect geometry)
{
    auto* box = Named(new QComboBox(parent), name);
    box->addItems(entries);
    box->setEditable(false); // pick only
    box->setGeometry(geometry);
    box->setCurrentIndex(0);
    return box;
}

} // namespace

TForm2::TForm2(TForm1* form1, TForm5* form5, QString serverBaseAddress, QString userName,
               QString password, QWidget* parent)
    : QDialog(parent), IdHTTP1(std::move(userName), std::move(password)), m_form1(form1),
      m_form5(form5),
      m_serverBaseAddress(std::move(serverBaseAddress))
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Customer Data Edit"));
    setFixedSize(791, 627);
    setFont(Tahoma(11));
    setModal(true);
    Build();

    IdHTTP1.OnWorkBegin = [this](TransferDirection d, std::int64_t n) { IdHTTP1WorkBegin(d, n); };
    IdHTTP1.OnWork = [this](TransferDirection d, std::int64_t n) { IdHTTP1Work(d, n); };
    IdHTTP1.OnWorkEnd = [this](TransferDirection d) { IdHTTP1WorkEnd(d); };
}

void TForm2::Build()
{
    Panel1 = Named(new QFrame(this), "Panel1");
    Panel1->setGeometry(0, 0, 791, 619);
    QPalette p = Panel1->palette();
    p.setColor(QPalette::Window, SystemColors::GradientActiveCaption());
    Panel1->setPalette(p);
    Panel1->setAutoFillBackground(true);

    const struct
    {
        QLineEdit** edit;
        const char* name;
        const char* caption;
        int top;
    } fields[] = {
        {&txtLN, "txtLN", "Last Name", 40},      {&txtFN, "txtFN", "First Name", 80},
        {&txtBN, "txtBN", "Business Name", 130}, {&txtAD, "txtAD", "Address", 176},
        {&txtCY, "txtCY", "City", 221},          {&txtST, "txtST", "State", 266},
        {&txtZP, "txtZP", "Zip Code", 312},      {&txtP1, "txtP1", "Phone 1 (Pref)", 357},
        {&txtP2, "txtP2", "Phone 2", 402},       {&txtEM, "txtEM", "Email @", 448},
    };
    for (const auto& f : fields)
        *f.edit = LabelledEdit(Panel1, f.name, f.caption, {24, f.top, 241, 21});

    Label1 = Caption(Panel1, "Label1", "Heard Of Tillora", {401, 21});
    cboHO = PickList(Panel1, "cboHO",
                     {QStringLiteral("Web Search"), QStringLiteral("Farm Show Display"),
                      QStringLiteral("Magazine Ad"), QStringLiteral("Postcard"),
                      QStringLiteral("Radio Commercial"), QStringLiteral("Word Of Mouth")},
                     {401, 40, 201, 21});
    Label2 = Caption(Panel1, "Label2", "Update Delivery Method", {401, 77});
    cboDV = PickList(Panel1, "cboDV",
                     {QStringLiteral("Internet Download"), QStringLiteral("CD By Mail")},
                     {401, 96, 201, 21});

    GroupBox1 = Named(new QGroupBox(QStringLiteral("Registration"), Panel1), "GroupBox1");
    GroupBox1->setGeometry(368, 144, 393, 345);
    GroupBox1->setFont(Tahoma(11, true));
    // The box's caption is bold; its children use the regular font.
    auto* inner = new QWidget(GroupBox1);
    inner->setGeometry(0, 0, 393, 345);
    inner->setFont(Tahoma(11));

    Label3 = Caption(inner, "Label3", "Program Mode", {213, 27});
    cboPM = PickList(inner, "cboPM",
                     {QStringLiteral("Unlimited"), QStringLiteral("Starter (Receipts)")},
                     {213, 43, 161, 21});
    // The serial number keeps its selection visible when the focus moves on.
    txtSN = LabelledEdit(inner, "txtSN", "Program Serial Number", {16, 43, 121, 21},
                         new PersistentSelectionEdit(inner));
    // The four-digit limit is a typing limit (a validator and the key filter):
    // a longer number loaded from the server is shown and sent back whole.
    txtSN->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,4}")), txtSN));
    txtPK = LabelledEdit(inner, "txtPK", "Product Key", {16, 99, 121, 21});
    Label4 = Caption(inner, "Label4", "Begin Date", {16, 152});
    ceBD = DateEdit(inner, "ceBD", {16, 168, 120, 21});
    Label5 = Caption(inner, "Label5", "Paid Date", {16, 208});
    cePD = DateEdit(inner, "cePD", {16, 224, 120, 21});
    Label7 = Caption(inner, "Label7", "Due Date", {216, 152});
    ceDD = DateEdit(inner, "ceDD", {216, 168, 120, 21});
    Label8 = Caption(inner, "Label8", "Anniversary Date", {216, 208});
    ceANI = DateEdit(inner, "ceANI", {216, 224, 120, 21});
    cbACT = Named(new QCheckBox(QStringLiteral("Customer Is Active"), inner), "cbACT");
    cbACT->setGeometry(16, 272, 241, 17);
    cbACT->setFont(Tahoma(17, true));
    cbACT->setChecked(false);

    ButtonGradient2 =
        Named(new QCommandLinkButton(QStringLiteral("Cancel"), Panel1), "ButtonGradient2");
    ButtonGradient2->setGeometry(384, 552, 175, 41);
    ButtonGradient1 =
        Named(new QCommandLinkButton(QStringLiteral("Save Customer"), Panel1), "ButtonGradient1");
    ButtonGradient1->setGeometry(581, 552, 175, 41);
    // Enter presses neither: only Esc has a button (Cancel).
    for (QCommandLinkButton* b : {ButtonGradient1, ButtonGradient2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    QWidget* order[] = {txtLN, txtFN, txtBN, txtAD, txtCY,           txtST,          txtZP, txtP1,
                        txtP2, txtEM, cboHO, cboDV, cboPM,           txtSN,          txtPK, ceBD,
                        cePD,  ceDD,  ceANI, cbACT, ButtonGradient1, ButtonGradient2};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(ButtonGradient1, &QCommandLinkButton::clicked, this,
            [this] { Guarded(this, [this] { BitBtn2Click(); }); });
    connect(ButtonGradient2, &QCommandLinkButton::clicked, this,
            [this] { Guarded(this, [this] { BitBtn1Click(); }); });

    for (QLineEdit* e : {txtLN, txtFN, txtBN, txtAD, txtCY, txtST, txtZP, txtP1, txtP2, txtEM,
                         txtSN, txtPK, ceBD, ceDD, cePD, ceANI})
        e->installEventFilter(this);
}

void TForm2::reject()
{
    BitBtn1Click();
}

QString TForm2::DateFieldText(const QLineEdit* field)
{
    QString text = field->displayText();
    if (text.isEmpty())
        text = QStringLiteral("__/__/____");
    return text.replace(u'_', u' ');
}
