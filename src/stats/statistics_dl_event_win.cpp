#include <windows.h>

#include <mmsystem.h>

#include "state/resume_state_win.h"
#include "stats/statistics_dl_event.h"

namespace {

uint32_t TimeGetTime() { return ::timeGetTime(); }

}  // namespace

CStatisticsDLEvent::CStatisticsDLEvent()
    : CStatisticsDLEvent(ResumeState(), CDownloadManager::Instance(), &TimeGetTime) {}
