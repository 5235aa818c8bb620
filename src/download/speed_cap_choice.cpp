#include "download/speed_cap_choice.h"

#include <algorithm>
#include <iterator>

const wchar_t* SpeedCapChoiceText(size_t index) {
  static const wchar_t* const kTexts[kSpeedCapChoiceCount] = {L"不限速", L"512KB/s", L"1MB/s", L"2MB/s", L"5MB/s"};
  return index < kSpeedCapChoiceCount ? kTexts[index] : L"";
}

void CSpeedCapChoice::Apply() {
  m_playerCap = m_resume.LoadSpeedCap();
  // A value the menu does not offer (edited by hand) is no cap, as the menu shows.
  if (std::find(std::begin(kSpeedCapChoices), std::end(kSpeedCapChoices), m_playerCap) == std::end(kSpeedCapChoices))
    m_playerCap = 0;
  Tell();
}

size_t CSpeedCapChoice::ChosenIndex() const {
  for (size_t i = 0; i < kSpeedCapChoiceCount; ++i)
    if (kSpeedCapChoices[i] == m_playerCap) return i;
  return 0;
}

void CSpeedCapChoice::Choose(size_t index) {
  if (index >= kSpeedCapChoiceCount) return;
  m_playerCap = kSpeedCapChoices[index];
  m_resume.SaveSpeedCap(m_playerCap);
  Tell();
}

void CSpeedCapChoice::OnFullScreen(uint64_t speed, bool fullScreen) {
  if (!fullScreen) {
    // What it ran at before a game starts: the last few seconds without one.
    m_speeds[m_speedCount++ % kSpeedSamples] = speed;
    if (m_yieldCap != 0) {
      m_yieldCap = 0;
      Tell();
    }
    return;
  }
  if (m_yieldCap != 0) return;
  uint64_t sum = 0;
  const size_t n = std::min(m_speedCount, kSpeedSamples);
  for (size_t i = 0; i < n; ++i) sum += m_speeds[i];
  const uint64_t before = n ? sum / n : 0;
  m_yieldCap = static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(before / kYieldShare, kYieldFloor), 0x7FFFFFFF));
  m_speedCount = 0;
  Tell();
}

void CSpeedCapChoice::Tell() {
  uint32_t cap = m_playerCap;
  if (m_yieldCap != 0) cap = cap == 0 ? m_yieldCap : std::min(cap, m_yieldCap);
  if (m_toldOnce && cap == m_told) return;
  m_toldOnce = true;
  m_told = cap;
  m_engine.SetSpeedCap(cap);
}
