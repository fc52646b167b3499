#include "app/RunGuard.h"

namespace appSetup {

namespace {
bool g_bRunInProgress = false;
}

RunGuard::RunGuard() : m_bAcquired(!g_bRunInProgress) {
    if (m_bAcquired) g_bRunInProgress = true;
}

RunGuard::~RunGuard() {
    if (m_bAcquired) g_bRunInProgress = false;
}

bool RunGuard::RunInProgress() { return g_bRunInProgress; }

} // namespace appSetup
