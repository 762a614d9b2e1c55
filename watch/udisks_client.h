#pragma once

#include "platform/drive_lock.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>

class QDBusMessage;
class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

namespace tarvic {

class InsertionWatch;
struct BlockDevice;

// The D-Bus side of the watch: follows udisks2 on the system bus and hands what it
// says to an InsertionWatch. Outlives the bus and udisks2: it follows udisks2's bus
// name, and when the bus itself goes away it connects again after a pause that
// doubles up to a limit, so nothing runs while there is nothing to watch.
class UdisksClient : public QObject
{
    Q_OBJECT
public:
    using Logger = std::function<void(const QString &line)>;

    UdisksClient(InsertionWatch &watch, Logger log, QObject *parent = nullptr);
    ~UdisksClient() override;

    void start();

    // Asks udisks2 to mount the medium's file system now, while the tarvic started
    // for it comes up; that tarvic finds it mounted, or waits for this mount (by the
    // mark DriveLock::holdMounting) instead of asking for a second one.
    void mountAhead(const BlockDevice &block);

    static constexpr int FirstRetryMs = 250;
    static constexpr int LastRetryMs = 16000;

private Q_SLOTS:
    void connectToBus();
    void busGone();
    void ownerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);
    void interfacesAdded(const QDBusMessage &message);
    void interfacesRemoved(const QDBusMessage &message);
    void propertiesChanged(const QDBusMessage &message);
    void objectsArrived(QDBusPendingCallWatcher *call);
    void askForObjects();

private:
    void dropConnection();

    InsertionWatch &m_watch;
    Logger m_log;
    QDBusConnection m_bus{QString()};
    QString m_busName;
    QDBusServiceWatcher *m_owner = nullptr;
    QDBusPendingCallWatcher *m_pending = nullptr;
    QTimer m_retry;                 // connects to the bus again
    int m_retryMs = FirstRetryMs;
    QTimer m_askAgain;              // asks udisks2 again for its objects
    int m_askMs = FirstRetryMs;
    int m_connections = 0;
    bool m_saidNoBus = false;
    struct Mounting
    {
        DriveLock mark;
        QDBusPendingCallWatcher *call = nullptr;
    };
    std::map<QString, Mounting> m_mounting;   // by block object
};

} // namespace tarvic
