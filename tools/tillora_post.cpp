// tillora-post [--user NAME --password PASS] [--times N] [--events]
//              [--table customers|calls] [--cacert FILE] ADDRESS [NAME=VALUE ...]
//
// Posts the field list to ADDRESS N times through one HTTP client instance,
// exactly as the client does, and prints each answer (or the table the
// client's parser makes of it). Errors go to standard error with exit status
// 1; bad arguments give exit status 2.

#include "call_table.h"
#include "customer_table.h"
#include "http_client.h"
#include "table_dump.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace {

const char Usage[] = "usage: tillora-post [--user NAME --password PASS] [--times N] [--events]\n"
                     "                    [--table customers|calls] [--cacert FILE]\n"
                     "                    ADDRESS [NAME=VALUE ...]\n";

struct Options
{
    QString user;
    QString password;
    int times = 1;
    bool events = false;
    QString table;
    std::optional<QString> caFile; // unset: the built-in one
    QString address;
    QStringList fields;
};

std::optional<Options> ParseArguments(const QStringList& args)
{
    Options o;
    qsizetype i = 1;
    auto value = [&](QString& out) {
        if (i + 1 >= args.size())
            return false;
        out = args[++i];
        return true;
    };
    for (; i < args.size() && args[i].startsWith(u"--"); ++i) {
        const QString& a = args[i];
        QString v;
        if (a == u"--user") {
            if (!value(o.user))
                return std::nullopt;
        } else if (a == u"--password") {
            if (!value(o.password))
                return std::nullopt;
        } else if (a == u"--times") {
            bool ok = false;
            if (!value(v) || (o.times = v.toInt(&ok), !ok) || o.times < 1)
                return std::nullopt;
        } else if (a == u"--events") {
            o.events = true;
        } else if (a == u"--cacert") {
            if (!value(v) || v.isEmpty())
                return std::nullopt;
            o.caFile = v;
        } else if (a == u"--table") {
            if (!value(o.table) || (o.table != u"customers" && o.table != u"calls"))
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (i >= args.size())
        return std::nullopt;
    o.address = args[i++];
    for (; i < args.size(); ++i)
        o.fields << args[i];
    return o;
}

const char* DirectionName(TransferDirection d)
{
    return d == TransferDirection::Send ? "send" : "receive";
}

void Print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::optional<Options> options = ParseArguments(app.arguments());
    if (!options) {
        std::fputs(Usage, stderr);
        return 2;
    }

    try {
        HttpClient client(options->user, options->password);
        if (options->caFile)
            client.setCaFile(*options->caFile);
        if (options->events) {
            client.OnWorkBegin = [](TransferDirection d, std::int64_t expected) {
                std::fprintf(stderr, "begin %s %lld\n", DirectionName(d), (long long)expected);
            };
            client.OnWork = [](TransferDirection d, std::int64_t reached) {
                std::fprintf(stderr, "work %s %lld\n", DirectionName(d), (long long)reached);
            };
            client.OnWorkEnd = [](TransferDirection d) {
                std::fprintf(stderr, "end %s\n", DirectionName(d));
            };
        }
        for (int n = 0; n < options->times; ++n) {
            const QString body = client.Post(options->address, options->fields);
            if (options->table == u"customers")
                Print(stdout, DumpTable(TCustomerTable::Parse(body)));
            else if (options->table == u"calls")
                Print(stdout, DumpTable(TCallTable::Parse(body)));
            else
                Print(stdout, body + u'\n');
        }
    } catch (const TilloraError& e) {
        Print(stderr, e.message() + u'\n');
        return 1;
    }
    return 0;
}
