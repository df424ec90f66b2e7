#include "list_format.h"

namespace refserver {

namespace {

// Input is checked before it is stored, but a value put into the database by
// other means must still not break the list for every user.
void AppendField(std::string& out, const std::string& value)
{
    if (!ContainsTerminator(value)) {
        out += value;
    } else {
        std::string safe = value;
        for (std::size_t p; (p = safe.find(FieldTerminator)) != std::string::npos;)
            safe.replace(p, 2, "(c)");
        for (std::size_t p; (p = safe.find(RecordTerminator)) != std::string::npos;)
            safe.replace(p, 2, "(R)");
        out += safe;
    }
    out += FieldTerminator;
}

void AppendDate(std::string& out, const std::optional<std::string>& date)
{
    AppendField(out, date.value_or("0000-00-00"));
}

} // namespace

bool ContainsTerminator(const std::string& text)
{
    return text.find(FieldTerminator) != std::string::npos ||
           text.find(RecordTerminator) != std::string::npos;
}

std::string CustomerRecordText(const Customer& c)
{
    std::string out;
    AppendField(out, std::to_string(c.id));
    for (const std::string* t : {&c.ln, &c.fn, &c.bn, &c.ad, &c.cy, &c.st, &c.zp, &c.p1, &c.p2,
                                 &c.em, &c.ho, &c.dv, &c.sn, &c.pk, &c.pm})
        AppendField(out, *t);
    AppendDate(out, c.bd);
    AppendDate(out, c.dd);
    AppendDate(out, c.ani);
    AppendDate(out, c.pd);
    out += std::to_string(c.act);
    return out;
}

std::string CustomerListText(const std::vector<Customer>& customers)
{
    std::string out = std::to_string(customers.size()) + "<br>";
    for (const Customer& c : customers) {
        out += CustomerRecordText(c);
        out += FieldTerminator;
        out += RecordTerminator;
        out += "\n";
    }
    return out;
}

std::string CallListText(const std::vector<Call>& calls)
{
    std::string out = std::to_string(calls.size()) + "<br>";
    for (const Call& c : calls) {
        AppendField(out, std::to_string(c.id));
        AppendField(out, std::to_string(c.customerId));
        AppendField(out, c.direction);
        AppendField(out, c.handler);
        AppendField(out, c.date);
        AppendField(out, c.time);
        AppendField(out, c.text);
        out += RecordTerminator;
        out += "\n";
    }
    return out;
}

} // namespace refserver
