#include "engine/download_manager.h"

#include <cstring>

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
  const std::u16string units = engine_contract::EncodeOptionText(seedUrl);
  return SetP2spOption(engine_contract::kOptionSeedUrl, units.data(), engine_contract::OptionTextBytes(units));
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
