#pragma once
// The hidden window that owns the tray menu: one menu "Stowline" with
// "Schedule Backup Jobs", a separator and "Exit Stowline".

#include <QWidget>
#include <functional>

class QAction;
class QMenu;

class frmPopup : public QWidget {
    Q_OBJECT
public:
    explicit frmPopup(QWidget* parent = nullptr);

    // The tray menu (caption "Stowline"); its entries are the actions below.
    QMenu* mnuStowline = nullptr;
    QAction* Schedule = nullptr; // "Schedule Backup Jobs"
    QAction* Slash2 = nullptr;   // separator
    QAction* Exit = nullptr;     // "Exit Stowline"

    // What the entries do; set by start-up.
    std::function<void()> OnSchedule;
    std::function<void()> OnExit;

public slots:
    void Schedule_Click();
    void Exit_Click();

protected:
    // Disabling this window disables its menu commands as well (the menu is a window of its own).
    void changeEvent(QEvent* event) override;
};
