#include "scripts.h"

#include "dates.h"
#include "form_fields.h"
#include "list_format.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <set>
#include <vector>

namespace refserver {

namespace {

class NotFound : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

std::string Base64(std::string_view bytes)
{
    static constexpr char Alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                           (unsigned char)bytes[i + 2];
        out += Alphabet[v >> 18 & 63];
        out += Alphabet[v >> 12 & 63];
        out += Alphabet[v >> 6 & 63];
        out += Alphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = (unsigned char)bytes[i] << 16;
        if (i + 1 < bytes.size())
            v |= (unsigned char)bytes[i + 1] << 8;
        out += Alphabet[v >> 18 & 63];
        out += Alphabet[v >> 12 & 63];
        out += i + 1 < bytes.size() ? Alphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

// UTF-8 to ISO-8859-1; characters beyond it become "?".
std::string ToLatin1(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += char(c);
            ++i;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            const unsigned cp = (c & 0x1F) << 6 | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F);
            out += cp < 0x100 ? char(cp) : '?';
            i += 2;
        } else {
            out += '?';
            i += (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
        }
    }
    return out;
}

std::int64_t ParseId(const std::string& text, const char* what)
{
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        throw BadRequest(std::string(what) + " \"" + text + "\" is not a customer number.");
    return std::stoll(text);
}

// A stored value must fit the list format and be text.
const std::string& CheckedText(const FormFields& form, const char* name)
{
    const std::string& value = form.require(name);
    if (ContainsTerminator(value))
        throw BadRequest(std::string("The field \"") + name +
                         "\" contains \xC2\xA9 or \xC2\xAE, which the customer list cannot carry.");
    return value;
}

std::optional<std::string> CheckedDate(const FormFields& form, const char* name)
{
    const std::string& value = form.require(name);
    const auto date = ParseFormDate(value);
    if (!date)
        throw BadRequest(std::string("The field \"") + name + "\" holds \"" + value + "\", " +
                         FormDateProblem(value) + ".");
    return *date;
}

Customer CustomerFromForm(const FormFields& form)
{
    Customer c;
    const struct
    {
        const char* name;
        std::string Customer::*field;
    } texts[] = {{"txtLN", &Customer::ln}, {"txtFN", &Customer::fn}, {"txtBN", &Customer::bn},
                 {"txtAD", &Customer::ad}, {"txtCY", &Customer::cy}, {"txtST", &Customer::st},
                 {"txtZP", &Customer::zp}, {"txtP1", &Customer::p1}, {"txtP2", &Customer::p2},
                 {"txtEM", &Customer::em}, {"txtHO", &Customer::ho}, {"txtDV", &Customer::dv},
                 {"txtPM", &Customer::pm}, {"txtSN", &Customer::sn}, {"txtPK", &Customer::pk}};
    for (const auto& t : texts)
        c.*(t.field) = CheckedText(form, t.name);
    c.bd = CheckedDate(form, "txtBD");
    c.dd = CheckedDate(form, "txtDD");
    c.pd = CheckedDate(form, "txtPD");
    c.ani = CheckedDate(form, "txtANI");
    const std::string& act = form.require("txtACT");
    if (act != "1" && act != "0")
        throw BadRequest("The field \"txtACT\" must be 1 or 0, not \"" + act + "\".");
    c.act = act == "1" ? 1 : 0;
    return c;
}

struct Refusal
{
    int status;
    std::string text;
};

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower((unsigned char)x) == std::tolower((unsigned char)y);
           });
}

std::string_view Trimmed(std::string_view text)
{
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

std::vector<std::string> HeaderValues(const httplib::Request& req, const char* name)
{
    std::vector<std::string> values;
    const auto [begin, end] = req.headers.equal_range(name);
    for (auto it = begin; it != end; ++it)
        values.push_back(it->second);
    return values;
}

std::string TooLargeText()
{
    return "Error: the request body is larger than the limit of " +
           std::to_string(MaxBodyBytes >> 20) + " MiB (" + std::to_string(MaxBodyBytes) +
           " bytes).";
}

// How the body arrives, as its headers announce it.
struct BodyFraming
{
    bool chunked = false;
    std::uint64_t length = 0;
};

// Checks the body's headers before a byte of it is read: only a plain form
// of at most MaxBodyBytes is read at all.
std::optional<Refusal> CheckBody(const httplib::Request& req, BodyFraming& framing)
{
    // The library would inflate these without any limit.
    for (const std::string& value : HeaderValues(req, "Content-Encoding")) {
        for (std::size_t start = 0; start <= value.size();) {
            const std::size_t comma = std::min(value.find(',', start), value.size());
            const std::string_view coding =
                Trimmed(std::string_view(value).substr(start, comma - start));
            if (!coding.empty() && !SameText(coding, "identity"))
                return Refusal{415, "Error: the request body must not be compressed "
                                    "(Content-Encoding \"" +
                                        std::string(coding) + "\")."};
            start = comma + 1;
        }
    }

    const std::vector<std::string> codings = HeaderValues(req, "Transfer-Encoding");
    if (!codings.empty()) {
        std::string all;
        for (const std::string& coding : codings)
            all += (all.empty() ? "" : ", ") + coding;
        if (!SameText(Trimmed(all), "chunked"))
            return Refusal{501, "Error: the transfer coding \"" + all +
                                    "\" is not supported; send the body with a Content-Length "
                                    "or chunked."};
        framing.chunked = true; // and any Content-Length is ignored, as the library does
    } else {
        const std::vector<std::string> lengths = HeaderValues(req, "Content-Length");
        for (const std::string& value : lengths) {
            std::uint64_t length = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), length);
            if (value.empty() || end != value.data() + value.size() ||
                (error != std::errc() && error != std::errc::result_out_of_range))
                return Refusal{400, "Error: the Content-Length header \"" + value +
                                        "\" is not a byte count."};
            if (error == std::errc::result_out_of_range)
                length = UINT64_MAX;
            if (&value != &lengths.front() && length != framing.length)
                return Refusal{400, "Error: the request has conflicting Content-Length headers."};
            framing.length = length;
        }
        if (framing.length > MaxBodyBytes)
            return Refusal{413, TooLargeText()};
    }

    const std::vector<std::string> types = HeaderValues(req, "Content-Type");
    for (const std::string& type : types) {
        if (!SameText(Trimmed(std::string_view(type).substr(0, type.find(';'))),
                      "application/x-www-form-urlencoded"))
            return Refusal{415, "Error: the request body must be a form "
                                "(application/x-www-form-urlencoded), not \"" +
                                    type + "\"."};
    }
    if (types.empty() && (framing.chunked || framing.length > 0))
        return Refusal{415, "Error: the request body must be a form "
                            "(application/x-www-form-urlencoded); it has no Content-Type."};
    return std::nullopt;
}

// Reads a body that passed CheckBody, counting its bytes as they arrive.
std::optional<Refusal> ReadBody(const httplib::Request& req, const httplib::ContentReader& reader,
                                const ServerConfig& config, std::string& body)
{
    BodyFraming framing;
    if (const auto refusal = CheckBody(req, framing))
        return refusal;
    // Without a length or chunks there is no body; the library would read
    // until the client closes.
    if (!framing.chunked && framing.length == 0)
        return std::nullopt;
    bool tooLarge = false;
    const bool read = reader([&](const char* data, std::size_t size) {
        if (size > MaxBodyBytes - body.size()) {
            tooLarge = true;
            return false;
        }
        body.append(data, size);
        return true;
    });
    if (read)
        return std::nullopt;
    const Connection* connection = Connection::Current();
    if (tooLarge || (connection && connection->overran()))
        return Refusal{413, TooLargeText()};
    if (connection && connection->timedOut())
        return Refusal{408, "Error: the request body did not arrive within " +
                                DurationText(config.limits.bodyTime) + "."};
    return Refusal{400, "Error: the request body ended early or its chunks are malformed."};
}

FormFields WellFormedFields(std::string_view text)
{
    FormFields form = FormFields::Parse(text);
    form.requireWellFormed();
    return form;
}

// The library matches routes as regular expressions.
std::string Pattern(std::string_view path)
{
    std::string pattern;
    for (const char c : path) {
        if (c == '.')
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

std::string StatusAndHeaders(int status, const std::string& contentType, std::size_t length)
{
    const char* reason = status == 408   ? "Request Timeout"
                         : status == 431 ? "Request Header Fields Too Large"
                         : status == 503 ? "Service Unavailable"
                                         : "Error";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: " + contentType + "\r\nContent-Length: " + std::to_string(length) +
           "\r\nConnection: close\r\n\r\n";
}

class Scripts : public std::enable_shared_from_this<Scripts>
{
public:
    Scripts(Store& store, const ServerConfig& config) : m_store(store), m_config(config)
    {
        if (config.user && config.password)
            m_expectedAuthorization = "Basic " + Base64(*config.user + ":" + *config.password);
    }

    void install(httplib::Server& server)
    {
        route(server, "/manage/datapile.php", [this](const httplib::Request&, const std::string&) {
            return CustomerListText(m_store.activeCustomers());
        });
        route(server, "/manage/dormantpile.php",
              [this](const httplib::Request&, const std::string&) {
                  return CustomerListText(m_store.dormantCustomers());
              });
        route(server, "/quickstats.php", [this](const httplib::Request&, const std::string&) {
            const Statistics s = m_store.statistics();
            return std::to_string(s.current) + " current, " + std::to_string(s.expired) +
                   " expired, " + std::to_string(s.dormant) + " dormant customers; " +
                   std::to_string(s.calls) + " calls logged";
        });
        route(server, "/manage/callpile.php", [this](const httplib::Request&, const std::string&) {
            return CallListText(m_store.calls());
        });
        route(server, "/statecount.php", [this](const httplib::Request&, const std::string&) {
            std::string codes;
            for (const std::string& code : m_store.stateCodes())
                codes += code;
            return codes;
        });
        route(server, "/manage/dormantcontact.php",
              [this](const httplib::Request& req, const std::string&) {
                  // The number travels in the query; a body is not looked at.
                  const std::size_t mark = req.target.find('?');
                  FormFields query;
                  try {
                      query =
                          FormFields::Parse(mark == std::string::npos
                                                ? std::string_view()
                                                : std::string_view(req.target).substr(mark + 1));
                  } catch (const BadRequest&) {
                      throw BadRequest("The query of the address is not form text: it holds a "
                                       "malformed %-escape or is not UTF-8.");
                  }
                  query.requireWellFormed();
                  const std::optional<std::string> number = query.find("ID");
                  if (!number)
                      throw BadRequest("The customer number (?ID=) is missing.");
                  const std::int64_t id = ParseId(*number, "The customer number");
                  if (!m_store.moveToDormant(id))
                      throw NotFound("There is no customer number " + std::to_string(id) + ".");
                  return "Customer " + std::to_string(id) +
                         " moved to the dormant list; its call history was deleted.";
              });
        route(server, "/manage/newguy.php",
              [this](const httplib::Request&, const std::string& body) {
                  const FormFields form = WellFormedFields(body);
                  Customer customer = CustomerFromForm(form);
                  form.require("ID"); // sent by the client; a new customer gets a new number
                  const std::int64_t id = m_store.addCustomer(customer);
                  return "Customer " + std::to_string(id) + " added.";
              });
        route(server, "/manage/modify.php",
              [this](const httplib::Request&, const std::string& body) {
                  const FormFields form = WellFormedFields(body);
                  Customer customer = CustomerFromForm(form);
                  customer.id = ParseId(form.require("ID"), "The field \"ID\"");
                  if (!m_store.modifyCustomer(customer))
                      throw NotFound("There is no customer number " + std::to_string(customer.id) +
                                     ".");
                  return "Customer " + std::to_string(customer.id) + " updated.";
              });
        route(server, "/manage/savecall.php",
              [this](const httplib::Request&, const std::string& body) {
                  const FormFields form = WellFormedFields(body);
                  Call call;
                  call.customerId = ParseId(form.require("ID"), "The field \"ID\"");
                  call.direction = CheckedText(form, "direction");
                  call.handler = CheckedText(form, "Handler");
                  call.text = CheckedText(form, "textarea");
                  call.date = TodayText();
                  call.time = NowTimeText();
                  if (!m_store.saveCall(call))
                      throw NotFound("There is no customer number " +
                                     std::to_string(call.customerId) + ".");
                  return "Call saved for customer " + std::to_string(call.customerId) + " on " +
                         call.date + " at " + call.time + ".";
              });
    }

    void observe(const httplib::Request& req) const
    {
        if (m_config.observer)
            m_config.observer(req.method, req.target);
    }

    // Every request passes here before a script sees it and before any of
    // its body is read. True when `res` holds the refusal.
    bool refuse(const httplib::Request& req, httplib::Response& res) const
    {
        if (!m_paths.contains(req.path)) {
            reply(res, 404, "Error: there is no such script on this server.");
        } else if (req.method != "POST") {
            res.set_header("Allow", "POST");
            reply(res, 405,
                  "Error: the script " + req.path + " answers POST requests only, not " +
                      req.method + ".");
        } else if (!m_expectedAuthorization.empty() &&
                   req.get_header_value("Authorization") != m_expectedAuthorization) {
            res.set_header("WWW-Authenticate", "Basic realm=\"Tillora\"");
            reply(res, 401, "Please sign in to the Tillora server.");
        } else if (BodyFraming framing; const auto refusal = CheckBody(req, framing)) {
            reply(res, refusal->status, refusal->text);
        } else {
            return false;
        }
        return true;
    }

    void reply(httplib::Response& res, int status, const std::string& text) const
    {
        res.status = status;
        if (m_config.latin1)
            res.set_content(ToLatin1(text), "text/html");
        else
            res.set_content(text, "text/html; charset=UTF-8");
    }

private:
    template <typename Handler>
    void route(httplib::Server& server, const char* path, Handler handler)
    {
        m_paths.insert(path);
        server.Post(Pattern(path), [this, self = shared_from_this(),
                                    handler](const httplib::Request& req, httplib::Response& res,
                                             const httplib::ContentReader& reader) {
            std::string body;
            if (const auto refusal = ReadBody(req, reader, m_config, body)) {
                reply(res, refusal->status, refusal->text);
                return;
            }
            try {
                reply(res, 200, handler(req, body));
            } catch (const BadRequest& e) {
                reply(res, 400, std::string("Error: ") + e.what());
            } catch (const NotFound& e) {
                reply(res, 404, std::string("Error: ") + e.what());
            } catch (const std::exception& e) {
                reply(res, 500,
                      std::string("Error: the server could not complete the "
                                  "request: ") +
                          e.what());
            }
        });
    }

    Store& m_store;
    ServerConfig m_config;
    std::string m_expectedAuthorization;
    std::set<std::string> m_paths;
};

void LogLine(const std::string& peer, const std::string& method, const std::string& target,
             int status, std::size_t bytes)
{
    static std::mutex logMutex;
    std::lock_guard lock(logMutex);
    std::fprintf(stderr, "%s %s %s %d %zu bytes\n", peer.c_str(), method.c_str(), target.c_str(),
                 status, bytes);
}

} // namespace

void InstallScripts(httplib::Server& server, Store& store, const ServerConfig& config)
{
    auto scripts = std::make_shared<Scripts>(store, config);
    scripts->install(server);
    server.set_payload_max_length(MaxBodyBytes);
    server.set_pre_routing_handler([scripts](const httplib::Request& req, httplib::Response& res) {
        scripts->observe(req);
        return scripts->refuse(req, res) ? httplib::Server::HandlerResponse::Handled
                                         : httplib::Server::HandlerResponse::Unhandled;
    });
    // A client that waits for "100 Continue" is refused before it sends the
    // body instead.
    server.set_expect_100_continue_handler(
        [scripts](const httplib::Request& req, httplib::Response& res) {
            if (!scripts->refuse(req, res))
                return 100;
            scripts->observe(req);
            return res.status;
        });
    // What the library itself refuses: a malformed request line or headers.
    server.set_error_handler([scripts](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return;
        if (res.status == 413)
            scripts->reply(res, 413, TooLargeText());
        else if (res.status == 404)
            scripts->reply(res, 404, "Error: there is no such script on this server.");
        else if (res.status == 400)
            scripts->reply(res, 400, "Error: the request line or a header is malformed.");
        else if (res.status == 414)
            scripts->reply(res, 414, "Error: the request line is longer than 8192 bytes.");
        else
            scripts->reply(res, res.status, "Error: the request could not be handled.");
    });
    if (config.logRequests) {
        server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
            LogLine(req.remote_addr, req.method, req.target, res.status, res.body.size());
        });
    }
}

// One request per connection: the client opens a new connection for each
// request anyway, and a connection kept open would hold a worker while idle.
class ReferenceServer::ScriptServer : public httplib::Server
{
public:
    void serve(httplib::Stream& stream)
    {
        bool closed = false;
        process_request(stream, true, closed, nullptr);
    }
};

ReferenceServer::ReferenceServer(Store& store, ServerConfig config)
    : m_config(std::move(config)), m_server(std::make_unique<ScriptServer>())
{
    InstallScripts(*m_server, store, m_config);
    m_listener = std::make_unique<Listener>(
        m_config.limits, [server = m_server.get()](Connection& c) { server->serve(c); },
        [config = m_config](const std::string& peer, int status, const std::string& text) {
            const std::string body = config.latin1 ? ToLatin1(text) : text;
            if (config.logRequests)
                LogLine(peer, "-", "-", status, body.size());
            return StatusAndHeaders(status,
                                    config.latin1 ? "text/html" : "text/html; charset=UTF-8",
                                    body.size()) +
                   body;
        },
        m_config.tls);
}

ReferenceServer::~ReferenceServer()
{
    stop();
}

bool ReferenceServer::bind(const std::string& host, int port)
{
    return m_listener->bind(host, port);
}

int ReferenceServer::port() const
{
    return m_listener->port();
}

void ReferenceServer::start()
{
    m_thread = std::thread([this] { m_listener->run(); });
}

void ReferenceServer::run()
{
    m_listener->run();
}

void ReferenceServer::stop()
{
    m_listener->stop();
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace refserver
