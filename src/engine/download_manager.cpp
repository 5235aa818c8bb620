#include "engine/download_manager.h"

#include <cstring>

bool EngineEntryPoints::Complete() const {
  return Init && Login && Uninit && CreateP2SPTask && QueryTask && StopSeed && GetFinishMessage && RemoveTask &&
         SetConfigInfo && UpdateRegInfo && SetP2spOption && StartTask && StopTask;
}

CDownloadManager::CDownloadManager(const EngineEntryPoints& entryPoints)
    : m_entry(entryPoints), m_loaded(entryPoints.Complete()) {}

int CDownloadManager::Init(int reserved) {
  if (!m_loaded) return 0;
  m_entry.Init(reserved);
  return 1;
}

int CDownloadManager::Uninit() {
  if (!m_loaded) return 0;
  m_entry.Uninit();
  return 1;
}

int CDownloadManager::SetP2spOption(int option, const void* value, int bytes) {
  if (!m_loaded) return 0;
  m_entry.SetP2spOption(option, value, bytes);
  return 1;
}

int CDownloadManager::SetSeedUrl(const std::wstring& seedUrl) {
  // The engine takes UTF-16 whatever wchar_t is on the host.
  std::u16string units(seedUrl.begin(), seedUrl.end());
  return SetP2spOption(3, units.data(), static_cast<int>(units.size() * sizeof(char16_t)));
}

int CDownloadManager::CreateP2SPTask(void* notifyWindow, const wchar_t* url, const wchar_t* path) {
  if (!m_loaded) return 0;
  return m_entry.CreateP2SPTask(notifyWindow, url, path);
}

int CDownloadManager::QueryTask(int taskId, void* record) {
  std::memset(record, 0, kTaskStatusSize);
  if (!m_loaded) {
    static_cast<uint8_t*>(record)[kTaskStatusStateOffset] = kTaskStateFailedDownload;
    return 0;
  }
  m_entry.QueryTask(taskId, record);
  return 1;
}

int CDownloadManager::RemoveTask(int taskId) {
  if (!m_loaded) return 0;
  m_entry.RemoveTask(taskId);
  return 1;
}

int CDownloadManager::StartTask(int taskId) {
  if (!m_loaded) return 0;
  int result = m_entry.StartTask(taskId);
  if (result == 1 && m_callback) m_callback->OnTaskStateChanged(0);
  return result;
}

int CDownloadManager::StopTask(int taskId) {
  if (!m_loaded) return 0;
  int result = m_entry.StopTask(taskId);
  if (result == 1 && m_callback) m_callback->OnTaskStateChanged(1);
  return result;
}
