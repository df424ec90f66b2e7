// Tillora Customer Management: the desktop client.

#include "window_set.h"

#include <QApplication>

#include <curl/curl.h>

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    PrepareApplication();
    WindowSet windows;
    windows.Form1->show();
    const int result = app.exec();
    curl_global_cleanup();
    return result;
}
