#pragma once

// A folder of its own under the system's temporary folder for one test,
// removed with everything in it when the test ends (also when it failed
// half-way).
#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "gd-test") {
    static std::atomic<unsigned> made{0};
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string name = prefix + "-" + std::to_string(random()) + "-" + std::to_string(made++);
      std::error_code ec;
      m_path = std::filesystem::temp_directory_path(ec) / name;
      if (!ec && std::filesystem::create_directory(m_path, ec) && !ec) return;
    }
    m_path.clear();
  }
  ~TempFolder() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Empty when no folder could be made.
  const std::filesystem::path& Path() const { return m_path; }
  // The folder as the program keeps folders: ending in a separator.
  std::wstring Dir() const { return m_path.empty() ? std::wstring() : (m_path / L"").wstring(); }
  std::wstring File(const std::wstring& name) const { return (m_path / name).wstring(); }

 private:
  std::filesystem::path m_path;
};
