#include "scripts.h"

#include "dates.h"
#include "form_fields.h"
#include "list_format.h"

#include <cstdio>
#include <mutex>
#include <sys/socket.h>

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
        throw BadRequest(std::string("The field \"") + name + "\" holds \"" + value +
                         "\", which is not a date of the form month/day/year.");
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
        route(server, "/manage/datapile.php", true, [this](const httplib::Request&) {
            return CustomerListText(m_store.activeCustomers());
        });
        route(server, "/manage/dormantpile.php", true, [this](const httplib::Request&) {
            return CustomerListText(m_store.dormantCustomers());
        });
        route(server, "/quickstats.php", true, [this](const httplib::Request&) {
            const Statistics s = m_store.statistics();
            return std::to_string(s.current) + " current, " + std::to_string(s.expired) +
                   " expired, " + std::to_string(s.dormant) + " dormant customers; " +
                   std::to_string(s.calls) + " calls logged";
        });
        route(server, "/manage/callpile.php", true,
              [this](const httplib::Request&) { return CallListText(m_store.calls()); });
        route(server, "/statecount.php", true, [this](const httplib::Request&) {
            std::string codes;
            for (const std::string& code : m_store.stateCodes())
                codes += code;
            return codes;
        });
        route(server, "/manage/dormantcontact.php", true, [this](const httplib::Request& req) {
            if (!req.has_param("ID"))
                throw BadRequest("The customer number (?ID=) is missing.");
            const std::int64_t id = ParseId(req.get_param_value("ID"), "The customer number");
            if (!m_store.moveToDormant(id))
                throw NotFound("There is no customer number " + std::to_string(id) + ".");
            return "Customer " + std::to_string(id) +
                   " moved to the dormant list; its call history was deleted.";
        });
        route(server, "/manage/newguy.php", false, [this](const httplib::Request& req) {
            const FormFields form = FormFields::Parse(req.body);
            Customer customer = CustomerFromForm(form);
            form.require("ID"); // sent by the client; a new customer gets a new number
            const std::int64_t id = m_store.addCustomer(customer);
            return "Customer " + std::to_string(id) + " added.";
        });
        route(server, "/manage/modify.php", false, [this](const httplib::Request& req) {
            const FormFields form = FormFields::Parse(req.body);
            Customer customer = CustomerFromForm(form);
            customer.id = ParseId(form.require("ID"), "The field \"ID\"");
            if (!m_store.modifyCustomer(customer))
                throw NotFound("There is no customer number " + std::to_string(customer.id) + ".");
            return "Customer " + std::to_string(customer.id) + " updated.";
        });
        route(server, "/manage/savecall.php", false, [this](const httplib::Request& req) {
            const FormFields form = FormFields::Parse(req.body);
            Call call;
            call.customerId = ParseId(form.require("ID"), "The field \"ID\"");
            call.direction = CheckedText(form, "direction");
            call.handler = CheckedText(form, "Handler");
            call.text = CheckedText(form, "textarea");
            call.date = TodayText();
            call.time = NowTimeText();
            if (!m_store.saveCall(call))
                throw NotFound("There is no customer number " + std::to_string(call.customerId) +
                               ".");
            return "Call saved for customer " + std::to_string(call.customerId) + " on " +
                   call.date + " at " + call.time + ".";
        });
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
    void route(httplib::Server& server, const char* path, bool needsAuth, Handler handler)
    {
        server.Post(path, [this, self = shared_from_this(), needsAuth,
                           handler](const httplib::Request& req, httplib::Response& res) {
            if (needsAuth && !m_expectedAuthorization.empty() &&
                req.get_header_value("Authorization") != m_expectedAuthorization) {
                res.set_header("WWW-Authenticate", "Basic realm=\"Tillora\"");
                reply(res, 401, "Please sign in to the Tillora server.");
                return;
            }
            try {
                reply(res, 200, handler(req));
            } catch (const BadRequest& e) {
                reply(res, 400, std::string("Error: ") + e.what());
            } catch (const NotFound& e) {
                reply(res, 404, std::string("Error: ") + e.what());
            } catch (const std::exception& e) {
                reply(res, 500,
                      std::string("Error: the server could not complete the request: ") + e.what());
            }
        });
    }

    Store& m_store;
    ServerConfig m_config;
    std::string m_expectedAuthorization;
};

} // namespace

void InstallScripts(httplib::Server& server, Store& store, const ServerConfig& config)
{
    auto scripts = std::make_shared<Scripts>(store, config);
    scripts->install(server);
    server.set_payload_max_length(MaxBodyBytes);
    server.set_error_handler([scripts](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return;
        if (res.status == 413)
            scripts->reply(res, 413, "Error: the request is larger than 1 MiB.");
        else if (res.status == 404)
            scripts->reply(res, 404, "Error: there is no such script on this server.");
        else
            scripts->reply(res, res.status, "Error: the request could not be handled.");
    });
    if (config.logRequests) {
        server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
            static std::mutex logMutex;
            std::lock_guard lock(logMutex);
            std::fprintf(stderr, "%s %s %s %d %zu bytes\n", req.remote_addr.c_str(),
                         req.method.c_str(), req.target.c_str(), res.status, res.body.size());
        });
    }
    if (config.observer) {
        // Before the script runs, so that the request is seen before its answer.
        server.set_pre_routing_handler(
            [observer = config.observer](const httplib::Request& req, httplib::Response&) {
                observer(req.method, req.target);
                return httplib::Server::HandlerResponse::Unhandled;
            });
    }
}

ReferenceServer::ReferenceServer(Store& store, ServerConfig config) : m_config(std::move(config))
{
    InstallScripts(m_server, store, m_config);
    // The library's default adds SO_REUSEPORT, which would let a second
    // server share a port that is already taken instead of failing.
    m_server.set_socket_options([](socket_t sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
}

ReferenceServer::~ReferenceServer()
{
    stop();
}

bool ReferenceServer::bind(const std::string& host, int port)
{
    if (port == 0) {
        m_port = m_server.bind_to_any_port(host);
        return m_port > 0;
    }
    m_port = port;
    return m_server.bind_to_port(host, port);
}

void ReferenceServer::start()
{
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
}

void ReferenceServer::run()
{
    m_server.listen_after_bind();
}

void ReferenceServer::stop()
{
    m_server.stop();
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace refserver
