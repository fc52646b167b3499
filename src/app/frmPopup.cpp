#include "app/frmPopup.h"

#include "app/RunGuard.h"
#include "support/libErrorHandler.h"

#include <QAction>
#include <QEvent>
#include <QMenu>

frmPopup::frmPopup(QWidget* parent) : QWidget(parent) {
    setObjectName("frmPopup");
    setWindowTitle(tr("Stowline"));
    mnuStowline = new QMenu(tr("Stowline"), this);
    mnuStowline->setObjectName("mnuStowline");
    Schedule = mnuStowline->addAction(tr("Schedule Backup Jobs"));
    Schedule->setObjectName("Schedule");
    Slash2 = mnuStowline->addSeparator();
    Slash2->setObjectName("Slash2");
    Exit = mnuStowline->addAction(tr("Exit Stowline"));
    Exit->setObjectName("Exit");
    connect(Schedule, &QAction::triggered, this, &frmPopup::Schedule_Click);
    connect(Exit, &QAction::triggered, this, &frmPopup::Exit_Click);
}

void frmPopup::Schedule_Click() {
    libErrorHandler::Trap("frmPopup", "Schedule_Click()", [&] {
        if (!isEnabled()) return;
        if (OnSchedule) OnSchedule();
    });
}

void frmPopup::Exit_Click() {
    libErrorHandler::Trap("frmPopup", "Exit_Click()", [&] {
        // Never shut down under a run: the menu is disabled for its duration, and a stale click
        // that slips through is refused here.
        if (!isEnabled() || appSetup::RunGuard::RunInProgress()) return;
        if (OnExit) OnExit();
    });
}

void frmPopup::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        Schedule->setEnabled(isEnabled());
        Exit->setEnabled(isEnabled());
        mnuStowline->setEnabled(isEnabled());
    }
    QWidget::changeEvent(event);
}
