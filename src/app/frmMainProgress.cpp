#include "app/frmMainProgress.h"

#include "app/QtHelpers.h"
#include "app/ScheduleView.h"
#include "app/frmMain.h"

#include <QCoreApplication>
#include <QSystemTrayIcon>
#include <QThread>

namespace {

// Runs f on the program's main thread (at once when already there).
template <class F> void OnMainThread(F f) {
    QCoreApplication* pApp = QCoreApplication::instance();
    if (pApp == nullptr) return;
    if (QThread::currentThread() == pApp->thread())
        f();
    else
        QMetaObject::invokeMethod(pApp, std::move(f), Qt::QueuedConnection);
}

void ShowEverywhere(const RunProgress::View* pView) {
    if (appSetup::ScheduleView* pWindow = appSetup::ScheduleWindow()) pWindow->ShowProgress(pView);
    if (frmMain* pAgent = appSetup::AgentWindow()) pAgent->ShowProgressTip(pView);
}

} // namespace

GuiProgress::GuiProgress() { m_scope.emplace(this); }

void GuiProgress::Show(const RunProgress::View& view) {
    OnMainThread([view] { ShowEverywhere(&view); });
}

void GuiProgress::End(const RunProgress::View&) {
    OnMainThread([] { ShowEverywhere(nullptr); });
}

QString frmMain::ProgressTip(const RunProgress::View& view) {
    const QString sJob = QtHelpers::Q(view.Name);
    if (view.Percent < 0) return tr("Stowline - %1: %2 files done").arg(sJob).arg(view.DoneFiles);
    const std::string sLeft = RunProgress::TimeLeftText(view.SecondsLeft);
    if (sLeft.empty()) return tr("Stowline - %1: %2 %").arg(sJob).arg(view.Percent);
    return tr("Stowline - %1: %2 % (%3)").arg(sJob).arg(view.Percent).arg(QtHelpers::Q(sLeft));
}

void frmMain::ShowProgressTip(const RunProgress::View* pView) {
    if (trayIcon == nullptr) return;
    trayIcon->setToolTip(pView != nullptr ? ProgressTip(*pView) : windowTitle());
}
