#include "window_set.h"

#include "error_handler.h"
#include "fonts.h"
#include "accessibility.h"
#include "tillora/settings.h"

#include <QApplication>
#include <QPushButton>

WindowSet::WindowSet(ServerSettings server)
{
    const QString base = server.baseAddress;
    const QString callBase = server.callBaseAddress.isEmpty() ? base : server.callBaseAddress;
    const QString user = server.userName;
    const QString password = server.password;
    Form1 = std::make_unique<TForm1>(std::move(server));
    Form5Holder = std::make_unique<TForm5>();
    Form5 = Form5Holder.get();
    Form1->Form5 = Form5;
    Form2 = std::make_unique<TForm2>(Form1.get(), Form5, base, user, password, Form1.get());
    Form3 = std::make_unique<TForm3>(Form1.get());
    Form4 = std::make_unique<TForm4>(callBase, user, password, tillora::settings::CallHandlers,
                                     Form1.get());
    Form1->Form2 = Form2.get();
    Form1->Form4 = Form4.get();
    Form1->Form3 = Form3.get();
    SetProgressWindowCloser([form5 = Form5] { form5->close(); });
    InputGate = std::make_unique<WaitInputGate>(
        Form1.get(), std::vector<QWidget*>{Form1->BitBtn1, Form1->BitBtn2});
}

WindowSet::~WindowSet()
{
    SetProgressWindowCloser({});
    InputGate.reset();
    Form4.reset();
    Form3.reset();
    Form2.reset();
    Form1.reset();
    Form5Holder.reset();
}

void PrepareApplication()
{
    RegisterTahoma();
    InstallAccessibility();
    QApplication::setApplicationName(QStringLiteral("tillora"));
    QApplication::setFont(Tahoma(13));
}
