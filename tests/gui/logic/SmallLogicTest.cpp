// Small pieces of the window: stored column widths, the status lamp, the
// drop-down rows, link colours, the language texts' decoding and the safe
// filling of translated formats.
#include <gtest/gtest.h>

#include "gui/dialogs/AutoHeightComboBox.h"
#include "gui/dialogs/HyperLink.h"
#include "gui/dialogs/StatusLed.h"
#include "gui/logic/ColumnWidths.h"
#include "gui/support/TextCodec.h"
#include "gui/support/WidgetTranslator.h"

namespace quorvex::gui {
namespace {

TEST(ColumnWidths, StoredFieldsAndAutoSize) {
    const std::string stored = "76,65,x,4,,116,";
    const std::pair<int, int> cases[] = {{0, 76}, {1, 65}, {2, 0}, {3, 4}, {4, 0}, {5, 116}, {6, 0}, {9, 0}};
    for (const auto& [column, width] : cases) EXPECT_EQ(StoredColumnWidth(stored, column), width) << column;
    EXPECT_EQ(FormatColumnWidths({76, 65, 76, 64, 60, 116, 44, 86}), "76,65,76,64,60,116,44,86,");
    EXPECT_EQ(AutoColumnWidth(5, 12), kAutoWidthMin);
    EXPECT_EQ(AutoColumnWidth(300, 40), kAutoWidthMax);
    EXPECT_EQ(AutoColumnWidth(30, 45), 45);
}

TEST(StatusLed, FlashAndTicks) {
    LedState led;
    EXPECT_EQ(led.state(), LedState::kDark);
    EXPECT_TRUE(led.Flash(1000));
    EXPECT_EQ(led.state(), LedState::kBright);
    EXPECT_FALSE(led.Flash(500)) << "flashing already: nothing changes";
    EXPECT_EQ(led.period_ms(), 1000);
    led.Tick();
    EXPECT_EQ(led.state(), LedState::kDark);
    led.Set(LedState::kGreen, LedState::kGrey, LedState::kSquare);
    led.Tick();
    EXPECT_EQ(led.state(), LedState::kDark) << "anything but dark becomes dark";
    led.Tick();
    EXPECT_EQ(led.state(), LedState::kBright);
    led.Flash(0);
    EXPECT_FALSE(led.flashing());
    EXPECT_EQ(led.state(), LedState::kDark);
}

TEST(SmallControls, ComboRowsAndLinkColours) {
    const std::tuple<int, int, int> rows[] = {{0, 0, 2}, {1, 0, 2}, {7, 0, 7}, {7, 3, 3}, {7, 1, 2}, {500, 20, 20}};
    for (const auto& [count, max, expected] : rows) EXPECT_EQ(ComboRows(count, max), expected) << count << "/" << max;
    const QColor link(0, 0, 0xEE), visited(0x55, 0x1A, 0x8B), hover(Qt::red);
    EXPECT_EQ(HyperLinkColour(false, false, link, visited, hover), link);
    EXPECT_EQ(HyperLinkColour(false, true, link, visited, hover), visited);
    EXPECT_EQ(HyperLinkColour(true, true, link, visited, hover), hover);
}

TEST(TextCodec, LanguageCharsets) {
    struct Case {
        std::string bytes;
        const char* charset;
        QString expected;
    };
    const Case cases[] = {
        {"\xd6\xd0\xce\xc4", "GB2312", QString::fromUtf8("\xe4\xb8\xad\xe6\x96\x87")},     // zhongwen
        {"\xa4\xa4\xa4\xe5", "big5", QString::fromUtf8("\xe4\xb8\xad\xe6\x96\x87")},
        {"caf\xe9", "iso-8859-1", QString::fromUtf8("caf\xc3\xa9")},
        {"caf\xc3\xa9", "utf-8", QString::fromUtf8("caf\xc3\xa9")},
        {"caf\xc3\xa9", "no-such-charset", QString::fromUtf8("caf\xc3\xa9")},  // falls back, loses nothing
        {"\xff\xfe", "GB2312", QString::fromLatin1("\xff\xfe")},
        {"plain", "GB2312", QStringLiteral("plain")},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeText(c.bytes, c.charset), c.expected) << c.charset;
}

TEST(TranslatedFormats, FillOnlyWhatTheyAreGiven) {
    struct Case {
        const char* format;
        QString expected;
    };
    const Case cases[] = {
        {" %d users", QStringLiteral(" 12 users")},
        {"%s %s", QStringLiteral("12 x")},
        {"100%% %d", QStringLiteral("100% 12")},
        {"%d %s %s %s %n %x", QStringLiteral("12 x   %n %x")},  // a translation asking for more gets nothing
        {"50%", QStringLiteral("50%")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatText(QString::fromLatin1(c.format), {QStringLiteral("12"), QStringLiteral("x")}), c.expected)
            << c.format;
    }
}

}  // namespace
}  // namespace quorvex::gui
