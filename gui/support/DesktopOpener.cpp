#include "gui/support/DesktopOpener.h"

#include <QPointer>
#include <QProcess>
#include <QWidget>
#include <memory>

#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {

// What xdg-open's exit statuses mean, for an opener that gave no reason.
QString ExitMeaning(int exit_code) {
    switch (exit_code) {
        case 1: return QStringLiteral("error in the command line");
        case 2: return QStringLiteral("the file does not exist");
        case 3: return QStringLiteral("no program is set up to open it");
        case 4: return QStringLiteral("the program that opens it failed");
        default: return {};
    }
}

OpenVerdict SayWhyOnFailure(Prompts& prompts, QWidget* parent, QString named) {
    return [&prompts, parent = QPointer<QWidget>(parent), named = std::move(named)](
               const std::optional<QString>& failure) {
        if (failure) prompts.Warning(parent.data(), FormatText(Tr(kTextOpenFailedFormat), {named, *failure}));
    };
}

}  // namespace

std::optional<QString> OpenerFailure(const QString& program, bool crashed, int exit_code, const QByteArray& errors) {
    if (!crashed && exit_code == 0) return std::nullopt;
    const QStringList lines = QString::fromLocal8Bit(errors).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (const QString reason = line->trimmed(); !reason.isEmpty()) return reason;
    }
    if (crashed) return program + QStringLiteral(" stopped before it could open it.");
    QString reason = program + QStringLiteral(" ended with exit status ") + QString::number(exit_code);
    if (const QString meaning = ExitMeaning(exit_code); !meaning.isEmpty()) reason += QStringLiteral(": ") + meaning;
    return reason + QLatin1Char('.');
}

void OpenPathOrSayWhy(DesktopOpener& opener, Prompts& prompts, QWidget* parent, const QString& path,
                      const QString& named) {
    opener.OpenPath(path, SayWhyOnFailure(prompts, parent, named.isEmpty() ? path : named));
}

void OpenUrlOrSayWhy(DesktopOpener& opener, Prompts& prompts, QWidget* parent, const QString& url) {
    opener.OpenUrl(url, SayWhyOnFailure(prompts, parent, url));
}

void QtDesktopOpener::OpenPath(const QString& path, OpenVerdict verdict) { Run(path, std::move(verdict)); }

void QtDesktopOpener::OpenUrl(const QString& url, OpenVerdict verdict) { Run(url, std::move(verdict)); }

void QtDesktopOpener::Run(const QString& target, OpenVerdict verdict) {
    // The process owns itself: it goes when it has ended, however long the
    // opener takes (one that runs the program in the foreground ends with
    // it). Its error output is kept for the reason; the rest is passed on.
    auto* process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    auto told = std::make_shared<bool>(false);
    auto tell = [verdict = std::move(verdict), told](const std::optional<QString>& failure) {
        if (*told) return;
        *told = true;
        if (verdict) verdict(failure);
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, tell, program = program_](int exit_code, QProcess::ExitStatus status) {
                         tell(OpenerFailure(program, status == QProcess::CrashExit, exit_code,
                                            process->readAllStandardError()));
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, tell, program = program_](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;  // a crash ends in finished
                         tell(program + QStringLiteral(" could not be started: ") + process->errorString());
                         process->deleteLater();
                     });
    process->start(program_, {target});
    process->closeWriteChannel();
}

}  // namespace quorvex::gui
