#include "write_guards.h"

#include "latin1.h"
#include "list_format.h"

#include <openssl/evp.h>

#include <chrono>
#include <stdexcept>

namespace refserver {

namespace {

bool IsLowerHex(std::string_view text, std::size_t length)
{
    return text.size() == length &&
           text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// Length-prefixed, so that no two different field lists give the same bytes.
void AppendPiece(std::string& out, std::string_view piece)
{
    out += std::to_string(piece.size());
    out += ':';
    out += piece;
}

} // namespace

std::int64_t SecondsNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Sha256Hex(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr))
        throw std::runtime_error("SHA-256 failed");
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (unsigned int i = 0; i < size; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::optional<std::string> ReadRowDigest(const FormFields& form)
{
    std::optional<std::string> digest = form.find("RowDigest");
    if (digest && !IsLowerHex(*digest, RowDigestLength))
        throw BadRequest("The field \"RowDigest\" must be 64 lowercase hexadecimal characters "
                         "(a SHA-256).");
    return digest;
}

std::optional<RequestKey> ReadRequestKey(std::string_view script, const FormFields& form,
                                         const FormFields* query)
{
    const std::optional<std::string> id = form.find("RequestId");
    if (!id)
        return std::nullopt;
    if (!IsLowerHex(*id, RequestIdLength))
        throw BadRequest("The field \"RequestId\" must be 32 lowercase hexadecimal characters.");
    std::string request;
    AppendPiece(request, script);
    for (const FormFields* fields : {&form, query}) {
        request += fields == query ? "?" : "&";
        if (!fields)
            continue;
        for (const auto& [name, value] : fields->fields()) {
            if (fields == &form && name == "RequestId")
                continue;
            AppendPiece(request, name);
            AppendPiece(request, value);
        }
    }
    return RequestKey{*id, Sha256Hex(request)};
}

std::string RowDigest(const Customer& customer, bool latin1)
{
    const std::string record = CustomerRecordText(customer);
    return Sha256Hex(latin1 ? FromLatin1(ToLatin1(record)) : record);
}

std::vector<std::string> DifferingCaptions(const Customer& stored, const Customer& sent)
{
    std::vector<std::string> out;
    const struct
    {
        std::string Customer::*field;
        const char* caption;
    } texts[] = {{&Customer::ln, "Last Name"},
                 {&Customer::fn, "First Name"},
                 {&Customer::bn, "Business Name"},
                 {&Customer::ad, "Address"},
                 {&Customer::cy, "City"},
                 {&Customer::st, "State"},
                 {&Customer::zp, "Zip Code"},
                 {&Customer::p1, "Phone 1 (Pref)"},
                 {&Customer::p2, "Phone 2"},
                 {&Customer::em, "Email @"},
                 {&Customer::ho, "Heard Of Tillora"},
                 {&Customer::dv, "Update Delivery Method"},
                 {&Customer::pm, "Program Mode"},
                 {&Customer::sn, "Program Serial Number"},
                 {&Customer::pk, "Product Key"}};
    for (const auto& t : texts)
        if (stored.*(t.field) != sent.*(t.field))
            out.emplace_back(t.caption);
    const struct
    {
        std::optional<std::string> Customer::*field;
        const char* caption;
    } dates[] = {{&Customer::bd, "Begin Date"},
                 {&Customer::dd, "Due Date"},
                 {&Customer::pd, "Paid Date"},
                 {&Customer::ani, "Anniversary Date"}};
    for (const auto& d : dates)
        if (stored.*(d.field) != sent.*(d.field))
            out.emplace_back(d.caption);
    // An unticked box leaves a dormant customer dormant.
    const bool sameStatus = stored.act == sent.act || (stored.act == -1 && sent.act == 0);
    if (!sameStatus)
        out.emplace_back("Customer Is Active");
    return out;
}

std::string ChangedRowAnswer(const Customer& stored, const Customer& sent)
{
    std::string text = "Error: this customer was changed after the record being saved was "
                       "loaded; nothing was stored. ";
    const std::vector<std::string> captions = DifferingCaptions(stored, sent);
    if (captions.empty()) {
        text += "The stored record already holds the values of this save.";
    } else {
        text += "The stored record differs from this save in: ";
        for (std::size_t i = 0; i < captions.size(); ++i)
            text += (i ? ", " : "") + captions[i];
        text += '.';
    }
    return text + "\n" + CustomerRecordText(stored) + FieldTerminator + RecordTerminator;
}

std::string RepeatedRequestAnswer()
{
    return "Error: the earlier save of this request (the same RequestId) was stored; these "
           "changes were not stored, because they differ from it.";
}

} // namespace refserver
