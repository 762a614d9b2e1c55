// The profile-file rules on arbitrary file contents. Besides crashes, leaks and
// hangs it checks that an autorun.inf answer is never longer than 65,535
// characters and never holds a NUL, and that a value written into the file reads
// back exactly while another key's answer stays as it was.
#include "profile/ini_reader.h"
#include "profile/profile_text.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdlib>

namespace {

const QString Names[] = {
    QStringLiteral("autorun"), QStringLiteral("open"), QStringLiteral("icon"),
    QStringLiteral("MENÜ"), QStringLiteral(""), QStringLiteral(" Open\t"),
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the names and how many of the last bytes make the value
    // written.
    const uint8_t pick = data[0];
    const QString &section = Names[(pick & 1) ? 0 : 3];
    const QString &key = Names[1 + (pick >> 1) % 5];
    const QString &other = Names[1 + ((pick >> 1) + 1) % 5];
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));

    const QString answer = tarvic::readIniValueFromBytes(section, key, bytes);
    if (answer.size() > 65535 || answer.contains(QChar(u'\0')))
        std::abort();

    tarvic::ProfileText text(bytes);
    const QString value = QString::fromLatin1(bytes.right(pick >> 4));
    if (!text.wellFormed() || key.trimmed().isEmpty() || tarvic::ProfileText::unwritable(value))
        return 0;
    const auto before = text.value(section, other);
    text.setValue(section, key, value);
    if (text.value(section, key) != value)
        std::abort();
    if (other.trimmed().compare(key.trimmed(), Qt::CaseInsensitive) != 0 && text.value(section, other) != before)
        std::abort();
    return 0;
}
