#include "ui/frmOneShot.h"

#include "app/QtHelpers.h"
#include "support/UserInteraction.h"
#include "support/libDates.h"
#include "support/libErrorHandler.h"
#include "support/libStrings.h"

#include <QApplication>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <vector>

using namespace QtHelpers;

namespace {
const char* const kModule = "frmOneShot";
const char* const kDateFormat = "mmm-dd-yyyy HH:mm";

// February always has 28 days here: a one-shot date is picked from a fixed table.
int MonthLength(int iMonth) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (iMonth >= 1 && iMonth <= 12) ? kDays[iMonth - 1] : 31;
}

UpDownSpinner* Spinner(QWidget* pParent, const char* sName) {
    auto* p = new UpDownSpinner(pParent);
    p->setObjectName(sName);
    return p;
}

QLineEdit* ReadOut(QWidget* pParent, const char* sName, bool bReadOnly) {
    auto* p = new QLineEdit(pParent);
    p->setObjectName(sName);
    p->setReadOnly(bReadOnly);
    p->setFixedWidth(56);
    p->setAlignment(Qt::AlignCenter);
    return p;
}
} // namespace

UpDownSpinner::UpDownSpinner(QWidget* pParent) : QAbstractSlider(pParent) {
    setOrientation(Qt::Vertical);
    setFocusPolicy(Qt::NoFocus);
    m_pUp = new QToolButton(this);
    m_pUp->setArrowType(Qt::UpArrow);
    m_pDown = new QToolButton(this);
    m_pDown->setArrowType(Qt::DownArrow);
    for (QToolButton* p : {m_pUp, m_pDown}) {
        p->setAutoRepeat(true);
        p->setFocusPolicy(Qt::NoFocus);
        p->setFixedSize(18, 14);
        p->setIconSize(QSize(8, 8));
    }
    auto* pLay = new QVBoxLayout(this);
    pLay->setContentsMargins(0, 0, 0, 0);
    pLay->setSpacing(0);
    pLay->addWidget(m_pUp);
    pLay->addWidget(m_pDown);
    setFixedSize(18, 28);
    connect(m_pUp, &QToolButton::clicked, this, [this] { triggerAction(SliderSingleStepAdd); });
    connect(m_pDown, &QToolButton::clicked, this, [this] { triggerAction(SliderSingleStepSub); });
}

frmOneShot::frmOneShot(QWidget* pParent) : QDialog(pParent) {
    setObjectName("frmOneShot");
    setModal(true);

    auto* pListLabel = new QLabel(tr("Scheduled one shot backups"), this);
    lstDates = new QListWidget(this);
    lstDates->setObjectName("lstDates");
    lstDates->setSelectionMode(QAbstractItemView::ExtendedSelection);

    vscrMonth = Spinner(this, "vscrMonth");
    vscrDay = Spinner(this, "vscrDay");
    vscrYear = Spinner(this, "vscrYear");
    vscrTime = Spinner(this, "vscrTime");
    txtMonth = ReadOut(this, "txtMonth", true);
    txtDay = ReadOut(this, "txtDay", true);
    txtYear = ReadOut(this, "txtYear", true);
    txtTime = ReadOut(this, "txtTime", false);
    for (QLineEdit* p : {txtMonth, txtDay, txtYear, txtTime})
        p->installEventFilter(this);

    cmdAdd = new QPushButton(tr("&Add"), this);
    cmdAdd->setObjectName("cmdAdd");
    cmdDelete = new QPushButton(tr("&Delete"), this);
    cmdDelete->setObjectName("cmdDelete");
    cmdClear = new QPushButton(tr("&Clear"), this);
    cmdClear->setObjectName("cmdClear");
    cmdOK = new QPushButton(tr("&OK"), this);
    cmdOK->setObjectName("cmdOK");
    cmdCancel = new QPushButton(tr("Cancel"), this);
    cmdCancel->setObjectName("cmdCancel");

    // Date pickers in a row: a label above each read-out with its spinner beside it.
    auto* pPick = new QGridLayout;
    const QString kLabels[4] = {tr("Month"), tr("Day"), tr("Year"), tr("HH:MM")};

    QLineEdit* fields[4] = {txtMonth, txtDay, txtYear, txtTime};
    UpDownSpinner* spins[4] = {vscrMonth, vscrDay, vscrYear, vscrTime};
    for (int i = 0; i < 4; ++i) {
        auto* pLabel = new QLabel(kLabels[i], this);
        pLabel->setBuddy(fields[i]);
        pPick->addWidget(pLabel, 0, i * 2, 1, 2);
        pPick->addWidget(fields[i], 1, i * 2);
        pPick->addWidget(spins[i], 1, i * 2 + 1);
    }
    pPick->setColumnStretch(8, 1);

    auto* pRight = new QVBoxLayout;
    for (QPushButton* p : {cmdAdd, cmdDelete, cmdClear})
        pRight->addWidget(p);
    pRight->addStretch(1);
    pRight->addWidget(cmdOK);
    pRight->addWidget(cmdCancel);

    auto* pLeft = new QVBoxLayout;
    pLeft->addLayout(pPick);
    pLeft->addWidget(pListLabel);
    pLeft->addWidget(lstDates, 1);

    auto* pMain = new QHBoxLayout(this);
    pMain->addLayout(pLeft, 1);
    pMain->addLayout(pRight);
    resize(420, 320);

    connect(vscrMonth, &QAbstractSlider::valueChanged, this, &frmOneShot::vscrMonth_Change);
    connect(vscrDay, &QAbstractSlider::valueChanged, this, &frmOneShot::vscrDay_Change);
    connect(vscrYear, &QAbstractSlider::valueChanged, this, &frmOneShot::vscrYear_Change);
    connect(vscrTime, &QAbstractSlider::valueChanged, this, &frmOneShot::vscrTime_Change);
    connect(cmdAdd, &QPushButton::clicked, this, &frmOneShot::cmdAdd_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &frmOneShot::cmdDelete_Click);
    connect(cmdClear, &QPushButton::clicked, this, &frmOneShot::cmdClear_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmOneShot::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmOneShot::cmdCancel_Click);

    FormLoad();
}

void frmOneShot::FormLoad() {
    const double dNow = libDates::Now();
    vscrYear->setRange(libDates::Year(dNow), 2099);
    vscrYear->setValue(libDates::Year(dNow));
    vscrMonth->setRange(1, 12);
    vscrMonth->setValue(libDates::Month(dNow));
    vscrDay->setValue(libDates::Day(dNow));
    vscrTime->setRange(0, 1440);
    vscrTime->setSingleStep(1);
    vscrTime->setPageStep(15);
    // Whole minutes of the present time of day (a hair added so that 12:00 is not 11:59).
    vscrTime->setValue(static_cast<int>(std::floor(libDates::TimeValue(dNow) * 1440.0 + 1e-6)));
    // The read-outs follow every change; write them once even where a value did not move.
    vscrMonth_Change();
    vscrDay_Change();
    vscrYear_Change();
    vscrTime_Change();
}

bool frmOneShot::Execute(std::string& sDatesText, const std::string& sJobName, QWidget* pOwner) {
    return libErrorHandler::Trap(kModule, "Execute()", [&] {
        frmOneShot dlg(pOwner);
        dlg.m_sJobName = sJobName;
        dlg.m_bConfirmed = false;
        dlg.lstDates->clear();
        for (const auto& sLine : libStrings::FileList(sDatesText)) {
            double d = 0;
            if (!sLine.empty() && libDates::ParseDateTime(sLine, d)) dlg.AddDate(d, false);
        }
        dlg.setWindowTitle(tr("One shot dates for - %1").arg(Q(sJobName)));
        dlg.exec();
        if (dlg.m_bConfirmed) sDatesText = dlg.m_sResult;
        return dlg.m_bConfirmed;
    });
}

void frmOneShot::vscrMonth_Change() {
    const int iMonth = vscrMonth->value();
    txtMonth->setText(Q(libDates::MonthAbbrev(iMonth)));
    // The control brings a day beyond the new month's end down to that end.
    vscrDay->setRange(1, MonthLength(iMonth));
}

void frmOneShot::vscrDay_Change() { txtDay->setText(QString::number(vscrDay->value())); }
void frmOneShot::vscrYear_Change() { txtYear->setText(QString::number(vscrYear->value())); }

void frmOneShot::vscrTime_Change() {
    if (m_bInTimeChange) return;
    m_bInTimeChange = true;
    const int iStep = std::max(1, vscrTime->singleStep());
    const int iPos = (vscrTime->value() / iStep) * iStep;
    vscrTime->setValue(iPos);
    txtTime->setText(Q(libDates::Format(iPos / 1440.0, "hh:mm")));
    m_bInTimeChange = false;
}

bool frmOneShot::txtTime_LostFocus() {
    double d = 0;
    if (libDates::ParseDateTime(S(txtTime->text()), d)) {
        // The parsed hours and minutes, so that "7:5" means 07:05 as it does in the job editor.
        const double dTime = libDates::TimeValue(d);
        const int iPos = libDates::Hour(dTime) * 60 + libDates::Minute(dTime);
        if (vscrTime->value() == iPos)
            vscrTime_Change();
        else
            vscrTime->setValue(iPos);
        return true;
    }
    m_bInTimeCheck = true;
    MsgBox(S(tr("The proper format for the time is military format HH:MM,\r\n  where HH is between 00 and 23,\r\n  "
                "and MM is between 00 and 59")),
           Buttons::OK, Icon::None, S(tr("Verification Error")));
    // Back to the field once the focus change that led here has finished.
    QTimer::singleShot(0, this, [this] {
        txtTime->setFocus();
        m_bInTimeCheck = false;
    });
    return false;
}

bool frmOneShot::eventFilter(QObject* pWatched, QEvent* pEvent) {
    UpDownSpinner* pSpin = nullptr;
    if (pWatched == txtMonth) pSpin = vscrMonth;
    if (pWatched == txtDay) pSpin = vscrDay;
    if (pWatched == txtYear) pSpin = vscrYear;
    if (pWatched == txtTime) pSpin = vscrTime;
    if (pSpin && pEvent->type() == QEvent::KeyPress) {
        const QString sKey = static_cast<QKeyEvent*>(pEvent)->text();
        if (sKey == "+" || sKey == "-") {
            if (sKey == "+" && pSpin->value() < pSpin->maximum()) pSpin->setValue(pSpin->value() + 1);
            if (sKey == "-" && pSpin->value() > pSpin->minimum()) pSpin->setValue(pSpin->value() - 1);
            return true;
        }
    }
    if (pWatched == txtTime && pEvent->type() == QEvent::FocusOut && !m_bInTimeCheck) {
        const auto reason = static_cast<QFocusEvent*>(pEvent)->reason();
        // Leaving for Cancel, or the window losing focus to a message box, is not leaving the field.
        QWidget* pNext = QApplication::focusWidget();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && pNext != cmdCancel)
            txtTime_LostFocus();
    }
    return QDialog::eventFilter(pWatched, pEvent);
}

double frmOneShot::SelectedDate() const {
    return libDates::DateSerial(vscrYear->value(), vscrMonth->value(), vscrDay->value());
}

void frmOneShot::AddDate(double dDateTime, bool bSelectIt) {
    const std::string sText = libDates::Format(dDateTime, kDateFormat);
    int iPos = lstDates->count();
    for (int i = 0; i < lstDates->count(); ++i) {
        const std::string sEntry = S(lstDates->item(i)->text());
        if (sEntry == sText) {
            iPos = -1;
            break;
        }
        double dEntry = 0;
        if (libDates::ParseDateTime(sEntry, dEntry) && dEntry > dDateTime) {
            iPos = i;
            break;
        }
    }
    if (iPos < 0) return;
    lstDates->insertItem(iPos, Q(sText));
    if (bSelectIt) {
        lstDates->clearSelection();
        lstDates->item(iPos)->setSelected(true);
        lstDates->setCurrentRow(iPos, QItemSelectionModel::NoUpdate);
    }
}

void frmOneShot::cmdAdd_Click() {
    libErrorHandler::Trap(kModule, "cmdAdd_Click()", [&] {
        const double d = SelectedDate();
        if (d < libDates::Now() - 1.0) {
            MsgBox(S(tr("This date is in the past, please try again.")), Buttons::OK, Icon::Information,
                   S(tr("Verification Error")));
            return;
        }
        double dTime = 0;
        double dParsed = 0;
        if (libDates::ParseDateTime(S(txtTime->text()), dParsed))
            dTime = libDates::TimeValue(dParsed);
        else
            dTime = (vscrTime->value() % 1440) / 1440.0;
        AddDate(d + dTime, true);
    });
}

void frmOneShot::cmdDelete_Click() {
    libErrorHandler::Trap(kModule, "cmdDelete_Click()", [&] {
        const int iRemembered = lstDates->currentRow();
        if (!lstDates->selectedItems().isEmpty()) {
            for (int i = lstDates->count() - 1; i >= 0; --i)
                if (lstDates->item(i)->isSelected()) delete lstDates->takeItem(i);
        }
        if (iRemembered >= 0 && lstDates->count() > 0) {
            const int iRow = std::min(iRemembered, lstDates->count() - 1);
            lstDates->clearSelection();
            lstDates->setCurrentRow(iRow);
            lstDates->item(iRow)->setSelected(true);
        }
    });
}

void frmOneShot::cmdClear_Click() { lstDates->clear(); }

std::string frmOneShot::ListText() const {
    std::string sText;
    for (int i = 0; i < lstDates->count(); ++i)
        sText += S(lstDates->item(i)->text()) + "\r\n";
    return sText;
}

void frmOneShot::cmdOK_Click() {
    m_sResult = ListText();
    m_bConfirmed = true;
    accept();
}

void frmOneShot::cmdCancel_Click() { reject(); }
