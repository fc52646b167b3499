#pragma once
// Notifications where no tray icon can show them: the desktop's notification service through
// notify-send (when installed and a session bus exists), started without waiting.

#include <string>

namespace DesktopNotify {

// True when the notification was handed to the service.
bool Send(const std::string& sTitle, const std::string& sText, bool bCritical);

} // namespace DesktopNotify
