#include "app/DesktopNotify.h"

#include "app/QtHelpers.h"

#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>

namespace DesktopNotify {

bool Send(const std::string& sTitle, const std::string& sText, bool bCritical) {
    // Without a session bus there is no service to reach, and notify-send would only complain.
    const char* sBus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!sBus || !*sBus) return false;
    const QString sProgram = QStandardPaths::findExecutable("notify-send");
    if (sProgram.isEmpty()) return false;
    return QProcess::startDetached(sProgram, {"--app-name=Stowline", "--urgency", bCritical ? "critical" : "normal",
                                              QtHelpers::Q(sTitle), QtHelpers::Q(sText)});
}

} // namespace DesktopNotify
