// Encoded words of header lines.
#include <gtest/gtest.h>

#include "common/EncodedWords.h"

namespace quorvex {
namespace {

TEST(EncodedWordsTest, DecodesHeaderLines) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"Subject: =?utf-8?B?SGVsbG8=?= =?utf-8?B?V29ybGQ=?=", "Subject: HelloWorld"},
        {"Subject: =?utf-8?B?aGVsbG8=?= =?utf-8?Q?_world?=\r\n", "Subject: hello world\r\n"},
        {"Subject: =?gb2312?B?xOO6ww==?=\r\n", "Subject: \xC4\xE3\xBA\xC3\r\n"},
        {"=?iso-8859-1?q?a_b=3Dc=zz?=", "a b=c=zz"},
        {"Subject: =?x?Q?a_b=3F?=", "Subject: a b?"},
        {"Subject: =?x?Q?=4?=", "Subject: =4"},
        {"=?x?Q?=\x01\x02?=", "=\x01\x02"},  // control bytes are no hex digits
        {"x =?us-ascii?Q?one?= y =?us-ascii?Q?two?=", "x one y two"},
        {"=?cs?x?kept as is?= tail", "kept as is tail"},
        {"no words here", "no words here"},
        {"broken =?start without end", "broken start without end"},
        {"=?utf-8?B?!!!!?=after", "after"},
        {"open =?utf-8?Q?runs_to_the_end", "open runs to the end"},
        {"Subject: =?x?B?", "Subject: "},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeEncodedWords(c.in), c.out) << c.in;
}

// Header text for people: every word in its charset, the rest undeclared.
TEST(EncodedWordsTest, DecodesHeaderLinesToUtf8) {
    struct Case {
        std::string in, fallback, out;
    } cases[] = {
        {"=?iso-8859-1?Q?Gr=FC=DFe_aus_dem_Caf=E9?=", "koi8-r", "Gr\xC3\xBC\xC3\x9F" "e aus dem Caf\xC3\xA9"},
        {"Re: =?koi8-r?B?8NLJ18XU?=", "iso-8859-1", "Re: \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"=?utf-8?Q?=C3?= =?UTF-8?Q?=BC?=", "iso-8859-1", "\xC3\xBC"},  // one character split between words
        {"=?iso-8859-1*de?Q?=E9?=", "", "\xC3\xA9"},
        {"Caf\xE9 =?utf-8?Q?=E2=82=AC?=", "iso-8859-1", "Caf\xC3\xA9 \xE2\x82\xAC"},
        {"Caf\xC3\xA9", "koi8-r", "Caf\xC3\xA9"},  // undeclared UTF-8 stays
        {"=?utf-8?Q?a=FFb?= =?utf-8?Q?=E2=82?=", "iso-8859-1", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD"},
        {"=?x-unknown?Q?caf=E9?=", "iso-8859-1", "caf\xC3\xA9"},
        {"=?iso-2022-jp?B?GyRCJUYlOSVIGyhC?=", "", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"},
        {"\x1B$B%F%9%H\x1B(B", "ISO-2022-JP", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"},  // undeclared, shifted
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeEncodedWordsToUtf8(c.in, c.fallback), c.out) << c.in;
}

}  // namespace
}  // namespace quorvex
