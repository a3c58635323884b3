// The error log's alert: after each line written to the error log, the
// administration window is asked (through the notice bus, never directly
// from the thread that logged) to show one alert window asking the user to
// send the log to support. A language file that translates the product
// name into a text without it switches the alert off.
#pragma once

#include <string_view>

#include "common/Notices.h"

namespace quorvex {

inline constexpr std::string_view kProductName = "QuorvexServer";
// Payload of the WM_ERROR_ALERT notice: the alert window's caption.
inline constexpr std::string_view kErrorAlertCaption = "QuorvexServer Buffer Problem";
// The text the alert window shows (passed through TranslateText by it).
inline constexpr std::string_view kErrorAlertText =
    "QuorvexServer has run into a problem and written it to the file Log/quorvexlog.txt "
    "in its program folder. Please send that file to support@quorvex.example; "
    "we will fix the problem as soon as we can. Thank you!";

// True when the alert is on: the translation of kProductName still
// contains it.
bool ErrorAlertEnabled();

// Posts the alert notice to `sink` when the alert is on.
void RaiseErrorAlert(NoticeSink& sink);

// Makes every line of the error log raise the alert on `sink` (the
// process's bus by default). The program calls it once at start-up; the
// web-mail component never does, so its log raises nothing.
void InstallErrorAlert(NoticeSink& sink = ProcessNoticeBus());
// Stops raising alerts.
void RemoveErrorAlert();

}  // namespace quorvex
