#include "gui/settings/DomainInputDlg.h"

#include <QGridLayout>
#include <QLabel>

#include "gui/settings/FormWidgets.h"
#include "gui/support/DialogButtons.h"
#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {
constexpr int kNameFieldLength = 256;
constexpr const char* kLabelMailboxes = "Domain Mailbox";
constexpr const char* kLabelSpace = "Domain Space";
constexpr const char* kLabelDefaultSize = "Default mailbox size ";
}

DomainInputDlg::DomainInputDlg(const DomainInput& input, Prompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts),
      name_(MakeTextField(this, "domainName", input.name, kNameFieldLength)),
      mailboxes_(MakeNumberField(this, "domainMailboxes", kDomainMailboxesRange, input.max_accounts, kLabelMailboxes)),
      space_(MakeNumberField(this, "domainSpace", kDomainSpaceRange, input.max_space, kLabelSpace)),
      default_size_(MakeNumberField(this, "defaultMailboxSize", kMailboxSizeRange, input.default_size,
                                    kLabelDefaultSize)) {
    setObjectName(QStringLiteral("domainInputDialog"));
    setWindowTitle(QStringLiteral("Domain Name Input"));
    name_->setMinimumWidth(260);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Domain Name"), this), 0, 0);
    grid->addWidget(name_, 0, 1, 1, 2);
    grid->addWidget(MakeLabel(this, kLabelMailboxes), 1, 0);
    grid->addWidget(mailboxes_, 1, 1);
    grid->addWidget(MakeLabel(this, kLabelSpace), 2, 0);
    grid->addWidget(space_, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("M"), this), 2, 2);
    grid->addWidget(MakeLabel(this, kLabelDefaultSize), 3, 0);
    grid->addWidget(default_size_, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("M"), this), 3, 2);
    QDialogButtonBox* buttons = MakeOkCancelButtons(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    grid->addWidget(buttons, 4, 0, 1, 3);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
}

DomainInput DomainInputDlg::value() const {
    return DomainInput{FieldText(name_), mailboxes_->value(), space_->value(), default_size_->value()};
}

void DomainInputDlg::accept() {
    if (!RefuseOutOfRange(this, prompts_)) QDialog::accept();
}

}  // namespace quorvex::gui
