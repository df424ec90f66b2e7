#include "gui_fixture.h"

#include "customer_list_model.h"

#include <QDialog>
#include <QTest>
#include <QTimer>
#include <QTreeView>

GuiFixture::GuiFixture(const std::vector<refserver::Customer>& customers,
                       const std::vector<refserver::Call>& calls)
{
    startServer({}, customers, calls);
}

GuiFixture::GuiFixture(RequireAuthentication, const std::vector<refserver::Customer>& customers,
                       const std::vector<refserver::Call>& calls)
    : m_authenticated(true)
{
    refserver::ServerConfig config;
    config.credentials = std::make_shared<const refserver::Credentials>(
        std::get<refserver::Credentials>(refserver::Credentials::Parse(
            std::string(User) + ":" + refserver::HashPassword(Password))));
    startServer(std::move(config), customers, calls);
}

GuiFixture::GuiFixture(refserver::ServerConfig config,
                       const std::vector<refserver::Customer>& customers,
                       const std::vector<refserver::Call>& calls)
{
    startServer(std::move(config), customers, calls);
}

void GuiFixture::startServer(refserver::ServerConfig config,
                             const std::vector<refserver::Customer>& customers,
                             const std::vector<refserver::Call>& calls)
{
    m_store = refserver::OpenStore(
        m_dir.filePath(QStringLiteral("gui.sqlite")).toStdString());
    if (!customers.empty())
        m_store->bulkInsert(customers, calls);
    config.logRequests = false;
    config.observer = [this](const std::string&, const std::string& target) {
        std::lock_guard lock(m_mutex);
        m_requests << QString::fromStdString(target);
    };
    m_server = std::make_unique<refserver::ReferenceServer>(*m_store, config);
    if (!m_server->bind("127.0.0.1", 0))
        throw std::runtime_error("cannot bind the test server");
    m_server->start();

    MessageBoxes::SetHook([this](MessageBoxes::Kind kind, const QString& text) {
        (kind == MessageBoxes::Kind::Error ? errorBoxes : otherBoxes) << text;
        return kind == MessageBoxes::Kind::Confirmation ? nextAnswer : MessageBoxes::Answer::Ok;
    });
}

GuiFixture::~GuiFixture()
{
    windows.reset();
    MessageBoxes::SetHook({});
    m_server.reset();
}

QString GuiFixture::baseAddress() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server->port());
}

QStringList GuiFixture::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void GuiFixture::clearRequests()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

void GuiFixture::start(const QString& address, const QString& callAddressGiven)
{
    // The call save goes to the same server under another host name, as in
    // the built-in settings.
    const QString callAddress = !callAddressGiven.isEmpty() ? callAddressGiven
                                : address.isEmpty()
                                    ? QStringLiteral("http://localhost:%1").arg(m_server->port())
                                    : QString();
    const QString user = m_authenticated ? QString::fromLatin1(User) : QString();
    const QString password = m_authenticated ? QString::fromLatin1(Password) : QString();
    windows = std::make_unique<WindowSet>(ServerSettings{
        address.isEmpty() ? baseAddress() : address, user, password, callAddress});
    windows->Form1->show();
    waitUntilIdle();
}

bool GuiFixture::waitUntilIdle(int milliseconds)
{
    // The start-up loads begin once the shown window is painted; they are
    // over when the client is no longer busy and the progress window is gone.
    QTest::qWait(50);
    return QTest::qWaitFor(
        [this] {
            return (!form().isVisible() || form().firstLoadsStarted()) &&
                   !form().IdHTTP1.busy() && !progress().isVisible();
        },
        milliseconds);
}

refserver::Customer MakeCustomer(const std::string& last, const std::string& first,
                                 const std::string& delivery, int act)
{
    refserver::Customer c;
    c.ln = last;
    c.fn = first;
    c.bn = last + " Farms";
    c.ad = "1 Main St";
    c.cy = "Dover";
    c.st = "DE";
    c.zp = "19901";
    c.p1 = "3025550100";
    c.em = "x@example.com";
    c.ho = "Web Search";
    c.dv = delivery;
    c.sn = "1234";
    c.pk = "TLR-0000-0000";
    c.pm = "Unlimited";
    c.bd = "2020-01-15";
    c.dd = "2027-01-15";
    c.ani = "2026-01-15";
    c.pd = "2026-01-10";
    c.act = act;
    return c;
}

void ClickListEntry(TForm1& form, int position)
{
    QTreeView* list = form.ListView1;
    const QModelIndex entry = form.ListModel->indexOfPosition(position);
    list->scrollTo(entry);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(entry).center());
}

bool WhileShown(QDialog& dialog, const std::function<void()>& open,
                const std::function<void()>& act)
{
    bool shown = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        if (!dialog.isVisible())
            return;
        poll.stop();
        shown = true;
        // Tests that need the focus check the activation themselves.
        dialog.activateWindow();
        static_cast<void>(QTest::qWaitForWindowActive(&dialog));
        if (act)
            act();
        if (dialog.isVisible())
            dialog.done(0);
    });
    poll.start();
    open();
    poll.stop();
    if (dialog.isVisible())
        dialog.done(0);
    return shown;
}
