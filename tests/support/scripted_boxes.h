#pragma once

#include "ui/message_boxes.h"

#include <QList>
#include <QString>
#include <functional>

namespace tarvic::test {

struct ShownBox
{
    QString text;
    int flags;
    QString title;
};

// Answers boxes from a script and remembers what was shown.
struct ScriptedBoxes final : MessageBoxes
{
    QList<int> answers;     // returned in order; OK once they run out
    QList<ShownBox> shown;
    std::function<void(const ShownBox &)> whileShown;   // acts while the box is up
    int show(const QString &text, int flags, const QString &title) override
    {
        shown << ShownBox{text, flags, title};
        if (whileShown)
            whileShown(shown.last());
        return answers.isEmpty() ? Mb::Ok : answers.takeFirst();
    }
};

} // namespace tarvic::test
