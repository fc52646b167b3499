#include "app/ScheduleView.h"

#include <QWidget>

namespace appSetup {

void ScheduleView::ShowSchedule() {
    QWidget* w = Window();
    if (!w) return;
    if (w->isMinimized()) w->setWindowState((w->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    w->show();
    w->raise();
    w->activateWindow();
}

void ScheduleView::MinimiseSchedule() {
    if (QWidget* w = Window()) w->showMinimized();
}

bool ScheduleView::IsVisibleToUser() const {
    const QWidget* w = ConstWindow();
    if (!w || !w->isVisible()) return false;
    if (!HasNotificationArea() && w->isMinimized()) return false;
    return true;
}

void ScheduleView::UnloadSchedule() {
    SetKillForm(true);
    if (QWidget* w = Window()) w->close();
}

} // namespace appSetup

namespace appSetup {

namespace {
ScheduleView* g_pScheduleWindow = nullptr;
bool g_bNotificationArea = false;
} // namespace

ScheduleView* ScheduleWindow() { return g_pScheduleWindow; }
void SetScheduleWindow(ScheduleView* pView) { g_pScheduleWindow = pView; }
bool HasNotificationArea() { return g_bNotificationArea; }
void SetHasNotificationArea(bool bHas) { g_bNotificationArea = bHas; }

} // namespace appSetup
