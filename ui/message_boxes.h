#pragma once

#include <QString>

class QWidget;

namespace tarvic {

// Flag values and results of the classic message box, as the program uses them.
namespace Mb {
constexpr int OkOnly = 0, RetryCancel = 5, YesNo = 4;
constexpr int Critical = 16, Question = 32, Information = 64;
constexpr int Ok = 1, Cancel = 2, Retry = 4, Yes = 6, No = 7;
}

// The message boxes a run shows, answered by the user (or by a test's script).
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box; lines of the text break at CR LF (or CR alone). Flags and
    // the result use the values of Mb (16, 21, 36 and 64 are the ones in use).
    virtual int show(const QString &text, int flags, const QString &title) = 0;
};

// Real boxes on the screen.
class QtMessageBoxes final : public MessageBoxes
{
public:
    int show(const QString &text, int flags, const QString &title) override;
};

} // namespace tarvic
