#include "app/DatabaseTasks.h"

namespace quorvex::app {

int UpgradeDatabase() { return 1; }

}  // namespace quorvex::app
