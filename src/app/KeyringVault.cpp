#include "app/KeyringVault.h"

#include "app/QtHelpers.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <qt6keychain/keychain.h>
#include <string>

using PasswordVault::Result;
using PasswordVault::Status;
using QtHelpers::Q;
using QtHelpers::S;

namespace {
std::string ReasonOf(QKeychain::Error error, const QString& sText) {
    if (!sText.isEmpty()) return S(sText);
    switch (error) {
    case QKeychain::AccessDeniedByUser:
        return "access was refused";
    case QKeychain::AccessDenied:
        return "access was denied";
    case QKeychain::NoBackendAvailable:
        return "no keyring service is available";
    default:
        return "the keyring reported an error";
    }
}
} // namespace

KeyringVault::KeyringVault(int iTimeoutMs) : m_iTimeoutMs(iTimeoutMs) {}

KeyringVault::~KeyringVault() = default;

bool KeyringVault::Ready(std::string& sReason) {
    if (QCoreApplication::instance() == nullptr) m_pOwnApp = QtHelpers::MakeCoreApplication();
    // The jobs' answers arrive through the application's event loop, on its thread.
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        sReason = "the keyring can only be asked from the program's main thread";
        return false;
    }
    return true;
}

Result KeyringVault::Wait(QKeychain::Job* pJob, bool bRead) {
    pJob->setAutoDelete(true);
    // Never a plain-text file in place of the keyring.
    pJob->setInsecureFallback(false);
    bool bFinished = false;
    QKeychain::Error error = QKeychain::NoError;
    QString sError;
    QString sData;
    QEventLoop loop;
    // The loop is the connection's context: a job that answers after the wait was given up
    // reaches nothing of this call.
    QObject::connect(pJob, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* pDone) {
        bFinished = true;
        error = pDone->error();
        sError = pDone->errorString();
        if (bRead && error == QKeychain::NoError) sData = static_cast<QKeychain::ReadPasswordJob*>(pDone)->textData();
        loop.quit();
    });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    pJob->start();
    timer.start(m_iTimeoutMs);
    if (!bFinished) loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!bFinished)
        return Result{Status::Unreachable, "", "no answer within " + std::to_string(m_iTimeoutMs / 1000) + " s"};
    if (error == QKeychain::NoError) return Result{Status::Found, S(sData), ""};
    if (error == QKeychain::EntryNotFound) return Result{Status::NotFound, "", ""};
    return Result{Status::Unreachable, "", ReasonOf(error, sError)};
}

Result KeyringVault::Read(const std::string& sJobName) {
    std::string sReason;
    if (!Ready(sReason)) return Result{Status::Unreachable, "", sReason};
    auto* pJob = new QKeychain::ReadPasswordJob(ServiceName());
    pJob->setKey(Q(sJobName));
    return Wait(pJob, true);
}

Result KeyringVault::Write(const std::string& sJobName, const std::string& sPassword) {
    std::string sReason;
    if (!Ready(sReason)) return Result{Status::Unreachable, "", sReason};
    auto* pJob = new QKeychain::WritePasswordJob(ServiceName());
    pJob->setKey(Q(sJobName));
    pJob->setTextData(Q(sPassword));
    return Wait(pJob, false);
}

Result KeyringVault::Remove(const std::string& sJobName) {
    std::string sReason;
    if (!Ready(sReason)) return Result{Status::Unreachable, "", sReason};
    auto* pJob = new QKeychain::DeletePasswordJob(ServiceName());
    pJob->setKey(Q(sJobName));
    return Wait(pJob, false);
}
