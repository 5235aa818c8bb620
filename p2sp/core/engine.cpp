#include "engine.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>

#include "speed_cap.h"
#include "text.h"

namespace p2sp {
namespace {

void CurlGlobalInit() {
  static bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  (void)done;
}

}  // namespace

Engine::Engine() : m_hub(std::make_shared<SharingHub>()) {
  m_options.speedCap = std::make_shared<SpeedCap>();
  // Tests keep every socket of sharing on one address (loopback).
  if (const char* address = std::getenv("P2SP_SHARE_ADDRESS")) m_sharing.address = address;
  m_hub->Configure(m_sharing);
}

Engine::~Engine() { Uninit(); }

void Engine::Init() { CurlGlobalInit(); }

void Engine::Uninit() {
  std::vector<std::shared_ptr<DownloadTask>> all;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& t : m_tasks) all.push_back(t.second);
    for (auto& t : m_removed) all.push_back(t);
    m_removed.clear();
  }
  for (auto& t : all) t->Stop();
  for (auto& t : all) t->Join();
  m_hub->Shutdown();
}

void Engine::SetOption(int option, const void* value, int bytes) {
  if (!value || bytes < 0) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  const uint8_t* p = static_cast<const uint8_t*>(value);
  if (option == kOptionSeedUrl) {
    m_options.seedUrl = engine_contract::DecodeOptionText(p, bytes);
    return;
  }
  if (option == kOptionShareAddress) {
    m_sharing.address = engine_contract::DecodeOptionText(p, bytes);
    m_hub->Configure(m_sharing);
    return;
  }
  if (bytes < 4) return;
  int32_t v;
  std::memcpy(&v, value, 4);
  if (option == kOptionMaxConnections && v >= 1) m_options.maxConnections = v > 16 ? 16 : v;
  if (option == kOptionStallSeconds && v >= 1) m_options.stallSeconds = v;
  if (option == kOptionRetries && v >= 0) m_options.retries = v;
  if (option == kOptionPeerSharing && (v == 0 || v == 1)) m_sharing.share = v == 1;
  if (option == kOptionUploadCap && v >= 0) m_sharing.uploadBytesPerSecond = static_cast<uint32_t>(v);
  if (option == kOptionMaxPeersServed && v >= 1) m_sharing.maxPeersServed = v > 16 ? 16 : v;
  if (option == kOptionServePaused && (v == 0 || v == 1)) m_sharing.paused = v == 1;
  if (option == kOptionDiscardOldTarget && (v == 0 || v == 1)) {
    m_options.discardOldTarget = v == 1;
    return;
  }
  if (option == kOptionDownloadCap && v >= 0) {
    m_options.speedCap->SetRate(static_cast<uint64_t>(v), SpeedCap::NowMs());
    return;
  }
  m_hub->Configure(m_sharing);
}

SharingOptions Engine::Sharing() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_sharing;
}

TaskOptions Engine::Options() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_options;
}

int Engine::CreateTask(const std::string& link, const std::string& target) {
  CurlGlobalInit();
  std::lock_guard<std::mutex> lock(m_mutex);
  int id = m_nextId++;
  m_tasks[id] = std::make_shared<DownloadTask>(link, target, m_options, m_hub);
  return id;
}

std::shared_ptr<DownloadTask> Engine::Find(int id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_tasks.find(id);
  return it == m_tasks.end() ? nullptr : it->second;
}

int Engine::StartTask(int id) {
  auto task = Find(id);
  if (!task) return 0;
  return task->Start() ? 1 : 0;
}

int Engine::StopTask(int id) {
  auto task = Find(id);
  if (!task) return 0;
  return task->Stop() ? 1 : 0;
}

void Engine::RemoveTask(int id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_tasks.find(id);
  if (it == m_tasks.end()) return;
  it->second->Stop();
  m_removed.push_back(it->second);
  m_tasks.erase(it);
}

bool Engine::QueryTask(int id, TaskProgress* status) {
  auto task = Find(id);
  if (!task) return false;
  *status = task->Status();
  status->servedBytes = ServedBytes();
  return true;
}

uint64_t Engine::ServedBytes() const { return m_hub->Served(); }

}  // namespace p2sp
