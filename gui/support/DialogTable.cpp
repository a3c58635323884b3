#include "gui/support/DialogTable.h"

#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

QString DialogNotAvailableText() { return Tr(kTextDialogNotAvailable); }

DialogResult DialogTable::Run(const DialogRequest& request) {
    const auto found = runners_.find(request.kind);
    if (found == runners_.end()) {
        prompts_.Information(request.parent, DialogNotAvailableText());
        return {};
    }
    // A copy: a dialog may change the table (a test replacing a fake).
    const DialogRunner runner = found->second;
    return runner(request);
}

}  // namespace quorvex::gui
