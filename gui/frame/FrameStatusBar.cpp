#include "gui/frame/FrameStatusBar.h"

#include <QDate>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QTime>
#include <vector>

#include "gui/dialogs/AutoHeightComboBox.h"
#include "gui/dialogs/StatusLed.h"
#include "gui/logic/FrameLogic.h"
#include "gui/support/GuiStrings.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {

namespace {
constexpr int kTimerPeriodMs = 1000;
}

FrameStatusBar::FrameStatusBar(std::function<int()> busy, QWidget* parent)
    : QStatusBar(parent),
      busy_(std::move(busy)),
      led_(new StatusLed(this)),
      domain_selector_(new AutoHeightComboBox(this)),
      main_pane_(new QLabel(this)),
      user_count_(new QLabel(this)),
      date_(new QLabel(this)),
      time_(new QLabel(this)) {
    setObjectName(QStringLiteral("statusBar"));
    domain_selector_->setObjectName(QStringLiteral("domainSelector"));
    domain_selector_->setMinimumWidth(100);
    domain_selector_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    user_count_->setObjectName(QStringLiteral("userCount"));
    date_->setObjectName(QStringLiteral("datePane"));
    time_->setObjectName(QStringLiteral("timePane"));
    for (QLabel* pane : {main_pane_, user_count_, date_, time_}) {
        KeepUntranslated(pane);
        pane->installEventFilter(this);
    }
    addWidget(led_);
    addWidget(domain_selector_);
    addWidget(main_pane_, 1);
    addPermanentWidget(user_count_);
    addPermanentWidget(date_);
    addPermanentWidget(time_);
    connect(domain_selector_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) Q_EMIT DomainChosen();
    });
    connect(&tick_, &QTimer::timeout, this, &FrameStatusBar::Tick);
    tick_.start(kTimerPeriodMs);
    UpdateClock();
}

void FrameStatusBar::ShowUserCount(int count) {
    user_count_->setText(QStringLiteral(" ") + FormatText(Tr(kTextUserCountFormat), {QString::number(count)}));
}

void FrameStatusBar::ShowDomains(const CServerSettings& settings) {
    if (settings.DomainNameType != 1) {
        domain_selector_->hide();
        return;
    }
    std::vector<std::string> domains;
    for (int i = 0; i < settings.Domains.GetCount(); ++i) {
        DomainRecord record;
        if (settings.Domains.Get(i, record)) domains.push_back(record.Name);
    }
    const std::vector<std::string> items = DomainSelectorItems(ToFileText(Tr(kTextAllDomains)), domains);
    const std::string old_text = ToFileText(domain_selector_->currentText());
    const int old_index = domain_selector_->currentIndex();
    {
        const QSignalBlocker quiet(domain_selector_);
        domain_selector_->clear();
        for (const std::string& item : items) domain_selector_->addItem(FromFileText(item));
        domain_selector_->setCurrentIndex(ReselectDomain(items, old_index < 0 ? std::string() : old_text, old_index));
    }
    domain_selector_->show();
}

std::optional<std::string> FrameStatusBar::SelectedDomain() const {
    if (!domain_selector_->isVisibleTo(window()) || domain_selector_->currentIndex() < 0) return std::nullopt;
    return ToFileText(domain_selector_->currentText());
}

void FrameStatusBar::Tick() {
    UpdateClock();
    const int busy = busy_ ? busy_() : 0;
    led_->Flash(busy > 0 ? kTimerPeriodMs : 0);
}

void FrameStatusBar::UpdateClock() {
    date_->setText(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    time_->setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
}

bool FrameStatusBar::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == user_count_ || watched == date_ || watched == time_)) {
        const StatusPane pane =
            watched == time_ ? StatusPane::kTime : (watched == date_ ? StatusPane::kDate : StatusPane::kUserCount);
        Q_EMIT PaneDoubleClicked(pane, QGuiApplication::keyboardModifiers() & Qt::ControlModifier);
        return true;
    }
    return QStatusBar::eventFilter(watched, event);
}

}  // namespace quorvex::gui
