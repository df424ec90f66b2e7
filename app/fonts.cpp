#include "fonts.h"

#include <QFile>
#include <QFontDatabase>

void RegisterTahoma()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    for (const char* file :
         {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"})
        if (QFile::exists(QString::fromLatin1(file)))
            QFontDatabase::addApplicationFont(QString::fromLatin1(file));
}

QFont Tahoma(int pixelHeight, bool bold)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}
