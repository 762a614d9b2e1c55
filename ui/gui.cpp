#include "ui/gui.h"

#include <QCoreApplication>

namespace tarvic {

namespace {
std::function<void()> &maker()
{
    static std::function<void()> make;
    return make;
}
} // namespace

void setGuiMaker(std::function<void()> make)
{
    maker() = std::move(make);
}

void needGui()
{
    if (!QCoreApplication::instance() && maker())
        maker()();
}

} // namespace tarvic
