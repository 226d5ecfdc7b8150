#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    std::puts("Varlo: the desktop interface is not built yet.");
    return 0;
}
