#include "control/status_dialog.h"

#include "download/status_dialog_runner.h"

namespace pelisto {
namespace {

class WindowStatusDialog final : public StatusDialog {
 public:
  bool Start(const std::string& language, bool hide_cancel) override {
    return runner_.Start(language, hide_cancel);
  }
  void Close() override { runner_.Close(); }
  IStarterDownload* Sink() override { return runner_.dialog(); }

 private:
  StatusDialogRunner runner_;
};

}  // namespace

std::unique_ptr<StatusDialog> MakeStatusDialog() { return std::make_unique<WindowStatusDialog>(); }

}  // namespace pelisto
