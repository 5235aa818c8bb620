#pragma once

#include <string>

#include "state/resume_state.h"

// The resume file as the private-profile functions read and write it, in the
// section "Wavepull".
class CProfileResumeStore : public IResumeStore {
 public:
  explicit CProfileResumeStore(std::wstring path) : m_path(std::move(path)) {}

  bool Exists() override;
  // The new file starts with a UTF-16 byte-order mark, so that the profile
  // functions keep a directory name in any script as it is.
  void Reset() override;
  std::wstring Read(const wchar_t* key, const wchar_t* defaultValue, size_t maxChars, bool* tooLong) override;
  void Write(const wchar_t* key, const std::wstring& value) override;

  const std::wstring& Path() const { return m_path; }

 private:
  std::wstring m_path;
};

// Temporary folder + game key + ".tmp.cfg"; empty when the temporary folder
// is unknown, and nothing is then read or written.
std::wstring GetResumeFilePath(const std::wstring& gameKey);

// The game's resume file (made where the process objects are, with the game
// key), for the whole process.
CResumeState& ResumeState();
