#include "app/libForms.h"

#include "support/StowError.h"
#include "support/libErrorHandler.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace libForms {

namespace {

bool ParseInteger(const std::string& sField, int& iValue) {
    size_t b = sField.find_first_not_of(" \t");
    size_t e = sField.find_last_not_of(" \t");
    if (b == std::string::npos) return false;
    std::string s = sField.substr(b, e - b + 1);
    size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (i >= s.size()) return false;
    for (size_t k = i; k < s.size(); ++k)
        if (s[k] < '0' || s[k] > '9') return false;
    errno = 0;
    long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    iValue = static_cast<int>(v);
    return true;
}

QScreen* ScreenOf(const QWidget* pForm) {
    QScreen* s = pForm ? pForm->screen() : nullptr;
    return s ? s : QGuiApplication::primaryScreen();
}

} // namespace

std::string FormatPlacement(const WindowPlacement& wp) {
    const int v[9] = {wp.ShowCmd, wp.MaxX, wp.MaxY, wp.MinX, wp.MinY, wp.Left, wp.Top, wp.Right, wp.Bottom};
    std::string s;
    for (int i = 0; i < 9; ++i) {
        if (i) s += ',';
        s += std::to_string(v[i]);
    }
    return s;
}

bool ParsePlacement(const std::string& sText, WindowPlacement& wp) {
    if (sText.empty()) return false;
    std::vector<int> values;
    size_t start = 0;
    for (;;) {
        size_t comma = sText.find(',', start);
        std::string field = sText.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        int v = 0;
        if (!ParseInteger(field, v)) return false;
        values.push_back(v);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (values.size() != 9) return false;
    WindowPlacement out;
    out.ShowCmd = values[0] == 2 ? 1 : values[0];
    out.MaxX = values[1];
    out.MaxY = values[2];
    out.MinX = values[3];
    out.MinY = values[4];
    out.Left = values[5];
    out.Top = values[6];
    out.Right = values[7];
    out.Bottom = values[8];
    out.Flags = out.MinX != -1 ? 1 : 0;
    wp = out;
    return true;
}

WindowPlacement ReadPlacement(const QWidget* pForm) {
    WindowPlacement wp;
    if (pForm->isMinimized())
        wp.ShowCmd = 2;
    else if (pForm->isMaximized())
        wp.ShowCmd = 3;
    else
        wp.ShowCmd = 1;
    QRect r = pForm->normalGeometry();
    if (!r.isValid()) r = pForm->geometry();
    wp.Left = r.x();
    wp.Top = r.y();
    wp.Right = r.x() + r.width();
    wp.Bottom = r.y() + r.height();
    return wp;
}

void ApplyPlacement(QWidget* pForm, const WindowPlacement& wp) {
    if (!pForm) return;
    QRect r(wp.Left, wp.Top, std::max(0, wp.Right - wp.Left), std::max(0, wp.Bottom - wp.Top));
    // A placement saved on a screen that is gone would put the window out of reach: like the
    // platform's own placement call, bring it back onto the nearest screen.
    bool bOnScreen = false;
    for (QScreen* s : QGuiApplication::screens())
        if (s->availableGeometry().intersects(r)) bOnScreen = true;
    if (!bOnScreen) {
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            QRect avail = s->availableGeometry();
            r.moveTopLeft(avail.topLeft());
        }
    }
    Qt::WindowStates states = pForm->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (pForm->isMaximized() || pForm->isMinimized()) pForm->setWindowState(states);
    pForm->setGeometry(r.x(), r.y(), std::max(r.width(), pForm->minimumWidth()),
                       std::max(r.height(), pForm->minimumHeight()));
    if (wp.ShowCmd == 3) pForm->setWindowState(states | Qt::WindowMaximized);
    // The placement call shows a hidden window in the stored state; here the caller decides
    // when the window appears (start-up hides it again at once).
}

void CenterForm(QWidget* pForm) {
    libErrorHandler::Trap("libForms", "CenterForm()", [&] {
        if (!pForm) return;
        QScreen* s = ScreenOf(pForm);
        if (!s) return;
        QRect screen = s->geometry();
        QSize form = pForm->frameGeometry().size();
        if (!pForm->isVisible()) form = pForm->size();
        int iTopTw = (PixelsToTwips(screen.height()) - PixelsToTwips(form.height())) / 2;
        int iLeftTw = (PixelsToTwips(screen.width()) - PixelsToTwips(form.width())) / 2;
        pForm->move(screen.x() + TwipsToPixels(iLeftTw), screen.y() + TwipsToPixels(iTopTw));
    });
}

std::string GetFormPlacement(const QWidget* pForm) {
    if (!pForm) return "";
    return FormatPlacement(ReadPlacement(pForm));
}

void SetFormPlacement(QWidget* pForm, const std::string& sText) {
    libErrorHandler::Trap("libForms", "SetFormPlacement()", [&] {
        WindowPlacement wp;
        if (!pForm || !ParsePlacement(sText, wp)) return;
        ApplyPlacement(pForm, wp);
    });
}

} // namespace libForms
