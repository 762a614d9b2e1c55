#include "watch/insertion_watch.h"

#include <QFile>
#include <QSet>
#include <algorithm>

namespace tarvic {

InsertionWatch::InsertionWatch(DriveLister drives, Launcher launch, Logger log, Handled handled, QString sysBlock)
    : m_drives(std::move(drives)), m_launch(std::move(launch)), m_log(std::move(log)), m_handled(std::move(handled)),
      m_sysBlock(std::move(sysBlock))
{
}

void InsertionWatch::replaceAll(const QMap<QString, InterfaceMap> &objects)
{
    m_objects.replaceAll(objects);
    m_answered = true;
}

void InsertionWatch::forget()
{
    m_objects.clear();
    m_answered = false;
}

int InsertionWatch::look()
{
    if (!m_answered)
        return 0;
    const bool takingStock = m_first;
    m_first = false;

    int started = 0;
    QList<QChar> startedNow;                    // one start per letter, whatever one change shows
    std::optional<QList<DriveEntry>> entries;   // the map, read once a change needs it
    QSet<QString> present;
    for (const BlockDevice &block : m_objects.blockDevices()) {
        present.insert(block.object);
        const Medium medium = mediumOf(block, m_objects.drive(block.drive));
        Seen &seen = m_seen[block.object];
        const bool newMedium = medium.state != seen.state || medium.identity != seen.identity;
        if (newMedium && !takingStock) {
            if (medium.state == Medium::In)
                started += arrive(block, medium, seen, startedNow, entries);
            else if (medium.state == Medium::Blank)
                m_log(QStringLiteral("blank disc in %1: nothing to start").arg(QFile::decodeName(block.device)));
            else if (seen.state == Medium::In && seen.letter)
                m_log(QStringLiteral("%1: %2 taken out").arg(*seen.letter).arg(QFile::decodeName(seen.device)));
        }
        if (medium.state != Medium::In)
            seen.letter.reset();
        seen.state = medium.state;
        seen.identity = medium.identity;
        seen.device = block.device;
    }
    for (auto it = m_seen.begin(); it != m_seen.end();) {
        if (present.contains(it.key())) {
            ++it;
            continue;
        }
        if (it->state == Medium::In && it->letter)
            m_log(QStringLiteral("%1: %2 gone").arg(*it->letter).arg(QFile::decodeName(it->device)));
        it = m_seen.erase(it);
    }
    return started;
}

int InsertionWatch::arrive(const BlockDevice &block, const Medium &medium, Seen &seen, QList<QChar> &startedNow,
                           std::optional<QList<DriveEntry>> &entries)
{
    const QString device = QFile::decodeName(block.device);
    if (!entries)
        entries = m_drives();
    seen.letter = letterOf(*entries, block, m_sysBlock);
    if (!seen.letter) {
        m_log(QStringLiteral("%1 in %2: not in the drive map, ignored").arg(medium.kind, device));
        return 0;
    }
    const QChar letter = *seen.letter;
    const bool anyMedium = std::any_of(entries->cbegin(), entries->cend(), [letter](const DriveEntry &e) {
        return e.letter == letter && e.watchAnyMedium;
    });
    if (!medium.disc && !anyMedium) {
        m_log(QStringLiteral("%1: %2 in %3: no disc, not started (%4::watch in the drive map turns it on)")
                  .arg(letter)
                  .arg(medium.kind, device, letter.toLower()));
        return 0;
    }
    if (startedNow.contains(letter))
        return 0;
    startedNow << letter;
    // Asked at the last moment: the tarvic that attached an image holds its mark from
    // before it touched the drive until it ends.
    if (m_handled(letter)) {
        m_log(QStringLiteral("%1: %2 in %3: tarvic is already handling %1:, not started again")
                  .arg(letter)
                  .arg(medium.kind, device));
        return 0;
    }
    m_log(QStringLiteral("%1: %2 in %3: starting tarvic %1:").arg(letter).arg(medium.kind, device));
    return m_launch(letter, block) ? 1 : 0;
}

} // namespace tarvic
