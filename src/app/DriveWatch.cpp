#include "app/DriveWatch.h"

#include "app/QtHelpers.h"
#include "jobs/CBackupJobManager.h"
#include "support/appPreferences.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QThread>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {
constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kBlock = "org.freedesktop.UDisks2.Block";
constexpr const char* kFilesystem = "org.freedesktop.UDisks2.Filesystem";

// Receives udisks2's InterfacesAdded on the listener's thread.
class AttachReceiver : public QObject {
    Q_OBJECT
public:
    explicit AttachReceiver(DriveWatch::Listener& listener) : m_listener(listener) {}
public slots:
    void InterfacesAdded(const QDBusMessage& message);

private:
    DriveWatch::Listener& m_listener;
};
} // namespace

struct DriveWatch::Listener : QThread {
    int iWakeFd = -1;
    std::mutex mutex;
    std::set<std::string> volumes; // guarded by mutex
    bool bMount = false;           // guarded by mutex

    void run() override {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected()) return; // no system bus: the mount table alone tells
        AttachReceiver receiver(*this);
        bus.connect(kService, "/org/freedesktop/UDisks2", "org.freedesktop.DBus.ObjectManager", "InterfacesAdded",
                    &receiver, SLOT(InterfacesAdded(QDBusMessage)));
        exec();
    }

    // A block device with a file system appeared: mounted when it is a job's and the preference
    // says so; the agent is woken either way.
    void Attached(const QString& sPath, const QString& sUuid, bool bFilesystem) {
        bool bMountIt = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            bMountIt = bMount && bFilesystem && !sUuid.isEmpty() && volumes.count(sUuid.toStdString()) != 0;
        }
        if (bMountIt) {
            QDBusMessage call = QDBusMessage::createMethodCall(kService, sPath, kFilesystem, "Mount");
            call << QVariantMap();
            QDBusConnection::systemBus().call(call, QDBus::Block, 60000);
        }
        const char c = 1;
        (void)!::write(iWakeFd, &c, 1);
    }
};

void AttachReceiver::InterfacesAdded(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2) return;
    const QString sPath = args.at(0).value<QDBusObjectPath>().path();
    QMap<QString, QVariantMap> interfaces;
    args.at(1).value<QDBusArgument>() >> interfaces;
    const bool bFilesystem = interfaces.contains(kFilesystem);
    QString sUuid = interfaces.value(kBlock).value("IdUUID").toString();
    if (sUuid.isEmpty() && bFilesystem) { // the file system announced on its own: ask its block
        QDBusMessage get = QDBusMessage::createMethodCall(kService, sPath, "org.freedesktop.DBus.Properties", "Get");
        get << QString(kBlock) << QString("IdUUID");
        const QDBusMessage reply = QDBusConnection::systemBus().call(get, QDBus::Block, 10000);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            sUuid = reply.arguments().at(0).value<QDBusVariant>().variant().toString();
    }
    if (!interfaces.contains(kBlock) && !bFilesystem) return; // not a block device
    m_listener.Attached(sPath, sUuid, bFilesystem);
}

DriveWatch::DriveWatch() {
    m_iMountFd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    TakeMountChange();
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    (void)QtHelpers::MakeCoreApplication().release(); // lives as long as the process
    m_pListener = std::make_unique<Listener>();
    m_pListener->iWakeFd = m_pipe[1];
    UpdateVolumes();
    m_pListener->start();
}

DriveWatch::~DriveWatch() {
    if (m_pListener) {
        m_pListener->quit();
        m_pListener->wait();
    }
    for (int fd : {m_iMountFd, m_pipe[0], m_pipe[1]})
        if (fd >= 0) ::close(fd);
}

void DriveWatch::TakeMountChange() {
    if (m_iMountFd < 0) return;
    char buf[4096];
    ::lseek(m_iMountFd, 0, SEEK_SET);
    while (::read(m_iMountFd, buf, sizeof buf) > 0) {
    }
}

void DriveWatch::TakeAttached() {
    char buf[64];
    while (m_pipe[0] >= 0 && ::read(m_pipe[0], buf, sizeof buf) > 0) {
    }
}

void DriveWatch::UpdateVolumes() {
    if (!m_pListener) return;
    std::set<std::string> volumes = JobVolumes();
    std::lock_guard<std::mutex> lock(m_pListener->mutex);
    m_pListener->volumes = std::move(volumes);
    m_pListener->bMount = appPreferences::MountBackupDrive;
}

std::set<std::string> DriveWatch::JobVolumes() {
    std::set<std::string> volumes;
    CBackupJobManager* pManager = JobManager();
    for (int32_t i = 0; pManager && i < pManager->Count(); ++i) {
        CBackupJob probe; // a job of its own: the shared one would store its next run afresh
        if (probe.Open(pManager->FileNameFromHandle(pManager->HandleFromIndex(i))) == CBackupJob::FileResult::Done &&
            !probe.TargetVolume().empty() && !probe.Suspended())
            volumes.insert(probe.TargetVolume());
    }
    return volumes;
}

#include "DriveWatch.moc"
