// The client as a person starts it, pointed at the benchmark's server instead
// of the built-in one: a fresh process, so the window benchmarks can time the
// first list load someone sees, with nothing warmed up by an earlier load.
//   tillora_cold_client http://127.0.0.1:PORT

#include "window_set.h"

#include <QApplication>

#include <curl/curl.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SERVER-ADDRESS\n", argv[0]);
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    PrepareApplication();
    WindowSet windows(ServerSettings{QString::fromLocal8Bit(argv[1]), QString(), QString(), QString()});
    windows.Form1->show();
    const int result = app.exec();
    curl_global_cleanup();
    return result;
}
