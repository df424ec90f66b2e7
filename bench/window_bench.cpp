// The whole main window loading a large list from a loopback server, against
// a bare download of the same answer from the same server in the same run,
// the two timed in turns. Warm: the benchmark's own window loads again and
// again, as the staff reload. Cold: a fresh client process in a real X
// window loads its first list, as a person sees it after starting the
// program.
//
// The window's time runs from the moment the list request reaches the server
// to the moment the window asks for the call log: download, statistics,
// parse, list rebuild, first customer shown. The call log's runs from the
// moment its request reaches the server to the end of LoadCalls. A bare
// download runs from the moment its request reaches the server to the
// moment its last byte has been read and thrown away.

#include "window_bench.h"

#include "bench_data.h"
#include "endpoints.h"
#include "interleaved.h"
#include "ratios.h"
#include "window_set.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Serves fixed answers by script path, one request per connection, and notes
// when each request arrived.
class CannedServer
{
public:
    CannedServer()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_socket, 16) != 0)
            throw std::runtime_error("the benchmark server cannot listen on 127.0.0.1");
        socklen_t length = sizeof address;
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }

    ~CannedServer()
    {
        m_stopping = true;
        ::shutdown(m_socket, SHUT_RDWR);
        m_thread.join();
        ::close(m_socket);
    }

    QString baseAddress() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    void setAnswer(QStringView path, std::shared_ptr<const QByteArray> body)
    {
        const std::lock_guard lock(m_mutex);
        m_answers[path.toString().toStdString()] = std::move(body);
    }

    Clock::time_point arrival(QStringView path) const
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_arrivals.find(path.toString().toStdString());
        return it == m_arrivals.end() ? Clock::time_point() : it->second;
    }

private:
    void run()
    {
        while (!m_stopping) {
            const int connection = ::accept(m_socket, nullptr, nullptr);
            if (connection < 0)
                continue;
            serve(connection);
            ::close(connection);
        }
    }

    void serve(int connection)
    {
        std::string request;
        char buffer[4096];
        std::size_t headEnd;
        while ((headEnd = request.find("\r\n\r\n")) == std::string::npos) {
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            request.append(buffer, std::size_t(n));
        }
        const Clock::time_point arrived = Clock::now();
        const std::size_t pathStart = request.find(' ') + 1;
        const std::string path = request.substr(pathStart, request.find(' ', pathStart) - pathStart);

        std::size_t bodyLength = 0;
        const std::size_t lengthAt = request.find("Content-Length:");
        if (lengthAt != std::string::npos && lengthAt < headEnd)
            bodyLength = std::stoul(request.substr(lengthAt + 15));
        while (request.size() < headEnd + 4 + bodyLength) {
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            request.append(buffer, std::size_t(n));
        }

        std::shared_ptr<const QByteArray> body;
        {
            const std::lock_guard lock(m_mutex);
            m_arrivals[path] = arrived;
            const auto it = m_answers.find(path);
            if (it != m_answers.end())
                body = it->second;
        }
        const QByteArray empty;
        const QByteArray& content = body ? *body : empty;
        const std::string head = std::string(body ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
                                 "\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Length: " +
                                 std::to_string(content.size()) + "\r\nConnection: close\r\n\r\n";
        sendAll(connection, head.data(), head.size());
        sendAll(connection, content.constData(), std::size_t(content.size()));
    }

    static void sendAll(int connection, const char* data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::send(connection, data, size, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            data += n;
            size -= std::size_t(n);
        }
    }

    int m_socket = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping = false;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<const QByteArray>> m_answers;
    std::map<std::string, Clock::time_point> m_arrivals;
};

std::shared_ptr<const QByteArray> Utf8(const QString& text)
{
    return std::make_shared<const QByteArray>(text.toUtf8());
}

// The server, the window set pointed at it, and the answers, built once.
struct WindowBench
{
    CannedServer server;
    std::shared_ptr<const QByteArray> smallList = Utf8(MakeCustomerList(10));
    std::shared_ptr<const QByteArray> list100k = Utf8(GeneratedCustomerList());
    std::shared_ptr<const QByteArray> list1m = Utf8(MakeCustomerList(1'000'000));
    std::shared_ptr<const QByteArray> smallCalls = Utf8(MakeCallList(10));
    std::shared_ptr<const QByteArray> calls1m = Utf8(GeneratedCallList());
    std::unique_ptr<WindowSet> windows;

    WindowBench()
    {
        PrepareApplication();
        server.setAnswer(Endpoints::Statistics,
                         Utf8(QStringLiteral(
                             "45 current, 8 expired, 7 dormant customers; 150 calls logged")));
        serve(smallList, smallCalls);
        windows = std::make_unique<WindowSet>(
            ServerSettings{server.baseAddress(), QString(), QString(), QString()});
        // The start-up loads run from the event loop once the window shows.
        windows->Form1->show();
        const Clock::time_point shown = Clock::now();
        while (server.arrival(Endpoints::CallList) < shown || windows->Form5->isVisible())
            QApplication::processEvents(QEventLoop::AllEvents, 50);
    }

    void serve(std::shared_ptr<const QByteArray> list, std::shared_ptr<const QByteArray> calls)
    {
        server.setAnswer(Endpoints::ActiveList, std::move(list));
        server.setAnswer(Endpoints::CallList, std::move(calls));
    }

    TForm1& form() { return *windows->Form1; }

    // Seconds from the list request's arrival to the call log request's.
    double windowLoad()
    {
        form().FormShow();
        return std::chrono::duration<double>(server.arrival(Endpoints::CallList) -
                                             server.arrival(Endpoints::ActiveList))
            .count();
    }

    // Seconds from the call log request's arrival to the end of its load.
    double callLogLoad()
    {
        form().LoadCalls();
        return std::chrono::duration<double>(Clock::now() - server.arrival(Endpoints::CallList))
            .count();
    }

    // Seconds from the list request's arrival to the call log request's, in
    // a client process started for this load alone, in a window on the X
    // display.
    double coldWindowLoad()
    {
        QProcess client;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        client.setProcessEnvironment(environment);
        client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const Clock::time_point launched = Clock::now();
        client.start(QStringLiteral(TILLORA_COLD_CLIENT_PATH), {server.baseAddress()});
        if (!client.waitForStarted())
            throw std::runtime_error("the client could not be started");
        const Clock::time_point deadline = launched + std::chrono::minutes(2);
        while (server.arrival(Endpoints::CallList) < launched) {
            if (client.state() == QProcess::NotRunning)
                throw std::runtime_error("the client ended before it asked for the call log");
            if (Clock::now() > deadline)
                throw std::runtime_error("the client never asked for the call log");
            client.waitForFinished(5);
        }
        const double seconds = std::chrono::duration<double>(server.arrival(Endpoints::CallList) -
                                                             server.arrival(Endpoints::ActiveList))
                                   .count();
        client.kill();
        client.waitForFinished();
        return seconds;
    }

    // Seconds from the request's arrival to the last byte read, as curl
    // downloads to /dev/null.
    double download(QStringView path)
    {
        CURL* curl = curl_easy_init();
        const QByteArray url = Endpoints::Address(server.baseAddress(), path).toUtf8();
        curl_easy_setopt(curl, CURLOPT_URL, url.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "");
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION,
                         +[](char*, size_t size, size_t count, void*) { return size * count; });
        const CURLcode result = curl_easy_perform(curl);
        const Clock::time_point done = Clock::now();
        curl_easy_cleanup(curl);
        if (result != CURLE_OK)
            throw std::runtime_error("the bare download failed");
        return std::chrono::duration<double>(done - server.arrival(path)).count();
    }
};

std::unique_ptr<WindowBench> TheBench;

WindowBench& Bench()
{
    if (!TheBench)
        TheBench = std::make_unique<WindowBench>();
    return *TheBench;
}

// Resident and peak resident bytes of this process.
struct Resident
{
    std::int64_t now = 0;
    std::int64_t peak = 0;
};

Resident ReadResident()
{
    std::ifstream status("/proc/self/status");
    Resident r;
    std::string key;
    std::int64_t kb;
    std::string unit;
    while (status >> key) {
        if (key == "VmRSS:" && status >> kb >> unit)
            r.now = kb * 1024;
        else if (key == "VmHWM:" && status >> kb >> unit)
            r.peak = kb * 1024;
    }
    return r;
}

void ResetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The peak memory a load adds to a window that holds a small list, over the
// bytes of the large answer.
template <typename Load>
double MemoryOverWire(const std::shared_ptr<const QByteArray>& answer, Load load)
{
    WindowBench& b = Bench();
    b.serve(b.smallList, b.smallCalls);
    load(b);
    malloc_trim(0);
    const Resident baseline = ReadResident();
    ResetPeakResident();
    load(b, answer);
    const Resident after = ReadResident();
    return double(after.peak - baseline.now) / double(answer->size());
}

// Runs the measure against its download in turns. The warm loads settle in
// for two rounds: the second is the first to find the buffers of a table of
// its size to reuse.
template <typename Measure>
void AgainstDownload(benchmark::State& state, const char* name, QStringView path, int rounds,
                     int settling, Measure measure)
{
    try {
        for (auto _ : state) {
            WindowBench& b = Bench();
            const std::vector<double> t = InterleavedMedians(
                {[&] { return measure(b); }, [&] { return b.download(path); }}, rounds, settling);
            RecordRatio(state, name, t[0], t[1]);
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    } catch (...) {
        state.SkipWithError("the load failed");
    }
}

void BM_WindowLoad100k(benchmark::State& state)
{
    Bench().serve(Bench().list100k, Bench().smallCalls);
    AgainstDownload(state, "window_load_100k", Endpoints::ActiveList, 9, 2,
                    [](WindowBench& b) { return b.windowLoad(); });
}

void BM_WindowLoad1m(benchmark::State& state)
{
    Bench().serve(Bench().list1m, Bench().smallCalls);
    AgainstDownload(state, "window_load_1m", Endpoints::ActiveList, 5, 2,
                    [](WindowBench& b) { return b.windowLoad(); });
}

void BM_CallLogLoad1m(benchmark::State& state)
{
    Bench().serve(Bench().smallList, Bench().calls1m);
    AgainstDownload(state, "call_log_load_1m", Endpoints::CallList, 5, 2,
                    [](WindowBench& b) { return b.callLogLoad(); });
}

// A first load needs a window on an X display.
bool HasDisplay(benchmark::State& state)
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        return true;
    state.SkipWithError("no X display: run under Xvfb, as scripts/bench does");
    return false;
}

void BM_WindowCold100k(benchmark::State& state)
{
    if (!HasDisplay(state))
        return;
    Bench().serve(Bench().list100k, Bench().smallCalls);
    AgainstDownload(state, "window_cold_100k", Endpoints::ActiveList, 5, 1,
                    [](WindowBench& b) { return b.coldWindowLoad(); });
}

void BM_WindowCold1m(benchmark::State& state)
{
    if (!HasDisplay(state))
        return;
    Bench().serve(Bench().list1m, Bench().smallCalls);
    AgainstDownload(state, "window_cold_1m", Endpoints::ActiveList, 3, 1,
                    [](WindowBench& b) { return b.coldWindowLoad(); });
}

// Peak memory a large load adds to a window holding a small list, over the
// answer's bytes on the wire: the larger of the two customer lists, and the
// call log. Reported as counters; its time means nothing.
void BM_WindowMemory(benchmark::State& state)
{
    auto customers = [](WindowBench& b, std::shared_ptr<const QByteArray> list = {}) {
        if (list)
            b.serve(list, b.smallCalls);
        b.form().FormShow();
    };
    auto calls = [](WindowBench& b, std::shared_ptr<const QByteArray> log = {}) {
        if (log)
            b.serve(b.smallList, log);
        b.form().LoadCalls();
    };
    try {
        for (auto _ : state) {
            state.counters["customers"] = std::max(MemoryOverWire(Bench().list100k, customers),
                                                   MemoryOverWire(Bench().list1m, customers));
            state.counters["calls"] = MemoryOverWire(Bench().calls1m, calls);
            RecordRatioValue("window_memory_vs_wire", state.counters["customers"]);
            RecordRatioValue("call_log_memory_vs_wire", state.counters["calls"]);
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

BENCHMARK(BM_WindowMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowLoad100k)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowLoad1m)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CallLogLoad1m)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowCold100k)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowCold1m)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

void EndWindowBench()
{
    TheBench.reset();
}
