// The progress sink of an update run: the same notifications the page receives as events,
// for a window of the control's own (the status dialog). Every call that takes `cancel`
// stores 1 there when the user asked to cancel, else 0.
#pragma once

#include <string>

#include "os/base/types.h"

namespace pelisto {

// The work item of a content entry, as the status line and the IsDownload event report it.
enum WorkItemStatus : os::LONG {
  DOWNLOADING = 0,
  CHECK_INSTALLED = 1,
  WRITE_REGISTRY = 2,
  MAKE_LINK = 3,
  VERSION_CHECKING = 4,
  LOCAL_FILE_CHECKING = 5,
  DELETE_REGISTRY = 6,
  DELETE_FILE = 7,
  UNZIPPING = 8,
};

// Called on the thread that runs the update (not the window's thread); implementations
// must be safe for that.
class IStarterDownload {
 public:
  virtual ~IStarterDownload() = default;
  virtual void StartDownload(const std::string& url, const std::string& file_name,
                             os::LONG file_length, os::LONG* cancel) = 0;
  virtual void Downloading(os::LONG read_file_length, os::LONG* cancel) = 0;
  virtual void ChangeStatus(os::LONG status, os::LONG status_info, os::LONG status_info_length,
                            os::LONG* cancel) = 0;
  virtual void UnZipFileNumber(os::LONG file_number) = 0;
  virtual void UnZipping(const std::string& file_name, os::LONG* cancel) = 0;
  virtual void EndUnZip(os::LONG success) = 0;
  virtual void TotalDownloadFileNumber(os::LONG file_number, os::LONG* cancel) = 0;
  virtual void IsDownload(os::LONG status_code, const std::string& content_name,
                          os::LONG* cancel) = 0;
  virtual void ErrorNotify(const std::string& error) = 0;
};

}  // namespace pelisto
