#pragma once

// A real reference server on a free port with a temporary database, and the
// application's real windows pointed at it. Message boxes are recorded
// instead of shown.

#include "message_boxes.h"
#include "scripts.h"
#include "store.h"
#include "window_set.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QDialog;

class GuiFixture
{
public:
    explicit GuiFixture(const std::vector<refserver::Customer>& customers = {},
                        const std::vector<refserver::Call>& calls = {});

    // A server whose scripts all ask for these credentials; start() then
    // builds the windows with them.
    static constexpr const char* User = "staff";
    static constexpr const char* Password = "s3cret";
    struct RequireAuthentication
    {
    };
    GuiFixture(RequireAuthentication, const std::vector<refserver::Customer>& customers,
               const std::vector<refserver::Call>& calls = {});
    // A server with these settings (its charset, its write guards).
    GuiFixture(refserver::ServerConfig config, const std::vector<refserver::Customer>& customers,
               const std::vector<refserver::Call>& calls = {});
    ~GuiFixture();

    QString baseAddress() const;
    int port() const { return m_server->port(); }
    // The underlying database, to check what the server really stored.
    refserver::Store& store() { return *m_store; }

    // The scripts requested so far, in order ("/quickstats.php", ...).
    QStringList requests() const;
    void clearRequests();

    // Creates the windows for `baseAddress` (the call save for
    // `callAddress`, else the same server) and shows the main window; waits
    // until the start-up loads are over.
    void start(const QString& baseAddress = {}, const QString& callAddress = {});
    bool waitUntilIdle(int milliseconds = 10000);

    TForm1& form() { return *windows->Form1; }
    TForm5& progress() { return *windows->Form5; }

    std::unique_ptr<WindowSet> windows;
    QStringList errorBoxes;
    QStringList otherBoxes;
    MessageBoxes::Answer nextAnswer = MessageBoxes::Answer::Yes;

private:
    void startServer(refserver::ServerConfig config,
                     const std::vector<refserver::Customer>& customers,
                     const std::vector<refserver::Call>& calls);

    bool m_authenticated = false;
    QTemporaryDir m_dir;
    std::unique_ptr<refserver::Store> m_store;
    std::unique_ptr<refserver::ReferenceServer> m_server;
    mutable std::mutex m_mutex;
    QStringList m_requests;
};

// A customer of the demo's shape with the given names and delivery method.
refserver::Customer MakeCustomer(const std::string& last, const std::string& first,
                                 const std::string& delivery = "Internet Download", int act = 1);

// Selects the list entry at `position` as the operator does: a click on it.
void ClickListEntry(TForm1& form, int position);

// Runs `open`, which shows `dialog` modally, and `act` once the dialog is up.
// A dialog still open afterwards is ended so that no test can hang on it.
bool WhileShown(QDialog& dialog, const std::function<void()>& open,
                const std::function<void()>& act = {});
