// The main window's progress bar: shown beside the status line while a run, restore or verify
// goes on, hidden otherwise.

#include "ui/frmSchedule.h"

#include "app/QtHelpers.h"
#include "support/libStrings.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

#include <algorithm>

using QtHelpers::Q;

void frmSchedule::BuildProgressPanel() {
    prgRun = new QProgressBar(sbarSchedule);
    prgRun->setObjectName("prgRun");
    prgRun->setRange(0, 100);
    prgRun->setFormat("%p %");
    prgRun->setMaximumWidth(160);
    prgRun->hide();
    panProgress = new QLabel(sbarSchedule);
    panProgress->setObjectName("panProgress");
    panProgress->setTextFormat(Qt::PlainText);
    panProgress->hide();
    sbarSchedule->addPermanentWidget(prgRun);
    sbarSchedule->addPermanentWidget(panProgress);
}

void frmSchedule::ShowProgress(const RunProgress::View* pView) {
    if (prgRun == nullptr) return;
    if (pView == nullptr) {
        prgRun->hide();
        panProgress->hide();
        panProgress->clear();
        return;
    }
    const RunProgress::View& view = *pView;
    QString sText;
    if (view.Percent < 0) {
        prgRun->setRange(0, 0); // no total yet: the bar only shows that work goes on
        sText = tr("%1 files (%2) done, counting...")
                    .arg(view.DoneFiles)
                    .arg(Q(libStrings::SizeText(static_cast<double>(view.DoneBytes))));
    } else {
        prgRun->setRange(0, 100);
        prgRun->setValue(view.Percent);
        sText = tr("%1 of %2 files").arg(view.DoneFiles).arg(std::max(view.TotalFiles, view.DoneFiles));
        if (view.Rate > 0) sText += ", " + Q(RunProgress::RateText(view.Rate));
        const std::string sLeft = RunProgress::TimeLeftText(view.SecondsLeft);
        if (!sLeft.empty()) sText += ", " + Q(sLeft);
    }
    panProgress->setText(sText);
    prgRun->show();
    panProgress->show();
}
