// The INI reader on arbitrary autorun.inf contents. Besides crashes, leaks and
// hangs it checks that an answer never depends on how the bytes arrive, is never
// longer than 65,535 characters and never holds a NUL.
#include "components/ini_reader.h"

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
    // The first byte picks the names and the size of the pieces.
    const uint8_t pick = data[0];
    const QString &section = Names[(pick & 1) ? 0 : 3];
    const QString &key = Names[1 + (pick >> 1) % 5];
    const qsizetype piece = 1 + (pick >> 4);
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));

    const QString whole = tarvic::readIniValueFromBytes(section, key, bytes);
    const QString pieces = tarvic::readIniValueFromBytes(section, key, bytes, piece);
    if (whole != pieces)
        std::abort();
    if (whole.size() > 65535 || whole.contains(QChar(u'\0')))
        std::abort();
    return 0;
}
