// Prompts and a desktop opener that never wait and never open anything,
// for the programs that drive the window without a person (the screenshot
// tool, the benchmark). Questions are answered No.
#pragma once

#include "gui/support/Prompts.h"

namespace quorvex::gui {

class QuietPrompts final : public Prompts {
public:
    void Information(QWidget*, const QString&) override {}
    void Warning(QWidget*, const QString&) override {}
    bool Question(QWidget*, const QString&) override { return false; }
};

class NoOpener final : public DesktopOpener {
public:
    bool OpenPath(const QString&) override { return true; }
    bool OpenUrl(const QString&) override { return true; }
};

}  // namespace quorvex::gui
