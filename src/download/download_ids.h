#pragma once

#include "prompts/prompt_codes.h"

// Every id the download window's flow speaks in, named once: the commands
// (WM_COMMAND ids, also the ids of the elements that send them), the
// messages and the timers. The prompts' results are their own
// (prompts/prompt_codes.h).

// Commands.
constexpr int kCmdCompanionBox = 7;
constexpr int kCmdDownload = 10;
constexpr int kCmdContinue = 11;
constexpr int kCmdPause = 12;
constexpr int kCmdClose = 13;  // to the notification area
constexpr int kCmdMinimize = 14;
constexpr int kCmdChangeDir = 15;
constexpr int kCmdOpenDir = 16;
// kCmdFeedback (17) is in prompts/prompt_codes.h: a prompt sends it too.
constexpr int kCmdInstall = 18;
constexpr int kCmdPromotion = 19;
constexpr int kCmdRedownload = 20;
// The tray's "打开下载器", a second start of the program, the end of the list.
constexpr int kCmdActivate = 2025;
constexpr int kCmdTrayClose = 2026;
// The tray's sharing item: others may fetch this game's pieces from us.
constexpr int kCmdTrayShare = 2027;
// The tray's "全屏游戏时让出网速": the download steps aside for a full-screen program.
constexpr int kCmdTrayStepAside = 2028;
// The tray's speed caps, one per entry of kSpeedCapChoices, in that order.
constexpr int kCmdTraySpeedFirst = 2030;
// lParam of kCmdDownload when the auto-continue thread starts the next file.
constexpr int kAutoContinueParam = 5555;

// Messages.
constexpr unsigned kTrayCallbackMessage = 2025;
constexpr unsigned kTrayIconId = 32513;

// Timers of the download window, each ticking every 1000 ms.
constexpr int kTimerPoll = 0;
constexpr int kTimerReconnect = 1;
constexpr int kTimerFileWait = 2;
