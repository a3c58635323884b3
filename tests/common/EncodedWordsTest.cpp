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

}  // namespace
}  // namespace quorvex
