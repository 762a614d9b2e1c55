#include "profile/ini_reader.h"

#include "profile/profile_file.h"

namespace tarvic {

namespace {

// A real autorun.inf is a few hundred bytes; anything past this is not read.
constexpr qsizetype ReadCap = ProfileCap;
// The largest value a profile read hands back on Windows.
constexpr qsizetype ValueCap = 65535;

QString answer(const ProfileText &text, const QString &section, const QString &key)
{
    const std::optional<QString> value = text.value(section, key);
    if (!value)
        return IniNotFound;
    if (value->size() <= ValueCap)
        return *value;
    return value->first(value->at(ValueCap - 1).isHighSurrogate() ? ValueCap - 1 : ValueCap);
}

} // namespace

QString readIniValueFromBytes(const QString &section, const QString &key, const QByteArray &bytes)
{
    const QByteArrayView all(bytes);
    const qsizetype read = std::min(all.size(), ReadCap);
    return answer(ProfileText(bytes.first(read), all.sliced(read).first(std::min<qsizetype>(all.size() - read, 2))),
                  section, key);
}

QString readIniValue(const QString &section, const QString &key, const QByteArray &file)
{
    if (file.isEmpty() || file.contains('\0'))
        return IniNotFound;
    ProfileBytes read = readProfileBytes(file, ReadCap);
    switch (read.status) {
    case ProfileBytes::Missing:
    case ProfileBytes::Refused:
        return IniNotFound;
    case ProfileBytes::Broken:
        // A read error ends the file like a cut: what was read still counts.
        return answer(ProfileText(std::move(read.bytes), "?"), section, key);
    case ProfileBytes::Read:
        break;
    }
    return answer(ProfileText(std::move(read.bytes), read.next), section, key);
}

} // namespace tarvic
