// The yardstick for the start-up benchmark: a Qt Widgets program that starts and exits.
#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    return 0;
}
