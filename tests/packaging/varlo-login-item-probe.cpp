// Turns on launch at login exactly as the application does (the entry names
// the running executable) and prints the entry's path. Installed next to
// varlo by the packaging tests, it shows what an installed copy writes.
#include "services/LoginItem.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const varlo::LoginItem item;
    const varlo::LoginItem::Result result = item.setEnabled(true);
    if (!result.ok) {
        std::fprintf(stderr, "%s\n", qPrintable(result.error));
        return 1;
    }
    std::printf("%s\n", qPrintable(item.entryPath()));
    return 0;
}
