#pragma once

// The words of a statistics report, in one place: the program builds its
// report URLs from them and gdserver reads, stores and counts reports by
// them. A report is "<page>?action=<action>&..." with the fields below; no
// value is encoded. The server's tests read this file for the same list.
#include <cstddef>

namespace report_words {

// A word spelled once and given both as text and as wide text (the
// program's URLs are wide strings, the server's are not). ASCII only.
template <size_t N>
struct Word {
  char text[N] = {};
  wchar_t wide[N] = {};
  constexpr explicit Word(const char (&s)[N]) {
    for (size_t i = 0; i < N; ++i) {
      text[i] = s[i];
      wide[i] = static_cast<wchar_t>(s[i]);
    }
  }
};
template <size_t N>
Word(const char (&)[N]) -> Word<N>;

// ---- Field names, in the order the program sends them ----------------------
inline constexpr Word kFieldAction{"action"};
inline constexpr Word kFieldTg{"tg"};      // companion ticked: StartDownload only
inline constexpr Word kFieldCg{"cg"};      // the result flag: CompleteDownload only
inline constexpr Word kFieldCwdm{"cwdm"};  // the failure reason: only when cg is kFailed
inline constexpr Word kFieldGame{"game"};  // the game key
inline constexpr Word kFieldMid{"mid"};    // machine identifier, empty when unknown
inline constexpr Word kFieldVer{"ver"};    // the program's version
inline constexpr Word kFieldPb{"pb"};      // bytes from other players: CompleteDownload, at the end
inline constexpr Word kFieldPs{"ps"};      // bytes served to other players: CompleteDownload, at the end

// ---- Actions ----------------------------------------------------------------
inline constexpr Word kActionInitial{"1"};
inline constexpr Word kActionStartDownload{"2"};
inline constexpr Word kActionPauseDownload{"3"};
inline constexpr Word kActionRestartDownload{"4"};
inline constexpr Word kActionCompleteDownload{"5"};
inline constexpr Word kActionRedownload{"6"};  // the files set up again

// ---- The result flag (cg) of CompleteDownload -------------------------------
inline constexpr int kCompleted = 1;
inline constexpr int kFailed = 0;

// ---- Failure reasons (cwdm), sent when cg is kFailed -------------------------
inline constexpr int kFailStalled = 2;   // no progress after every restart
inline constexpr int kFailCheck = 3;     // the file check failed
inline constexpr int kFailDownload = 4;  // the download failed

}  // namespace report_words
