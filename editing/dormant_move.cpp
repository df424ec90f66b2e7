// "Move To Dormant": the server moves the customer and deletes its calls.

#include "tform1.h"

#include "endpoints.h"
#include "message_boxes.h"
#include "text_basics.h"
#include "write_requests.h"

void TForm1::ButtonColor1Click()
{
    const std::optional<std::int32_t> row = SelectedRow();
    if (!row)
        return; // no customer to move
    if (MessageBoxes::Show(MessageBoxes::Kind::Confirmation,
                           QStringLiteral("Are you sure you want to make this customer Dormant?"))
        == MessageBoxes::Answer::No)
        return;
    const std::int32_t id = Customers.ID(*row);
    // The move's own RequestId: a server that knows it moves the customer once.
    QString reply;
    try {
        reply = PostWrite(IdHTTP1, Endpoints::DormantMoveAddress(m_server.baseAddress, id),
                          {QStringLiteral("RequestId=") + NewRequestId()});
    } catch (const HttpStatusError& e) {
        if (e.status() == 409)
            throw RefusedWrite(e);
        throw;
    }
    Q_UNUSED(Trim(reply)); // the reply is not interpreted
    LoadCustomers();
    LoadCalls();
}
