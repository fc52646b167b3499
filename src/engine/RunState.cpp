#include "engine/RunState.h"

#include "engine/BackupRunOwner.h"
#include "support/UserInteraction.h"
#include "support/libStrings.h"

namespace {
bool g_bAbortRequested = false;
BackupRunOwner* g_pOwner = nullptr;

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

bool AbortRequested() { return g_bAbortRequested; }
void SetAbortRequested(bool bValue) { g_bAbortRequested = bValue; }

BackupRunOwner* Owner() { return g_pOwner; }
void SetOwner(BackupRunOwner* pOwner) { g_pOwner = pOwner; }

OwnerScope::OwnerScope(BackupRunOwner* pOwner) : m_pPrevious(g_pOwner) { g_pOwner = pOwner; }
OwnerScope::~OwnerScope() { g_pOwner = m_pPrevious; }

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
