#include "control/events.h"

#include "os/base/text.h"

namespace pelisto {

const std::vector<EventInfo>& EventTable() {
  static const std::vector<EventInfo> table = {
      {kEventDownloadFile, "DownloadFile",
       {{"url", ArgType::kText}, {"filenName", ArgType::kText}}, false},
      {kEventDownloadProgress, "DownloadProgress",
       {{"currentPos", ArgType::kLong}, {"maxPos", ArgType::kLong}, {"status", ArgType::kLong}},
       true},
      {kEventStartDownload, "StartDownload",
       {{"url", ArgType::kText}, {"fileName", ArgType::kText}, {"fileLength", ArgType::kLong}},
       true},
      {kEventDownloading, "Downloading", {{"readFileLength", ArgType::kLong}}, true},
      {kEventChangeStatus, "ChangeStatus",
       {{"status", ArgType::kLong},
        {"statusInfo", ArgType::kLong},
        {"statusInfoLength", ArgType::kLong}},
       true},
      {kEventUnZipFileNumber, "UnZipFileNumber", {{"fileNumber", ArgType::kLong}}, false},
      {kEventUnZipping, "UnZipping", {{"fileName", ArgType::kText}}, true},
      {kEventEndUnZip, "EndUnZip", {{"bSuccess", ArgType::kLong}}, false},
      {kEventTotalDownloadFileNumber, "TotalDownloadFileNumber",
       {{"fileNumber", ArgType::kLong}}, true},
      {kEventIsDownload, "IsDownload",
       {{"statusCode", ArgType::kLong}, {"contentName", ArgType::kText}}, true},
      {kEventErrorNotify, "ErrorNotify", {{"error", ArgType::kText}}, false},
  };
  return table;
}

const EventInfo* FindEvent(os::LONG id) {
  for (const EventInfo& e : EventTable()) {
    if (e.id == id) return &e;
  }
  return nullptr;
}

const EventInfo* FindEventByName(std::string_view name) {
  for (const EventInfo& e : EventTable()) {
    if (os::EqualsIgnoreCase(e.name, name)) return &e;
  }
  return nullptr;
}

}  // namespace pelisto
