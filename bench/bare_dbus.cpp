// The yardstick for the watcher's idle memory: a Qt program with a connection to
// the system bus, waiting.
#include <QCoreApplication>
#include <QDBusConnection>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (!QDBusConnection::systemBus().isConnected())
        return 1;
    return app.exec();
}
