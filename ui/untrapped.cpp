#include "ui/untrapped.h"

#include "platform/runtime_error.h"

#include <new>

namespace tarvic {

namespace {
UntrappedReaction &reaction()
{
    static UntrappedReaction r;
    return r;
}
} // namespace

void setUntrappedReaction(UntrappedReaction r)
{
    reaction() = std::move(r);
}

void reportUntrapped(const RuntimeError &error)
{
    if (reaction())
        reaction()(error);
}

void runHandler(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const RuntimeError &e) {
        reportUntrapped(e);
    } catch (const std::bad_alloc &) {
        reportUntrapped(RuntimeError(Err::OutOfMemory, QStringLiteral("Out of memory")));
    } catch (const std::exception &e) {
        reportUntrapped(RuntimeError(Err::Internal, QString::fromLocal8Bit(e.what())));
    }
}

} // namespace tarvic
