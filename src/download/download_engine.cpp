#include "download/download_engine.h"

#include <cstring>

namespace {

template <typename T>
T ReadLittle(const unsigned char* at) {
  T value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<T>(at[i]) << (8 * i));
  return value;
}

}  // namespace

TaskStatus ParseTaskStatus(const unsigned char* record) {
  TaskStatus status;
  status.total = ReadLittle<uint64_t>(record + kTaskStatusTotalOffset);
  status.downloaded = ReadLittle<uint64_t>(record + kTaskStatusDownloadedOffset);
  status.speed1 = ReadLittle<uint32_t>(record + kTaskStatusSpeed1Offset);
  status.speed2 = ReadLittle<uint32_t>(record + kTaskStatusSpeed2Offset);
  status.state = record[kTaskStatusStateOffset];
  return status;
}

bool CManagerEngine::IsLoaded() { return m_manager.IsLoaded(); }

void CManagerEngine::Init() { m_manager.Init(0); }

void CManagerEngine::SetSeedUrl(const std::wstring& seedUrl) { m_manager.SetSeedUrl(seedUrl); }

int CManagerEngine::CreateP2SPTask(void* notifyWindow, const std::wstring& url, const std::wstring& path) {
  return m_manager.CreateP2SPTask(notifyWindow, url.c_str(), path.c_str());
}

TaskStatus CManagerEngine::QueryTask(int taskId) {
  unsigned char record[kTaskStatusSize];
  std::memset(record, 0, sizeof record);
  m_manager.QueryTask(taskId, record);
  return ParseTaskStatus(record);
}

int CManagerEngine::StartTask(int taskId) { return m_manager.StartTask(taskId); }

int CManagerEngine::StopTask(int taskId) { return m_manager.StopTask(taskId); }

void CManagerEngine::RemoveTask(int taskId) { m_manager.RemoveTask(taskId); }

void CManagerEngine::Uninit() { m_manager.Uninit(); }
