#pragma once
// Answers the modal dialogs a command opens, in order. Each step receives the dialog that has
// just been shown modally (a dialog shown again counts again); a dialog that appears when no
// step is left is rejected (and counted), so a test can never hang on a window nobody answers.
// Qt only (GUI tests).

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>

class ModalScript : public QObject {
public:
    ModalScript() { qApp->installEventFilter(this); }
    ~ModalScript() override { qApp->removeEventFilter(this); }
    // Adds the next step.
    ModalScript& Then(std::function<void(QWidget*)> step) {
        m_steps.push_back(std::move(step));
        return *this;
    }
    int StepsLeft() const { return static_cast<int>(m_steps.size()); }
    int Unexpected() const { return m_unexpected; }
    int Handled() const { return m_handled; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* w = static_cast<QWidget*>(watched);
            if (w->isWindow() && w->isModal()) {
                QPointer<QWidget> p(w);
                // Acts once the dialog's own event loop runs.
                QTimer::singleShot(0, this, [this, p] {
                    if (p && p->isVisible()) Act(p);
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void Act(QWidget* w) {
        if (m_steps.empty()) {
            ++m_unexpected;
            if (auto* d = qobject_cast<QDialog*>(w))
                d->reject();
            else
                w->close();
            return;
        }
        auto step = std::move(m_steps.front());
        m_steps.pop_front();
        ++m_handled;
        step(w);
    }

    std::deque<std::function<void(QWidget*)>> m_steps;
    int m_unexpected = 0;
    int m_handled = 0;
};
