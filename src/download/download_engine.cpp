#include "download/download_engine.h"

#include <cstdint>
#include <cstring>

bool CManagerEngine::IsLoaded() { return m_manager.IsLoaded(); }

void CManagerEngine::Init() { m_manager.Init(0); }

void CManagerEngine::SetSeedUrl(const std::wstring& seedUrl) { m_manager.SetSeedUrl(seedUrl); }

void CManagerEngine::SetPeerSharing(bool on) {
  const int32_t value = on ? 1 : 0;
  m_manager.SetP2spOption(engine_contract::kOptionPeerSharing, &value, static_cast<int>(sizeof(value)));
}

void CManagerEngine::SetServePaused(bool paused) {
  const int32_t value = paused ? 1 : 0;
  m_manager.SetP2spOption(engine_contract::kOptionServePaused, &value, static_cast<int>(sizeof(value)));
}

void CManagerEngine::SetSpeedCap(uint32_t bytesPerSecond) {
  const int32_t value = static_cast<int32_t>(bytesPerSecond);
  m_manager.SetP2spOption(engine_contract::kOptionDownloadCap, &value, static_cast<int>(sizeof(value)));
}

void CManagerEngine::DiscardOldTargets() {
  const int32_t value = 1;
  m_manager.SetP2spOption(engine_contract::kOptionDiscardOldTarget, &value, static_cast<int>(sizeof(value)));
}

int CManagerEngine::CreateP2SPTask(void* notifyWindow, const std::wstring& url, const std::wstring& path) {
  return m_manager.CreateP2SPTask(notifyWindow, url.c_str(), path.c_str());
}

TaskStatus CManagerEngine::QueryTask(int taskId) {
  unsigned char record[kTaskStatusSize];
  std::memset(record, 0, sizeof record);
  m_manager.QueryTask(taskId, record);
  return engine_contract::DecodeStatus(record);
}

int CManagerEngine::StartTask(int taskId) { return m_manager.StartTask(taskId); }

int CManagerEngine::StopTask(int taskId) { return m_manager.StopTask(taskId); }

void CManagerEngine::RemoveTask(int taskId) { m_manager.RemoveTask(taskId); }

void CManagerEngine::Uninit() { m_manager.Uninit(); }
