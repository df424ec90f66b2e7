// Loading the call log into the call table.

#include "tform1.h"

#include "background_sink.h"
#include "endpoints.h"
#include "tform5.h"

#include <QLabel>

void TForm1::LoadCalls()
{
    Form5->ShowTask(QStringLiteral("Loading Customers Call History..."));
    TCallTable::Builder builder;
    BackgroundSink cutting(builder);
    IdHTTP1.Post(Endpoints::Address(m_server.baseAddress, Endpoints::CallList), {}, cutting);
    cutting.finish();
    Calls = builder.take();
    Form5->close();
}
