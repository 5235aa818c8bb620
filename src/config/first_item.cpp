#include "config/first_item.h"

#include "config/config_parse.h"

bool IsUsableDownloadItem(const GameFileEntry& entry, const std::wstring& gameKey) {
  return !FileNameOfLink(entry.downloadLink).empty() && entry.size != 0 && !gameKey.empty() &&
         !entry.downloadLink.empty();
}
