#include "ui/message_boxes.h"

#include "ui/gui.h"
#include "ui/program_icon.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace tarvic {

int QtMessageBoxes::show(const QString &text, int flags, const QString &title)
{
    needGui();
    QMessageBox box;
    box.setWindowTitle(title);
    box.setWindowIcon(programIcon());
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(shown);
    box.setTextFormat(Qt::PlainText);
    switch (flags & 0xf0) {
    case Mb::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Mb::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Mb::Information:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
    }

    struct Choice { QMessageBox::StandardButton button; int result; };
    QList<Choice> choices;
    switch (flags & 0x0f) {
    case Mb::RetryCancel:
        choices = {{QMessageBox::Retry, Mb::Retry}, {QMessageBox::Cancel, Mb::Cancel}};
        break;
    case Mb::YesNo:
        choices = {{QMessageBox::Yes, Mb::Yes}, {QMessageBox::No, Mb::No}};
        break;
    default:
        choices = {{QMessageBox::Ok, Mb::Ok}};
    }
    for (const Choice &c : choices)
        box.addButton(c.button);
    // The first button is the default, as on the classic box; Esc answers with the
    // last one when it is Cancel or No, and OK when it is the only one.
    box.setDefaultButton(choices.first().button);
    box.setEscapeButton(choices.last().button);
    box.exec();
    const auto *clicked = box.clickedButton();
    for (const Choice &c : choices)
        if (clicked == box.button(c.button))
            return c.result;
    return choices.size() == 1 ? Mb::Ok : choices.last().result;
}

} // namespace tarvic
