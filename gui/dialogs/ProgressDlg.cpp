#include "gui/dialogs/ProgressDlg.h"

#include <QProgressBar>
#include <QVBoxLayout>

#include "gui/support/TabOrder.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

ProgressDlg::ProgressDlg(std::string_view title, QWidget* parent) : QDialog(parent), bar_(new QProgressBar(this)) {
    setObjectName(QStringLiteral("progressDialog"));
    setWindowTitle(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bar_);
    bar_->setMinimumWidth(320);
    TranslateWidgetTree(this);
    SetTabOrderFromLayout(this);
    // Wide enough for its title: the box has nothing else to say.
    setMinimumWidth(fontMetrics().horizontalAdvance(windowTitle()) + 80);
}

void ProgressDlg::SetRange(int minimum, int maximum) { bar_->setRange(minimum, maximum); }
void ProgressDlg::SetValue(int value) { bar_->setValue(value); }
void ProgressDlg::Step() { bar_->setValue(bar_->value() + 1); }
int ProgressDlg::value() const { return bar_->value(); }

}  // namespace quorvex::gui
