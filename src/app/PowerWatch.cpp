#include "app/PowerWatch.h"

#include "app/QtHelpers.h"
#include "support/appPreferences.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <cerrno>
#include <memory>
#include <poll.h>
#include <string>
#include <vector>

namespace PowerWatch {

namespace {

const QString kUPower = "org.freedesktop.UPower";
const QString kUPowerPath = "/org/freedesktop/UPower";
const QString kNetwork = "org.freedesktop.NetworkManager";
const QString kNetworkPath = "/org/freedesktop/NetworkManager";
const QString kProperties = "org.freedesktop.DBus.Properties";
// An answer later than this counts as no service: an agent's tick must not hang on the bus.
constexpr int kCallTimeoutMs = 2000;

// NetworkManager's NMMetered: 1 yes, 3 guess-yes are metered; 0 unknown, 2 no, 4 guess-no not.
bool IsMetered(const QVariant& value) {
    const uint iValue = value.toUInt();
    return iValue == 1 || iValue == 3;
}

// One property read through org.freedesktop.DBus.Properties.Get; invalid without an answer.
QVariant ReadProperty(const QString& sService, const QString& sPath, const QString& sName) {
    QDBusMessage call = QDBusMessage::createMethodCall(sService, sPath, kProperties, "Get");
    call << sService << sName;
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

class Watcher : public QObject {
    Q_OBJECT
public:
    // Follows one service's property: its value now, then its PropertiesChanged signals.
    bool Follow(const QString& sService, const QString& sPath, const char* pSlot) {
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected()) return false;
        return bus.connect(sService, sPath, kProperties, "PropertiesChanged", this, pSlot);
    }
    void Unfollow(const QString& sService, const QString& sPath, const char* pSlot) {
        QDBusConnection::systemBus().disconnect(sService, sPath, kProperties, "PropertiesChanged", this, pSlot);
    }

    bool Battery = false;
    bool MeteredNow = false;
    bool Relief = false;
    std::function<void()> OnRelief;

signals:
    void Changed();

public slots:
    void UPowerChanged(const QString& sInterface, const QVariantMap& changed, const QStringList&) {
        if (sInterface != kUPower || !changed.contains("OnBattery")) return;
        const bool bWas = Battery;
        Battery = changed.value("OnBattery").toBool();
        if (bWas && !Battery) Relieve();
    }
    void NetworkChanged(const QString& sInterface, const QVariantMap& changed, const QStringList&) {
        if (sInterface != kNetwork || !changed.contains("Metered")) return;
        const bool bWas = MeteredNow;
        MeteredNow = IsMetered(changed.value("Metered"));
        if (bWas && !MeteredNow) Relieve();
    }

private:
    void Relieve() {
        Relief = true;
        emit Changed();
        if (OnRelief) OnRelief();
    }
};

std::unique_ptr<QCoreApplication> g_pOwnApp;
std::unique_ptr<Watcher> g_pWatcher;
bool g_bBattery = false; // followed now
bool g_bNetwork = false;
std::function<void()> g_onRelief;

// The bus's signals need Qt's event loop: the headless agent made no application.
void EnsureApplication() {
    if (QCoreApplication::instance() == nullptr) g_pOwnApp = QtHelpers::MakeCoreApplication();
}

} // namespace

void Update() {
    const bool bBattery = appPreferences::PostponeOnBattery;
    const bool bNetwork = appPreferences::PostponeOffsiteMetered;
    if (bBattery == g_bBattery && bNetwork == g_bNetwork) return;
    if (!g_pWatcher && (bBattery || bNetwork)) {
        EnsureApplication();
        g_pWatcher = std::make_unique<Watcher>();
        g_pWatcher->OnRelief = g_onRelief;
    }
    if (!g_pWatcher) return;
    const char* pBatterySlot = SLOT(UPowerChanged(QString, QVariantMap, QStringList));
    const char* pNetworkSlot = SLOT(NetworkChanged(QString, QVariantMap, QStringList));
    if (bBattery && !g_bBattery) {
        // Followed before it is read, so that no change falls between the two.
        g_pWatcher->Follow(kUPower, kUPowerPath, pBatterySlot);
        g_pWatcher->Battery = ReadProperty(kUPower, kUPowerPath, "OnBattery").toBool();
    } else if (!bBattery && g_bBattery) {
        g_pWatcher->Unfollow(kUPower, kUPowerPath, pBatterySlot);
        g_pWatcher->Battery = false;
    }
    if (bNetwork && !g_bNetwork) {
        g_pWatcher->Follow(kNetwork, kNetworkPath, pNetworkSlot);
        g_pWatcher->MeteredNow = IsMetered(ReadProperty(kNetwork, kNetworkPath, "Metered"));
    } else if (!bNetwork && g_bNetwork) {
        g_pWatcher->Unfollow(kNetwork, kNetworkPath, pNetworkSlot);
        g_pWatcher->MeteredNow = false;
    }
    g_bBattery = bBattery;
    g_bNetwork = bNetwork;
}

bool OnBattery() { return g_pWatcher && g_bBattery && g_pWatcher->Battery; }

bool Metered() { return g_pWatcher && g_bNetwork && g_pWatcher->MeteredNow; }

void SetOnRelief(std::function<void()> onRelief) {
    g_onRelief = std::move(onRelief);
    if (g_pWatcher) g_pWatcher->OnRelief = g_onRelief;
}

bool TakeRelief() {
    if (!g_pWatcher || !g_pWatcher->Relief) return false;
    g_pWatcher->Relief = false;
    return true;
}

bool Wait(pollfd* fds, int n, int iMs) {
    if (!g_pWatcher) {
        const int r = poll(fds, static_cast<nfds_t>(n), iMs);
        return r >= 0 || errno == EINTR;
    }
    for (int i = 0; i < n; ++i)
        fds[i].revents = 0;
    if (g_pWatcher->Relief) return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(g_pWatcher.get(), &Watcher::Changed, &loop, &QEventLoop::quit);
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
    for (int i = 0; i < n; ++i) {
        if (fds[i].fd < 0) continue;
        const auto type = (fds[i].events & POLLPRI) != 0 ? QSocketNotifier::Exception : QSocketNotifier::Read;
        notifiers.push_back(std::make_unique<QSocketNotifier>(fds[i].fd, type));
        QObject::connect(notifiers.back().get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    }
    timer.start(iMs);
    loop.exec();
    notifiers.clear();
    // What woke the loop, in poll's own terms for the caller.
    const int r = poll(fds, static_cast<nfds_t>(n), 0);
    return r >= 0 || errno == EINTR;
}

void Stop() {
    g_pWatcher.reset();
    g_bBattery = false;
    g_bNetwork = false;
    g_pOwnApp.reset();
}

} // namespace PowerWatch

#include "PowerWatch.moc"
