#include <string>

#include "app/DatabaseTasks.h"
#include "app/ProgramMessages.h"
#include "common/ErrorLog.h"
#include "common/ProfileFile.h"
#include "common/SettingRanges.h"
#include "common/ServerSettings.h"
#include "mailmodel/db/MailDatabase.h"

namespace quorvex::app {

namespace {

constexpr std::size_t kMaxStatementLength = 4096;

void ReportDatabaseError(const std::string& text) {
    QUORVEX_ERROR_LOG(text);
    ShowProgramMessage(text);
}

}  // namespace

int RunDatabaseScripts() {
    const std::string config = Settings()->ConfigIni();
    const auto doc = ProfileFile(config).Load();
    const int count = NumberOrDefault(*doc, "Database", "Count", 0, kStartupStatementsRange);
    if (count <= 0) return 1;

    db::Connection database;
    if (const db::Status opened = OpenMailDatabase(database, MailDatabaseLoginFromSettings()); !opened) {
        ReportDatabaseError("The mail database could not be opened for the start-up statements: " + opened.error);
        return 0;
    }
    for (int i = 1; i <= count; ++i) {
        const std::string key = "SQL" + std::to_string(i);
        std::string statement(doc->Find("Database", key).value_or(""));
        if (statement.size() > kMaxStatementLength) statement.resize(kMaxStatementLength);
        if (const db::Status done = database.Execute(statement); !done) {
            ReportDatabaseError("Start-up statement [Database] " + key + " failed, the statements after it were not run: " +
                                done.error);
            database.Close();
            return 0;
        }
    }
    database.Close();
    return 1;
}

}  // namespace quorvex::app
