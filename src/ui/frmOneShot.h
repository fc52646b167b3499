#pragma once
// The one-shot dates editor: a sorted list of date-times ("mmm-dd-yyyy HH:mm") at which a job
// runs once besides its recurring schedule.

#include <QAbstractSlider>
#include <QDialog>

#include <string>

class QLineEdit;
class QListWidget;
class QPushButton;
class QToolButton;

// A small up-down spinner beside a read-out field: the up arrow raises the value, the down arrow
// lowers it (both repeat while held), as do the Up and Down keys and the mouse wheel.
class UpDownSpinner : public QAbstractSlider {
public:
    explicit UpDownSpinner(QWidget* pParent = nullptr);
    QToolButton* UpArrow() const { return m_pUp; }

private:
    QToolButton* m_pUp;
    QToolButton* m_pDown;
};

class frmOneShot : public QDialog {
    Q_OBJECT
public:
    explicit frmOneShot(QWidget* pParent = nullptr);

    // Shows the editor modally. True after OK: sDatesText then holds the edited list (each line
    // followed by CR LF). False after Cancel: sDatesText is unchanged.
    static bool Execute(std::string& sDatesText, const std::string& sJobName, QWidget* pOwner = nullptr);
    // Inserts one date-time in order; equal texts are kept once.
    void AddDate(double dDateTime, bool bSelectIt);
    // The date (midnight) of the month, day and year spinners.
    double SelectedDate() const;
    // The list as it would be written back: every entry followed by CR LF.
    std::string ListText() const;

    QListWidget* lstDates;
    UpDownSpinner* vscrMonth;
    UpDownSpinner* vscrDay;
    UpDownSpinner* vscrYear;
    UpDownSpinner* vscrTime;
    QLineEdit* txtMonth;
    QLineEdit* txtDay;
    QLineEdit* txtYear;
    QLineEdit* txtTime;
    QPushButton* cmdAdd;
    QPushButton* cmdDelete;
    QPushButton* cmdClear;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

public slots:
    void cmdAdd_Click();
    void cmdDelete_Click();
    void cmdClear_Click();
    void cmdOK_Click();
    void cmdCancel_Click();
    void vscrMonth_Change();
    void vscrDay_Change();
    void vscrYear_Change();
    void vscrTime_Change();
    // Checks the typed time and moves the time spinner to it. True when the text was accepted.
    bool txtTime_LostFocus();

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void FormLoad();

    std::string m_sJobName;
    std::string m_sResult;
    bool m_bConfirmed = false;
    bool m_bInTimeChange = false;
    bool m_bInTimeCheck = false;
};
