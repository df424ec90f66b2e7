#pragma once

#include "call_table.h"
#include "customer_table.h"
#include "http_client.h"

#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <optional>

class CustomerListModel;
class QCommandLinkButton;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTabBar;
class QToolButton;
class QTreeView;
class TForm2;
class TForm3;
class TForm4;
class TForm5;

// Where the main window finds the server; the built-in settings unless a
// test points it elsewhere.
struct ServerSettings
{
    QString baseAddress;
    QString userName;
    QString password;
    QString callBaseAddress; // the call save's address; the base address when empty
    static ServerSettings BuiltIn();
};

// Form1: the main window. Its handlers live in the folder of the subsystem
// they belong to (browser/, editing/, reports/); this class holds the
// controls, the two tables and the list state.
class TForm1 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm1(ServerSettings server = ServerSettings::BuiltIn(), QWidget* parent = nullptr);
    ~TForm1() override;

    // Data of the main window.
    TCustomerTable Customers;
    TCallTable Calls;
    QChar ListMode = u'A';
    bool KeepSelection = false;
    QStringList StripStamps, StripTags, StripTexts;

    HttpClient IdHTTP1;
    // The other windows, set by the window set.
    TForm5* Form5 = nullptr;
    TForm2* Form2 = nullptr;
    TForm4* Form4 = nullptr;

    // Command bar.
    QFrame* Panel1;
    QLabel* Label1;
    QLineEdit* Edit1;
    QToolButton *SpeedButton1, *SpeedButton2, *SpeedButton3, *SpeedButton4;
    QPushButton *BitBtn1, *BitBtn2;
    // Tab strips and list.
    QTabBar* TabControl2;
    QTabBar* TabControl3;
    QStatusBar* StatusBar1;
    QLabel* StatusText;
    QTreeView* ListView1;
    CustomerListModel* ListModel;
    // Detail area.
    QFrame* Panel4;
    QLabel* Label3;
    QLabel *Label2, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9, *Label10, *Label11,
        *Label12;
    QLabel *lblLN, *lblFN, *lblBN, *lblAD, *lblCY, *lblST, *lblZP, *lblP1, *lblP2, *lblEM;
    QGroupBox* GroupBox1;
    QLabel *Label13, *Label14, *Label15, *Label16, *Label17, *Label18, *Label19, *Label20, *Label21,
        *Label22;
    QCommandLinkButton* ButtonGradient1;
    QFrame* Panel5;
    QLabel* Label23;
    QPushButton *SpeedButton5, *SpeedButton6, *SpeedButton7, *SpeedButton8;
    QFrame* Panel6;
    // Call-history area.
    QFrame* Panel2;
    QFrame* Panel3;
    QToolButton* SpeedButton9;
    QTabBar* TabControl1;
    QLabel* Image1;
    QLabel* Label26;
    QLabel* Label27;

    // Start-up and shutdown.
    void FormCreate();
    void FormShow();
    void ApplicationEvents1Idle();
    void BitBtn1Click();
    void BitBtn2Click();

    // Transfer events of IdHTTP1.
    void IdHTTP1WorkBegin(TransferDirection direction, std::int64_t expected);
    void IdHTTP1Work(TransferDirection direction, std::int64_t reached);
    void IdHTTP1WorkEnd(TransferDirection direction);

    // Customer list views.
    void LoadCustomers();
    void CDList();
    void TabControl2Change();
    void TabControl3Change();
    void SpeedButton3Click();
    void LoadCalls();

    // Detail panel, call strip, grouped view, quick find.
    void ListView1SelectItem(int position, bool selected);
    void CallList();
    void TabControl1Change();
    void SpeedButton8Click();
    void Edit1Enter();
    void Edit1Exit();
    // Character keys; true when the handler consumed the key.
    bool Edit1KeyPress(QChar key);
    bool ListView1KeyPress(QChar key);

    // Record editing.
    void SpeedButton1Click(); // "Add New"
    void SpeedButton2Click(); // "Edit Customer", and a double-click on the list
    void SpeedButton9Click(); // "Add Call"
    void ButtonColor1Click(); // "Move To Dormant"

    // Reports.
    void ClientsRequiringInvoiceThisQuarter1Click(); // "Clients Requiring Invoice"
    void SpeedButton7Click();                        // "Selected Client Data Sheet"
    TForm3* Form3 = nullptr;

    // The list position of the selected entry, or -1.
    int SelectedPosition() const;
    void SelectPosition(int position);
    // The table row carried by the selected entry.
    std::optional<std::int32_t> SelectedRow() const;

    // Full repaints of the idle handler so far (the idle test reads it).
    int idleRepaints() const { return m_idleRepaints; }
    // Whether the loads that follow the window's first showing have begun.
    bool firstLoadsStarted() const { return m_firstLoadsStarted; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildCommandBar();
    void BuildTabStrips();
    void BuildList();
    void BuildDetailArea();
    void BuildCallHistoryArea(QWidget* parent);
    void BuildReportsColumn(QWidget* parent);
    void ConnectHandlers();
    void InstallIdleHandler();
    void LayoutDetailArea();
    void CommonLoad(bool cdFilter, std::uint8_t image);
    void StartFirstLoads();

    ServerSettings m_server;
    bool m_shown = false;
    bool m_firstLoadsStarted = false;
    bool m_idleWanted = false;
    bool m_inIdle = false;
    int m_idleRepaints = 0;
    bool m_loading = false;
};
