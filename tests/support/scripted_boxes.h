#pragma once

#include "platform/message_boxes.h"

#include <QList>
#include <QString>

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
    int show(const QString &text, int flags, const QString &title) override
    {
        shown << ShownBox{text, flags, title};
        return answers.isEmpty() ? Mb::Ok : answers.takeFirst();
    }
};

} // namespace tarvic::test
