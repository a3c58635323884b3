// Raising the error log's alert through the notice bus.
#include "common/ErrorAlert.h"

#include "common/ErrorLog.h"
#include "common/Translation.h"

namespace quorvex {

bool ErrorAlertEnabled() { return TranslateText(kProductName).find(kProductName) != std::string::npos; }

void RaiseErrorAlert(NoticeSink& sink) {
    if (ErrorAlertEnabled()) sink.Post(NoticeId::WM_ERROR_ALERT, kErrorAlertCaption);
}

void InstallErrorAlert(NoticeSink& sink) {
    SetErrorLogAlertHook([&sink](std::string_view) { RaiseErrorAlert(sink); });
}

void RemoveErrorAlert() { SetErrorLogAlertHook({}); }

}  // namespace quorvex
