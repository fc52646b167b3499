#include "engine/RunState.h"

#include "engine/ArchiveFlags.h"
#include "engine/BackupRunOwner.h"
#include "support/UserInteraction.h"
#include "support/libStrings.h"

#include <atomic>

namespace {
// The engine's process-wide state: the only mutable namespace-scope values of the engine.
// Read by the copy workers' threads too; the stop flag is also set from a signal handler.
std::atomic<bool> g_bAbortRequested = false;
std::atomic<bool> g_bStopRequested = false;
BackupRunOwner* g_pOwner = nullptr;
bool g_bRunning = false;
RunState::ArchiveFlagSlot g_archiveFlags;

void SetLights(BackupRunOwner* pOwner, bool bBusy) {
    if (pOwner == nullptr) return;
    pOwner->SetLight(0, !bBusy);
    pOwner->SetLight(1, bBusy);
    pOwner->SetLight(2, bBusy);
    pOwner->SetLight(3, !bBusy);
    pOwner->Repaint();
    for (int i = 0; i < RunStatus::LightEventRounds; ++i)
        UserInteraction::DoEvents();
}
} // namespace

namespace RunState {

bool AbortRequested() { return g_bAbortRequested || g_bStopRequested; }
void SetAbortRequested(bool bValue) { g_bAbortRequested = bValue; }

bool StopRequested() { return g_bStopRequested; }
void SetStopRequested(bool bValue) { g_bStopRequested = bValue; }

BackupRunOwner* Owner() { return g_pOwner; }
void SetOwner(BackupRunOwner* pOwner) { g_pOwner = pOwner; }

OwnerScope::OwnerScope(BackupRunOwner* pOwner) : m_pPrevious(g_pOwner) { g_pOwner = pOwner; }
OwnerScope::~OwnerScope() { g_pOwner = m_pPrevious; }

RunningScope::RunningScope() : m_bEntered(!g_bRunning) { g_bRunning = true; }
RunningScope::~RunningScope() {
    if (m_bEntered) g_bRunning = false;
}

ArchiveFlagSlot::ArchiveFlagSlot() = default;
ArchiveFlagSlot::~ArchiveFlagSlot() = default;
ArchiveFlagSlot& ArchiveFlagStore() { return g_archiveFlags; }

} // namespace RunState

namespace RunStatus {

void SetLightIdle(BackupRunOwner* pOwner) { SetLights(pOwner, false); }
void SetLightBusy(BackupRunOwner* pOwner) { SetLights(pOwner, true); }

void SetStatusMessage(const std::string& sText, const std::string& sPath) {
    if (g_pOwner != nullptr) g_pOwner->SetMessageText(sText + libStrings::ShortenForDisplay(sPath));
}

void SetMessageText(const std::string& sText) {
    if (g_pOwner != nullptr) g_pOwner->SetMessageText(sText);
}

} // namespace RunStatus
