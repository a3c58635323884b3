#include "gui/support/DialogTable.h"

namespace quorvex::gui {

DialogResult DialogTable::Run(const DialogRequest& request) {
    const auto found = runners_.find(request.kind);
    if (found == runners_.end()) return {};
    // A copy: a dialog may change the table (a test replacing a fake).
    const DialogRunner runner = found->second;
    return runner(request);
}

}  // namespace quorvex::gui
