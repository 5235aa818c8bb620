#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/config_parse.h"
#include "config/game_file_entry.h"
#include "net/http_download.h"

// Init result codes.
enum InitResult : int {
  INIT_CONFIG_NOT_FETCHED = 0,
  INIT_KEY_MISSING = 1,
  INIT_SKIN_NOT_FETCHED = 2,
  INIT_ALL_FETCHED = 5,
};

// Which file is being fetched, as reported to the init listener.
enum ConfigDownload : int { CONFIG_DOWNLOAD_NONE = 0, CONFIG_DOWNLOAD_FILE = 1, CONFIG_DOWNLOAD_SKIN = 2 };

// The game's configuration: fetched from the download server under the game
// key, parsed, and then read by every other part of the program.
class CDownloaderConfig : public IHttpDownloadCallback {
 public:
  class IConfigInitCallback {
   public:
    virtual int OnConfigProgress(uint32_t sofar, uint32_t total, int code, int whichFile) = 0;

   protected:
    ~IConfigInitCallback() = default;
  };

  CDownloaderConfig();
  virtual ~CDownloaderConfig() = default;
  CDownloaderConfig(const CDownloaderConfig&) = delete;
  CDownloaderConfig& operator=(const CDownloaderConfig&) = delete;

  int OnHttpEvent(uint32_t sofar, uint32_t total, int code) override;

  // Fetches and parses everything; blocks. A null listener keeps the one of
  // an earlier call.
  int Initialize(IConfigInitCallback* listener);

  std::wstring GetGameKey() const { return m_gameKey; }
  std::wstring GetVersion();
  std::wstring GetGameName() const { return m_values.gameName; }
  std::wstring GetSeedUrl() const { return m_values.seedUrl; }
  std::wstring GetGameVersion() const { return m_values.gameVersion; }
  std::wstring GetGardBoxInstallTip() const { return m_values.companionInstallTip; }
  std::wstring GetCancelDownloadTips() const { return m_values.cancelDownloadTips; }
  std::wstring GetTextPromotionTitle() const { return m_values.textPromotionTitle; }
  std::wstring GetTextPromotionLink() const { return m_values.textPromotionLink; }
  std::wstring GetSkinLink() const { return m_values.skinLink; }
  std::wstring GetNewVersion() const { return m_values.newVersion; }
  std::wstring GetNewVersionDownloaderLink() const { return m_values.newVersionDownloaderLink; }
  std::wstring GetEmbedLink2() const { return m_values.embedLink2; }
  std::wstring GetGameStart() const { return m_values.gameStart; }
  std::wstring GetGardboxDownloaderLink() const { return m_values.companionLink; }
  std::wstring GetCompanionMd5() const { return m_values.companionMd5; }
  // Players may share this game's files with each other unless the
  // configuration says PeerSharing=0.
  bool IsPeerSharingAllowed() const { return m_values.peerSharing != L"0"; }
  std::wstring GetSafecheck() const { return m_values.safecheck; }
  std::wstring GetDomainName() const { return m_values.domainName; }
  std::vector<GameFileEntry> GetFileList() const { return m_values.files; }
  std::wstring GetSkinPath();
  std::wstring GetEngineLibraryPath() const { return m_engineLibraryPath; }
  std::wstring GetIdentityLibraryPath() const { return m_identityLibraryPath; }

  // Where the configuration is fetched from, and where it lands meanwhile.
  std::wstring GetConfigUrl();
  std::wstring GetConfigFilePath();

 private:
  bool FetchFile(const std::wstring& url, const std::wstring& path, int whichFile, uint32_t maxAgeSeconds);
  bool ParseConfigFile();

  IConfigInitCallback* m_listener = nullptr;
  CHttpDownload m_http;
  std::wstring m_configUrl;
  std::wstring m_skinPath;
  std::wstring m_configFilePath;
  std::wstring m_version;
  std::wstring m_gameKey;
  std::wstring m_engineLibraryPath;
  std::wstring m_identityLibraryPath;
  int m_currentDownload = CONFIG_DOWNLOAD_NONE;
  ConfigValues m_values;
};

// The one configuration object of the process.
CDownloaderConfig& DownloaderConfig();

// The initialization window's message: wParam the bar's position with
// kInitNotifyProgress, the InitResult with kInitNotifyFinished.
constexpr unsigned kInitNotifyMessage = 2024;  // WM_USER + 1000
constexpr intptr_t kInitNotifyProgress = 5;
constexpr intptr_t kInitNotifyFinished = 6;

// Sends the initialization window its progress.
class CallBack : public CDownloaderConfig::IConfigInitCallback {
 public:
  explicit CallBack(void* hwnd) : m_hwnd(hwnd) {}
  int OnConfigProgress(uint32_t sofar, uint32_t total, int code, int whichFile) override;

 private:
  void* m_hwnd;
};

// Progress bar position for one progress event: 0..20 for the configuration
// file, 20..40 for the skin picture; -1 when the event moves nothing.
int InitProgressPosition(uint32_t sofar, uint32_t total, int code, int whichFile);

constexpr uint32_t kSkinMaxAgeSeconds = 172800;  // 48 hours
constexpr uint32_t kMaxConfigBytes = 1u << 20;  // a larger body fails like a broken connection
constexpr uint32_t kMaxSkinBytes = 8u << 20;
