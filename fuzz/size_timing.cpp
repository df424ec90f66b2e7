// Times the list parsers, response decoding, form encoding and the reference
// server's form and date parsers on 1 MB crafted inputs. A fuzzer's small
// inputs cannot show time that grows faster than the input; this can. Each
// case is reported against one memchr pass over the same bytes, and with the
// growth of its time from a quarter of the input to all of it (about 4 for
// linear code, 16 for quadratic). Each case runs in a child process stopped
// after a time limit, so a slow case is reported instead of hanging the run.
// Time never fails the run; a crash does.
//
//   tillora_size_timing [LIMIT_SECONDS [NAME_PART...]]   (default 60 s, every case)

#include "call_table.h"
#include "customer_table.h"
#include "dates.h"
#include "errors.h"
#include "form_encoding.h"
#include "form_fields.h"
#include "response_decoding.h"

#include <QByteArray>
#include <QString>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr qsizetype Megabyte = 1 << 20;

const QByteArray Field = QString(QChar(0x00A9)).toUtf8();  // ©
const QByteArray Record = QString(QChar(0x00AE)).toUtf8(); // ®

// Repeats `unit` until `total` bytes are reached or passed.
QByteArray Fill(const QByteArray& unit, qsizetype total)
{
    QByteArray out;
    out.reserve(total + unit.size());
    while (out.size() < total)
        out += unit;
    return out;
}

// A customer record whose last name is `ln`.
QByteArray CustomerRecord(const QByteArray& ln = "Smith")
{
    QByteArray r = "1" + Field + ln + Field;
    for (int i = 0; i < 18; ++i)
        r += "x" + Field;
    return r + "1" + Field + Record + "\n";
}

// A call record whose text is `text`.
QByteArray CallRecord(const QByteArray& text = "Asked")
{
    return "1" + Field + "7" + Field + "Incoming" + Field + "Anna" + Field + "2012-01-15" + Field +
           "14:05:00" + Field + text + Field + Record + "\n";
}

QByteArray Counted(const QByteArray& record, qsizetype size)
{
    const QByteArray records = Fill(record, size);
    return QByteArray::number(records.size() / record.size()) + "<br>" + records;
}

// What a run produced, in a few words, so a surprising outcome shows.
using Outcome = std::string;
using Run = std::function<Outcome()>;

template <class F> Outcome Catching(F f)
{
    try {
        return f();
    } catch (const ConversionError&) {
        return "ConversionError";
    } catch (const RangeCheckError&) {
        return "RangeCheckError";
    } catch (const TilloraError& e) {
        return std::string("TilloraError: ") + e.what();
    } catch (const refserver::BadRequest& e) {
        return std::string("BadRequest: ") + e.what();
    }
}

// Each kind of case turns the bytes into its input once; only the run is timed.
using Prepare = std::function<Run(const QByteArray& bytes)>;

Prepare DecodeAs(QByteArray contentType)
{
    return [contentType](const QByteArray& bytes) -> Run {
        return [=] {
            return std::to_string(DecodeResponseBody(bytes, contentType).size()) + " chars";
        };
    };
}

Run ParseCustomers(const QByteArray& bytes)
{
    return [text = QString::fromUtf8(bytes)] {
        return Catching(
            [&] { return std::to_string(TCustomerTable::Parse(text).CustomerCount()) + " rows"; });
    };
}

Run ParseCalls(const QByteArray& bytes)
{
    return [text = QString::fromUtf8(bytes)] {
        return Catching(
            [&] { return std::to_string(TCallTable::Parse(text).CallCount()) + " rows"; });
    };
}

Run EncodeForm(const QByteArray& bytes)
{
    return [text = QString::fromUtf8(bytes)] {
        return std::to_string(EncodeFormText(text).size()) + " bytes";
    };
}

Run ParseForm(const QByteArray& bytes)
{
    return [body = bytes.toStdString()] {
        return Catching([&] {
            return std::to_string(refserver::FormFields::Parse(body).fields().size()) + " fields";
        });
    };
}

Run ParseDate(const QByteArray& bytes)
{
    return [text = bytes.toStdString()]() -> Outcome {
        const auto date = refserver::ParseFormDate(text);
        return !date ? "not a date" : !*date ? "no date" : **date;
    };
}

struct Case
{
    const char* name;
    std::function<QByteArray(qsizetype size)> make; // about `size` bytes
    Prepare prepare;
};

std::vector<Case> Cases()
{
    const QByteArray meta = "<meta charset=" + QByteArray(4000, ' ') + "!>";
    return {
        // Response decoding; 1 MB is "<html>" and 250 of these meta elements.
        {"decode_meta_charset_blanks",
         [=](qsizetype n) { return "<html>" + Fill(meta, n / meta.size() * meta.size()); },
         DecodeAs({})},
        {"decode_meta_charset_one_run",
         [](qsizetype n) { return "<html><meta charset=" + Fill(" ", n) + "!>"; }, DecodeAs({})},
        {"decode_meta_unclosed", [](qsizetype n) { return "<html>" + Fill("<meta ", n); },
         DecodeAs({})},
        {"decode_no_charset", [](qsizetype n) { return Fill("plain text ", n); }, DecodeAs({})},
        {"decode_utf8", [](qsizetype n) { return Fill("caf\xc3\xa9 ", n); },
         DecodeAs("text/html; charset=UTF-8")},
        {"decode_xml_declaration_blanks",
         [](qsizetype n) { return "<?xml" + Fill(" ", n) + "encoding='utf-8'?>"; },
         DecodeAs("application/xml")},

        // Customer list.
        {"customers_many_records", [](qsizetype n) { return Counted(CustomerRecord(), n); },
         ParseCustomers},
        {"customers_huge_count",
         [](qsizetype n) { return "2147483647<br>" + Fill(CustomerRecord(), n); }, ParseCustomers},
        {"customers_field_1mb", [](qsizetype n) { return "1<br>" + CustomerRecord(Fill("x", n)); },
         ParseCustomers},
        {"customers_field_terminators",
         [](qsizetype n) { return "1<br>1" + Fill(Field, n) + Record; }, ParseCustomers},
        {"customers_record_terminators",
         [](qsizetype n) { return "2147483647<br>" + Fill(Record, n); }, ParseCustomers},
        {"customers_blanks_between",
         [](qsizetype n) { return "2<br>" + CustomerRecord() + Fill(" ", n) + CustomerRecord(); },
         ParseCustomers},

        // Call list.
        {"calls_many_records", [](qsizetype n) { return Counted(CallRecord(), n); }, ParseCalls},
        {"calls_huge_count", [](qsizetype n) { return "2147483647<br>" + Fill(CallRecord(), n); },
         ParseCalls},
        {"calls_field_1mb", [](qsizetype n) { return "1<br>" + CallRecord(Fill("x", n)); },
         ParseCalls},
        {"calls_field_terminators", [](qsizetype n) { return "1<br>1" + Fill(Field, n) + Record; },
         ParseCalls},
        {"calls_record_terminators", [](qsizetype n) { return "2147483647<br>" + Fill(Record, n); },
         ParseCalls},
        {"calls_blanks_in_field", [](qsizetype n) { return "1<br>" + CallRecord(Fill(" ", n)); },
         ParseCalls},
        {"calls_blanks_around",
         [](qsizetype n) { return Fill(" ", n / 2) + "1<br>" + CallRecord() + Fill(" ", n / 2); },
         ParseCalls},

        // Form encoding on the client.
        {"encode_form_non_ascii", [](qsizetype n) { return Fill("\xc3\xa9 a", n); }, EncodeForm},

        // The reference server's form body and date parsers.
        {"form_ampersands", [](qsizetype n) { return Fill("&", n); }, ParseForm},
        {"form_escapes", [](qsizetype n) { return "a=" + Fill("%41", n); }, ParseForm},
        {"form_percent_signs", [](qsizetype n) { return Fill("%", n); }, ParseForm},
        {"form_plus_signs", [](qsizetype n) { return "a=" + Fill("+", n); }, ParseForm},
        {"form_equals_signs", [](qsizetype n) { return Fill("=", n); }, ParseForm},
        {"date_blanks", [](qsizetype n) { return Fill(" ", n); }, ParseDate},
        {"date_blanks_in_parts",
         [](qsizetype n) {
             return Fill(" ", n / 3) + "1/" + Fill(" ", n / 3) + "2/" + Fill(" ", n / 3) + "2024";
         },
         ParseDate},
        {"date_slashes", [](qsizetype n) { return Fill("/", n); }, ParseDate},
        {"date_long_year", [](qsizetype n) { return "1/2/" + Fill("2", n); }, ParseDate},
    };
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The fastest of a few memchr passes for a byte value the input lacks, so
// each pass reads every byte.
double BaselineSeconds(const QByteArray& bytes)
{
    std::array<bool, 256> seen{};
    for (const char c : bytes)
        seen[static_cast<unsigned char>(c)] = true;
    const int absent = int(std::find(seen.begin(), seen.end(), false) - seen.begin()) & 0xFF;
    double best = 1e9;
    for (int i = 0; i < 50; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const void* volatile hit =
            std::memchr(bytes.constData(), absent, std::size_t(bytes.size()));
        (void)hit;
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
    }
    return best;
}

// The fastest of up to fifteen runs, fewer when slow: the machine is shared,
// and the fastest run is the one least disturbed.
double RunSeconds(const Run& run, Outcome& outcome)
{
    double best = 1e9;
    double spent = 0;
    for (int i = 0; i < 15 && spent < 3.0; ++i) {
        const auto start = std::chrono::steady_clock::now();
        outcome = run();
        const double s = Seconds(std::chrono::steady_clock::now() - start);
        best = std::min(best, s);
        spent += s;
    }
    return best;
}

struct Result
{
    long long bytes;
    double seconds;
    double baseline;
    double growth; // time at full size / time at a quarter, per 4 times the bytes
    char outcome[160];
};

// Runs in the child.
Result Measure(const Case& c)
{
    Result r{};
    Outcome outcome;
    const QByteArray quarter = c.make(Megabyte / 4);
    const double quarterSeconds = RunSeconds(c.prepare(quarter), outcome);

    const QByteArray full = c.make(Megabyte);
    r.bytes = full.size();
    r.baseline = BaselineSeconds(full);
    r.seconds = RunSeconds(c.prepare(full), outcome);
    // Scaled to exactly 4 times the bytes, so inputs that do not divide
    // evenly still read as 4 when linear.
    const double byteRatio = double(full.size()) / double(quarter.size());
    r.growth = std::pow(r.seconds / quarterSeconds, std::log(4.0) / std::log(byteRatio));
    std::snprintf(r.outcome, sizeof r.outcome, "%s", outcome.c_str());
    return r;
}

// False when the case crashed.
bool Report(const Case& c, int limitSeconds)
{
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(2);
    }
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const Result r = Measure(c);
        const ssize_t written = write(fds[1], &r, sizeof r);
        _exit(written == ssize_t(sizeof r) ? 0 : 1);
    }
    close(fds[1]);

    Result r{};
    pollfd p{fds[0], POLLIN, 0};
    const bool answered =
        poll(&p, 1, limitSeconds * 1000) > 0 && read(fds[0], &r, sizeof r) == ssize_t(sizeof r);
    if (!answered)
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(fds[0]);

    const bool stopped = !answered && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    std::printf("size-timing %-30s ", c.name);
    if (answered) {
        std::printf("%8lld bytes %10.3f ms  memchr %7.4f ms  ratio %9.1f  growth x%-5.1f (%s)\n",
                    r.bytes, r.seconds * 1e3, r.baseline * 1e3, r.seconds / r.baseline, r.growth,
                    r.outcome);
    } else if (stopped) {
        std::printf("STOPPED after %d s: about 1 MB took longer than that\n", limitSeconds);
    } else {
        std::printf("CRASHED (wait status %d)\n", status);
    }
    std::fflush(stdout);
    return answered || stopped;
}

} // namespace

int main(int argc, char** argv)
{
    const int limitSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    std::printf("size-timing: each case on about 1 MB against one memchr pass over the same "
                "bytes; growth is the time from a quarter of the input to all of it (4 when "
                "linear, 16 when quadratic); a case stops after %d s. Informational only.\n",
                limitSeconds);
    bool crashed = false;
    for (const Case& c : Cases()) {
        bool wanted = argc <= 2;
        for (int i = 2; i < argc; ++i)
            wanted = wanted || std::strstr(c.name, argv[i]) != nullptr;
        if (wanted && !Report(c, limitSeconds))
            crashed = true;
    }
    return crashed ? 1 : 0;
}
