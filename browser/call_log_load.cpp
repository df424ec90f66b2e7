// Loading the call log into the call table.

#include "tform1.h"

#include "endpoints.h"
#include "tform5.h"

#include <QLabel>

void TForm1::LoadCalls()
{
    Form5->ShowTask(QStringLiteral("Loading Customers Call History..."));
    const QString response =
        IdHTTP1.Post(Endpoints::Address(m_server.baseAddress, Endpoints::CallList), {});
    TCallTable calls = TCallTable::Parse(response);
    Calls = std::move(calls);
    m_callsByCustomer.rebuild(Calls);
    Form5->close();
}
