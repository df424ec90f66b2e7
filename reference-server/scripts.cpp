#include "scripts.h"

#include "dates.h"
#include "form_fields.h"
#include "latin1.h"
#include "list_format.h"
#include "options.h"
#include "write_guards.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <set>
#include <tuple>
#include <vector>

namespace refserver {

namespace {

class NotFound : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A write refused because of what was stored before it; the text is the
// whole answer.
class Conflict : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

std::int64_t ParseId(const std::string& text, const char* what)
{
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        throw BadRequest(std::string(what) + " must hold digits only.");
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
        throw BadRequest(std::string("The field \"") + name + "\" " + FormDateProblem(value) +
                         ".");
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
        throw BadRequest("The field \"txtACT\" must be 1 or 0.");
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
                                    "(it has a Content-Encoding other than identity)."};
            start = comma + 1;
        }
    }

    const std::vector<std::string> codings = HeaderValues(req, "Transfer-Encoding");
    if (!codings.empty()) {
        std::string all;
        for (const std::string& coding : codings)
            all += (all.empty() ? "" : ", ") + coding;
        if (!SameText(Trimmed(all), "chunked"))
            return Refusal{501, "Error: the transfer coding is not supported; send the body "
                                "with a Content-Length or chunked."};
        framing.chunked = true; // and any Content-Length is ignored, as the library does
    } else {
        const std::vector<std::string> lengths = HeaderValues(req, "Content-Length");
        for (const std::string& value : lengths) {
            std::uint64_t length = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), length);
            if (value.empty() || end != value.data() + value.size() ||
                (error != std::errc() && error != std::errc::result_out_of_range))
                return Refusal{400, "Error: the Content-Length header is not a byte count."};
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
                                "(application/x-www-form-urlencoded), not another type."};
    }
    if (types.empty() && (framing.chunked || framing.length > 0))
        return Refusal{415, "Error: the request body must be a form "
                            "(application/x-www-form-urlencoded); it has no Content-Type."};
    return std::nullopt;
}

// Reads a body that passed CheckBody, counting its bytes as they arrive.
std::optional<Refusal> ReadBody(const httplib::Request& req, const httplib::ContentReader& reader,
                                std::string& body)
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
    if (tooLarge)
        return Refusal{413, TooLargeText()};
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

// The security headers of every answer: nothing in it is run, sniffed or
// shown to another site.
void SetSecurityHeaders(httplib::Response& res)
{
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Content-Security-Policy", "sandbox; default-src 'none'");
    res.set_header("Referrer-Policy", "no-referrer");
}

// The name in a Host header, without its port.
std::string_view HostName(std::string_view host)
{
    if (host.starts_with('['))
        return host.substr(0, host.find(']') == std::string_view::npos ? host.size()
                                                                       : host.find(']') + 1);
    return host.substr(0, host.find(':'));
}

// What the request's sender is: the client the nginx front names, or the
// peer itself. Only characters of an address are kept, for the log's sake.
std::string ClientOf(const httplib::Request& req)
{
    std::string client = req.get_header_value("X-Real-IP");
    if (client.empty())
        client = req.remote_addr;
    if (client.empty() || client.size() > 45 ||
        client.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
        return "?";
    return client;
}

// Per request, for its log line: set when the checks start, read by the logger
// on the same worker thread.
struct RequestNote
{
    std::chrono::steady_clock::time_point start{};
    std::string user = "-";
};
thread_local RequestNote CurrentRequest;

class Scripts : public std::enable_shared_from_this<Scripts>
{
public:
    Scripts(Store& store, const ServerConfig& config) : m_store(store), m_config(config) {}

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
              [this](const httplib::Request& req, const std::string& body) {
                  // The number travels in the query.
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
                  // The body carries nothing but the RequestId; a body that is
                  // no form is not looked at, as before.
                  FormFields form;
                  try {
                      form = FormFields::Parse(body);
                  } catch (const BadRequest&) {
                  }
                  if (form.find("RequestId"))
                      form.requireWellFormed();
                  const auto key = requestKey("/manage/dormantcontact.php", form, &query);
                  return answer(
                      m_store.moveToDormantGuarded(id, key,
                                                   [](std::int64_t moved) {
                                                       return "Customer " + std::to_string(moved) +
                                                              " moved to the dormant list; its "
                                                              "call history was deleted.";
                                                   }),
                      id, key);
              });
        route(server, "/manage/newguy.php",
              [this](const httplib::Request&, const std::string& body) {
                  const FormFields form = WellFormedFields(body);
                  Customer customer = CustomerFromForm(form);
                  form.require("ID"); // sent by the client; a new customer gets a new number
                  const auto key = requestKey("/manage/newguy.php", form);
                  return answer(m_store.addCustomerGuarded(customer, key,
                                                           [](std::int64_t id) {
                                                               return "Customer " +
                                                                      std::to_string(id) +
                                                                      " added.";
                                                           }),
                                0, key);
              });
        route(server, "/manage/modify.php",
              [this](const httplib::Request&, const std::string& body) {
                  const FormFields form = WellFormedFields(body);
                  Customer customer = CustomerFromForm(form);
                  customer.id = ParseId(form.require("ID"), "The field \"ID\"");
                  const std::optional<std::string> digest =
                      m_config.writeGuards ? ReadRowDigest(form) : std::nullopt;
                  const auto key = requestKey("/manage/modify.php", form);
                  const GuardedWrite write = m_store.modifyCustomerGuarded(
                      customer, digest,
                      [latin1 = m_config.latin1](const Customer& stored) {
                          return RowDigest(stored, latin1);
                      },
                      key,
                      [](std::int64_t id) {
                          return "Customer " + std::to_string(id) + " updated.";
                      });
                  if (write.outcome == GuardedWrite::Outcome::Changed)
                      throw Conflict(ChangedRowAnswer(write.current, customer));
                  return answer(write, customer.id, key);
              });
        route(server, "/manage/savecall.php",
              [this](const httplib::Request&, const std::string& body) {
                  const FormFields form = WellFormedFields(body);
                  Call call;
                  call.customerId = ParseId(form.require("ID"), "The field \"ID\"");
                  call.direction = CheckedText(form, "direction");
                  call.handler = CheckedText(form, "Handler");
                  call.text = CheckedText(form, "textarea");
                  if (m_config.callStamp) {
                      std::tie(call.date, call.time) = m_config.callStamp();
                  } else {
                      call.date = TodayText();
                      call.time = NowTimeText();
                  }
                  const auto key = requestKey("/manage/savecall.php", form);
                  return answer(m_store.saveCallGuarded(call, key,
                                                        [&call](std::int64_t) {
                                                            return "Call saved for customer " +
                                                                   std::to_string(call.customerId) +
                                                                   " on " + call.date + " at " +
                                                                   call.time + ".";
                                                        }),
                                call.customerId, key);
              });
    }

    // The RequestId of a write, unless the guards are off.
    std::optional<RequestKey> requestKey(std::string_view script, const FormFields& form,
                                         const FormFields* query = nullptr) const
    {
        if (!m_config.writeGuards)
            return std::nullopt;
        return ReadRequestKey(script, form, query);
    }

    // The answer to a guarded write of the customer `id` that carried `key`.
    static std::string answer(const GuardedWrite& write, std::int64_t id,
                              const std::optional<RequestKey>& key)
    {
        if (write.outcome == GuardedWrite::Outcome::Missing)
            throw NotFound("There is no customer number " + std::to_string(id) + ".");
        // A repeat of the same request gets the first answer again.
        if (write.outcome == GuardedWrite::Outcome::Repeated &&
            (!key || write.fingerprint != key->fingerprint))
            throw Conflict(RepeatedRequestAnswer());
        return write.answer;
    }

    void observe(const httplib::Request& req) const
    {
        if (m_config.observer)
            m_config.observer(req.method, req.target);
    }

    // Every request passes here before a script sees it and before any of
    // its body is read. True when `res` holds the refusal.
    bool refuse(const httplib::Request& req, httplib::Response& res)
    {
        CurrentRequest = {std::chrono::steady_clock::now(), "-"};
        // A browser names the page that sent a request; our clients never
        // do. Such a request could come from any web site the staff open.
        const std::string fetchSite = req.get_header_value("Sec-Fetch-Site");
        if (req.has_header("Origin") ||
            (req.has_header("Sec-Fetch-Site") && fetchSite != "none" && fetchSite != "same-origin")) {
            reply(res, 403, "Error: requests from web pages are refused.");
        } else if (!IsLoopbackHost(HostName(req.get_header_value("Host")))) {
            // A name that only leads here through another DNS answer.
            reply(res, 421, "Error: this server does not answer for that host name.");
        } else if (!m_paths.contains(req.path)) {
            reply(res, 404, "Error: there is no such script on this server.");
        } else if (req.method != "POST") {
            res.set_header("Allow", "POST");
            reply(res, 405, "Error: the scripts answer POST requests only.");
        } else if (m_config.credentials && !signedIn(req, res)) {
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
    // True when the request carries a staff member's credentials; otherwise
    // `res` holds the refusal.
    bool signedIn(const httplib::Request& req, httplib::Response& res)
    {
        const std::string client = ClientOf(req);
        // The front says how the client reached it; a password must not
        // cross another machine's network in the clear.
        if (req.get_header_value("X-Forwarded-Proto") == "http" && !IsLoopbackHost(client)) {
            reply(res, 403, "Error: signing in from another machine needs HTTPS.");
            return false;
        }
        if (!m_signInLimit.allows(client)) {
            res.set_header("Retry-After", "1");
            reply(res, 429,
                  "Error: too many failed sign-ins from this address; try again in a second.");
            return false;
        }
        if (const auto user = m_config.credentials->verify(req.get_header_value("Authorization"))) {
            CurrentRequest.user = *user;
            return true;
        }
        if (req.has_header("Authorization"))
            m_signInLimit.failed(client);
        res.set_header("WWW-Authenticate", "Basic realm=\"Tillora\"");
        reply(res, 401, "Please sign in to the Tillora server.");
        return false;
    }

    template <typename Handler>
    void route(httplib::Server& server, const char* path, Handler handler)
    {
        m_paths.insert(path);
        server.Post(Pattern(path), [this, self = shared_from_this(),
                                    handler](const httplib::Request& req, httplib::Response& res,
                                             const httplib::ContentReader& reader) {
            std::string body;
            if (const auto refusal = ReadBody(req, reader, body)) {
                reply(res, refusal->status, refusal->text);
                return;
            }
            try {
                reply(res, 200, handler(req, body));
            } catch (const BadRequest& e) {
                reply(res, 400, std::string("Error: ") + e.what());
            } catch (const NotFound& e) {
                reply(res, 404, std::string("Error: ") + e.what());
            } catch (const Conflict& e) {
                reply(res, 409, e.what());
            } catch (const std::exception& e) {
                // The detail (SQL, paths) is for the log, not for the client.
                std::fprintf(stderr, "tillora-server: %s failed: %s\n", req.path.c_str(),
                             e.what());
                reply(res, 500, "Error: the server could not complete the request.");
            }
        });
    }

    Store& m_store;
    ServerConfig m_config;
    SignInLimit m_signInLimit{m_config.failedSignInsPerSecond};
    std::set<std::string> m_paths;

public:
    const std::set<std::string>& paths() const { return m_paths; }
};

// One line per request: time, client, script, status, bytes, duration, user.
void LogRequest(const httplib::Request& req, const httplib::Response& res,
                const std::set<std::string>& paths)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char time[32];
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
    // A path that is not a script may hold anything; it is not copied out.
    const std::string script = paths.contains(req.path) ? req.path : "-";
    std::string duration = "-";
    if (CurrentRequest.start != std::chrono::steady_clock::time_point{}) {
        const auto took = std::chrono::steady_clock::now() - CurrentRequest.start;
        char text[32];
        std::snprintf(text, sizeof text, "%.1fms",
                      std::chrono::duration<double, std::milli>(took).count());
        duration = text;
    }
    static std::mutex logMutex;
    std::lock_guard lock(logMutex);
    std::fprintf(stderr, "%s %s %s %s %d %zu %s %s\n", time, ClientOf(req).c_str(),
                 req.method.c_str(), script.c_str(), res.status, res.body.size(), duration.c_str(),
                 CurrentRequest.user.c_str());
    CurrentRequest = {};
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
    server.set_post_routing_handler(
        [](const httplib::Request&, httplib::Response& res) { SetSecurityHeaders(res); });
    if (config.logRequests) {
        server.set_logger([scripts](const httplib::Request& req, const httplib::Response& res) {
            LogRequest(req, res, scripts->paths());
        });
    }
}

ReferenceServer::ReferenceServer(Store& store, ServerConfig config)
    : m_config(std::move(config)), m_server(std::make_unique<httplib::Server>())
{
    InstallScripts(*m_server, store, m_config);
    // Each connection carries one request, as the client and the front send
    // them; an idle or slow peer is dropped after a few seconds.
    m_server->set_keep_alive_max_count(1);
    m_server->set_read_timeout(5, 0);
    m_server->set_write_timeout(5, 0);
    m_server->new_task_queue = [] { return new httplib::ThreadPool(WorkerThreads); };
    // The library's default adds SO_REUSEPORT, which would let a second
    // server share a taken port silently instead of failing to start.
    m_server->set_socket_options([](socket_t socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
}

ReferenceServer::~ReferenceServer()
{
    stop();
}

bool ReferenceServer::bind(const std::string& host, int port)
{
    if (port == 0) {
        m_port = m_server->bind_to_any_port(host);
        return m_port > 0;
    }
    if (!m_server->bind_to_port(host, port))
        return false;
    m_port = port;
    return true;
}

int ReferenceServer::port() const
{
    return m_port;
}

void ReferenceServer::start()
{
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
}

void ReferenceServer::run()
{
    m_server->listen_after_bind();
}

void ReferenceServer::stop()
{
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace refserver
