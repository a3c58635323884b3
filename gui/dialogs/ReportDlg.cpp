#include "gui/dialogs/ReportDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>
#include <ctime>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/Translation.h"
#include "gui/support/DesktopOpener.h"
#include "gui/support/DialogButtons.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/Prompts.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WaitCursor.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

const std::string_view kTextReportPage =  // 129
    "<Html><Head>\n"
    "<meta HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=%s\">\n"
    "<style type=\"text/css\">\n"
    "<!--\n"
    "body, table, tr, td, th, dd, dl, dt {font-family:song, arial,san-serif; font-size:9pt}\n"
    "-->\n"
    "</style></Head><Body>\n"
    "<u>QuorvexServer Report (<i>%s</i>)</u>\n"
    "<br>\n"
    "<br>\n"
    "<table width=\"100%%\" border=\"1\" bgcolor=\"blue\" bordercolordark=\"black\" bordercolor=\"white\" "
    "cellspacing=\"0\">\n"
    "%s</table>\n"
    "</Body></Html>\n";

namespace {

constexpr std::string_view kTextColumnTitles =
    "Account|User Name|Used Space(K)|Total Size(M)|Mail Number|Last Visit Time|Status|Description";
constexpr std::string_view kTextAddressTitle = "E-mail hot linkage";
constexpr std::string_view kTextReportFailedFormat = "The report could not be written to %s.";

// Check boxes in the order of the report's columns.
struct ColumnBox {
    const char* name;
    const char* text;
};
constexpr ColumnBox kColumnBoxes[kAccountColumnCount] = {
    {"columnAccount", "Mail account"},  {"columnUserName", "User name"},    {"columnUsedSpace", "Used space"},
    {"columnTotalSize", "Mailbox Size"}, {"columnMailNumber", "Mail Number"}, {"columnLastVisit", "Last visit time"},
    {"columnAddress", "E-mail hot linkage"}, {"columnDescription", "Description"}};

std::string LanguageCharset() {
    std::string charset = ProfileFile(GetLanguageFilePath()).GetString("Info", "charset", "iso-8859-1");
    // It goes into the page's header: letters, digits and "-_.:" only.
    for (char c : charset) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && std::string_view("-_.:").find(c) == std::string_view::npos)
            return "iso-8859-1";
    }
    return charset.empty() ? "iso-8859-1" : charset;
}

std::string LocalTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

}  // namespace

ReportDlg::ReportDlg(std::vector<std::string> names, SettingsSnapshot settings, const AccountList& accounts,
                     DesktopOpener& opener, Prompts& prompts, QWidget* parent)
    : QDialog(parent), names_(std::move(names)), settings_(std::move(settings)), accounts_(accounts), opener_(opener),
      prompts_(prompts) {
    setObjectName(QStringLiteral("reportDialog"));
    setWindowTitle(QStringLiteral("Export User Information"));
    auto* columns = new QGroupBox(QStringLiteral("Columns"), this);
    auto* grid = new QGridLayout(columns);
    for (int c = 0; c < kAccountColumnCount; ++c) {
        columns_[c] = new QCheckBox(QString::fromLatin1(kColumnBoxes[c].text), columns);
        columns_[c]->setObjectName(QString::fromLatin1(kColumnBoxes[c].name));
        grid->addWidget(columns_[c], c / 2, c % 2);
    }
    auto* select_all = new QCheckBox(QStringLiteral("Select all"), columns);
    select_all->setObjectName(QStringLiteral("selectAll"));
    grid->addWidget(select_all, kAccountColumnCount / 2, 0);
    connect(select_all, &QCheckBox::clicked, this, &ReportDlg::OnSelectAll);

    auto* format = new QGroupBox(QStringLiteral("Report format"), this);
    auto* format_layout = new QHBoxLayout(format);
    const char* format_names[] = {"formatHtml", "formatIni", "formatExcel", "formatText"};
    const char* format_texts[] = {"HTML", "INI", "Excel", "Text"};
    for (int f = 0; f < 4; ++f) {
        formats_[f] = new QRadioButton(QString::fromLatin1(format_texts[f]), format);
        formats_[f]->setObjectName(QString::fromLatin1(format_names[f]));
        format_layout->addWidget(formats_[f]);
    }
    formats_[0]->setChecked(true);

    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ReportDlg::OnOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(columns);
    layout->addWidget(format);
    layout->addWidget(buttons);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

void ReportDlg::OnSelectAll(bool checked) {
    for (QCheckBox* box : columns_) box->setChecked(checked);
}

ReportOptions ReportDlg::Options() const {
    ReportOptions options;
    for (int c = 0; c < kAccountColumnCount; ++c) options.columns[c] = columns_[c]->isChecked();
    for (int f = 0; f < 4; ++f) {
        if (formats_[f]->isChecked()) options.format = static_cast<ReportFormat>(f);
    }
    const QStringList titles = TrList(kTextColumnTitles);
    for (int c = 0; c < kAccountColumnCount; ++c) options.titles[c] = ToFileText(titles.value(c));
    options.titles[6] = ToFileText(Tr(kTextAddressTitle));
    options.time_text = LocalTimeText();
    options.domain = settings_->Dominame;
    options.multi_domain = settings_->DomainNameType == 1;
    options.language_charset = LanguageCharset();
    options.page_template = ToFileText(Tr(kTextReportPage));
    return options;
}

void ReportDlg::OnOk() {
    const ReportOptions options = Options();
    const std::string folder = JoinPath(settings_->Folder(), "report");
    std::string written;
    {
        const WaitCursor wait;
        RowTexts texts;
        texts.unlimited = ToFileText(Tr(kTextUnlimited));
        written = WriteReport(folder, options, LoadReportRows(names_, texts, accounts_));
    }
    if (written.empty()) {
        prompts_.Warning(this, FormatText(Tr(kTextReportFailedFormat), {FromFileText(folder)}));
        return;
    }
    // The folder shows the file among the earlier reports; where the
    // desktop cannot show it, the file is named (over the window that
    // opened this one, which has gone by then).
    OpenPathOrSayWhy(opener_, prompts_, parentWidget(), QString::fromStdString(folder), FromFileText(written));
    accept();
}

}  // namespace quorvex::gui
