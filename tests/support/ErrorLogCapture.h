// Points the settings at a test's own program folder and collects the
// texts written to the error log while it lives, so a test can check that
// a cut or a refusal was logged. Restores default settings and removes its
// hook when it goes.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/ErrorLog.h"
#include "common/ServerSettings.h"

namespace quorvex::testing {

class ErrorLogCapture {
public:
    explicit ErrorLogCapture(const std::string& program_folder) {
        auto settings = std::make_shared<CServerSettings>();
        settings->SetProgramFolder(program_folder);
        PublishSettings(settings);
        SetErrorLogAlertHook([this](std::string_view text) {
            std::lock_guard lock(mutex_);
            texts_.emplace_back(text);
        });
    }
    ~ErrorLogCapture() {
        SetErrorLogAlertHook(nullptr);
        PublishSettings(std::make_shared<CServerSettings>());
    }
    ErrorLogCapture(const ErrorLogCapture&) = delete;
    ErrorLogCapture& operator=(const ErrorLogCapture&) = delete;

    // Publishes settings changed by `change` (same program folder).
    template <typename Change>
    void UpdateSettings(Change change) {
        auto settings = std::make_shared<CServerSettings>(*Settings());
        change(*settings);
        PublishSettings(settings);
    }

    std::vector<std::string> Texts() {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    std::size_t Count(const std::string& text) {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(std::count(texts_.begin(), texts_.end(), text));
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        texts_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
};

}  // namespace quorvex::testing
