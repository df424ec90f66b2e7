#include "tform1.h"

#include "customer_list_model.h"
#include "error_handler.h"
#include "fonts.h"
#include "progress_figure.h"
#include "request_waits.h"
#include "system_colors.h"
#include "tform2.h"
#include "tform4.h"
#include "tform5.h"
#include "tillora/settings.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCommandLinkButton>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

namespace {

// How long the first loads wait for the window's first painting.
constexpr int FirstLoadsWithoutPaintMs = 500;

} // namespace

ServerSettings ServerSettings::BuiltIn()
{
    return {tillora::settings::ServerBaseAddress, tillora::settings::HttpUser,
            tillora::settings::HttpPassword, tillora::settings::CallServerBaseAddress};
}

TForm1::TForm1(ServerSettings server, QWidget* parent)
    : QWidget(parent), IdHTTP1(server.userName, server.password), m_server(std::move(server))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tillora Customer Management"));
    setFont(Tahoma(13));
    QPalette p = palette();
    p.setColor(QPalette::Window, SystemColors::BtnFace(p));
    setPalette(p);
    setAutoFillBackground(true);

    BuildCommandBar();
    BuildTabStrips();
    BuildList();
    BuildDetailArea();
    resize(1128, 722);

    // Names for screen readers only; on screen the tabs and entries speak
    // for themselves.
    TabControl2->setAccessibleName(QStringLiteral("Customer lists"));
    TabControl3->setAccessibleName(QStringLiteral("Last name initial"));
    ListView1->setAccessibleName(QStringLiteral("Customers"));
    TabControl1->setAccessibleName(QStringLiteral("Call history"));

    setTabOrder(Edit1, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setTabOrder(BitBtn2, TabControl1);
    setTabOrder(TabControl1, ButtonGradient1);
    setTabOrder(ButtonGradient1, TabControl2);
    setTabOrder(TabControl2, TabControl3);
    setTabOrder(TabControl3, ListView1);

    ConnectHandlers();
    InstallIdleHandler();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::ConnectHandlers()
{
    IdHTTP1.OnWorkBegin = [this](TransferDirection d, std::int64_t n) { IdHTTP1WorkBegin(d, n); };
    IdHTTP1.OnWork = [this](TransferDirection d, std::int64_t n) { IdHTTP1Work(d, n); };
    IdHTTP1.OnWorkEnd = [this](TransferDirection d) { IdHTTP1WorkEnd(d); };

    // The Close buttons act at once, even while a request waits.
    connect(BitBtn1, &QPushButton::clicked, this, [this] { GuardedNow([this] { BitBtn1Click(); }); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { GuardedNow([this] { BitBtn2Click(); }); });
    connect(TabControl2, &QTabBar::currentChanged, this,
            [this] { Guarded(this, [this] { TabControl2Change(); }); });
    connect(TabControl3, &QTabBar::currentChanged, this,
            [this] { Guarded(this, [this] { TabControl3Change(); }); });
    connect(SpeedButton3, &QToolButton::clicked, this,
            [this] { Guarded(this, [this] { SpeedButton3Click(); }); });
    connect(
        ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        [this](const QItemSelection& selected, const QItemSelection& deselected) {
            // The position is taken now: a deferred body runs after the list
            // may have changed.
            const bool isSelected = !selected.indexes().isEmpty();
            const QModelIndexList indexes =
                isSelected ? selected.indexes() : deselected.indexes();
            if (indexes.isEmpty())
                return;
            const int position = ListModel->positionOf(indexes.first());
            Guarded(this, [this, position, isSelected] {
                ListView1SelectItem(position, isSelected);
            });
        });
    connect(TabControl1, &QTabBar::currentChanged, this,
            [this] { Guarded(this, [this] { TabControl1Change(); }); });
    connect(SpeedButton1, &QToolButton::clicked, this,
            [this] { Guarded(this, [this] { SpeedButton1Click(); }); });
    connect(SpeedButton2, &QToolButton::clicked, this,
            [this] { Guarded(this, [this] { SpeedButton2Click(); }); });
    connect(ListView1, &QTreeView::doubleClicked, this,
            [this] { Guarded(this, [this] { SpeedButton2Click(); }); });
    connect(SpeedButton9, &QToolButton::clicked, this,
            [this] { Guarded(this, [this] { SpeedButton9Click(); }); });
    connect(ButtonGradient1, &QCommandLinkButton::clicked, this,
            [this] { Guarded(this, [this] { ButtonColor1Click(); }); });
    connect(SpeedButton5, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { ClientsRequiringInvoiceThisQuarter1Click(); }); });
    connect(SpeedButton7, &QPushButton::clicked, this,
            [this] { Guarded(this, [this] { SpeedButton7Click(); }); });
    Edit1->installEventFilter(this);
    ListView1->installEventFilter(this);
}

void TForm1::FormCreate()
{
    StripStamps.clear();
    StripTags.clear();
    StripTexts.clear();
    ListMode = u'A';
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // The loads run once the window is on screen and painted (see
    // paintEvent()): the operator sees the window at once, and its first
    // painting (fonts, styles, the window system's round trips) does not
    // hold up the transfer of the list. A window that is not painted soon,
    // such as one started minimised, loads all the same.
    QTimer::singleShot(FirstLoadsWithoutPaintMs, this, [this] { StartFirstLoads(); });
}

void TForm1::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // Queued: the rest of the window is painted and shown in this same pass.
    if (m_shown && !m_firstLoadsStarted)
        QMetaObject::invokeMethod(this, [this] { StartFirstLoads(); }, Qt::QueuedConnection);
}

void TForm1::StartFirstLoads()
{
    if (m_firstLoadsStarted)
        return;
    m_firstLoadsStarted = true;
    Guarded(this, [this] { FormShow(); });
}

void TForm1::FormShow()
{
    LoadCustomers();
    LoadCalls();
}

void TForm1::InstallIdleHandler()
{
    // One full repaint each time the application runs out of events. Our own
    // repaint must not count as activity, or the program would never rest.
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return;
    connect(dispatcher, &QAbstractEventDispatcher::awake, this, [this] {
        if (!m_inIdle)
            m_idleWanted = true;
    });
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
        if (m_idleWanted && !m_inIdle)
            ApplicationEvents1Idle();
    });
}

void TForm1::ApplicationEvents1Idle()
{
    m_inIdle = true;
    m_idleWanted = false;
    ++m_idleRepaints;
    // Painted at once rather than through the event queue: processing
    // events from here would pull the window system's input into the queue
    // at a point where the loop does not deliver it.
    if (isVisible())
        repaint();
    m_inIdle = false;
}

void TForm1::BitBtn1Click()
{
    close();
}

void TForm1::BitBtn2Click()
{
    close();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // A request still waiting is abandoned, and none starts any more, not
    // even the next one of the handler whose request was waiting.
    IdHTTP1.shutDown();
    if (Form2)
        Form2->IdHTTP1.shutDown();
    if (Form4)
        Form4->IdHTTP1.shutDown();
    QWidget::closeEvent(event);
    QApplication::quit();
}

void TForm1::IdHTTP1WorkBegin(TransferDirection, std::int64_t expected)
{
    const int maximum = int(std::min<std::int64_t>(expected, INT32_MAX));
    Form5->ProgressBar1->setMaximum(maximum);
    Form5->ProgressBar1->setValue(0);
}

void TForm1::IdHTTP1Work(TransferDirection, std::int64_t reached)
{
    const int maximum = Form5->ProgressBar1->maximum();
    Form5->ProgressBar1->setValue(int(std::min<std::int64_t>(reached, maximum)));
    Form5->Label2->setText(ProgressFigure(reached, maximum, QStringLiteral("% Complete")));
    Form5->Label2->adjustSize();
    RequestWaits::ServiceQueue();
}

void TForm1::IdHTTP1WorkEnd(TransferDirection)
{
    Form5->Label2->setText(QStringLiteral("Finished"));
    Form5->Label2->adjustSize();
}

int TForm1::SelectedPosition() const
{
    const QModelIndexList rows = ListView1->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : ListModel->positionOf(rows.first());
}

void TForm1::SelectPosition(int position)
{
    if (position < 0 || position >= ListModel->count()) {
        ListView1->selectionModel()->clearSelection();
        return;
    }
    ListView1->selectionModel()->setCurrentIndex(ListModel->indexOfPosition(position),
                                                 QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
}

std::optional<std::int32_t> TForm1::SelectedRow() const
{
    const int position = SelectedPosition();
    if (position < 0)
        return std::nullopt;
    return ListModel->entries()[std::size_t(position)].row;
}
