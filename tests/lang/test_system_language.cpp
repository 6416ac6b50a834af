// The system-language test against the locale the process was started with.
#include "lang/lang_list.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace varnix {
namespace {

TEST(SystemLanguage, FollowsTheProcessLocale) {
    const char* expect = std::getenv("VARNIX_EXPECT_CHINESE");
    ASSERT_NE(expect, nullptr);
    EXPECT_EQ(TLangList::IsSysChinese(), std::string_view(expect) == "1");
}

TEST(SystemLanguage, ChineseLocalesOnly) {
    struct Case {
        const char* name;
        bool chinese;
    };
    for (const Case c : {Case{"zh_CN", true}, Case{"zh_TW", true}, Case{"zh_HK", true}, Case{"en_US", false},
                         Case{"ja_JP", false}, Case{"C", false}}) {
        EXPECT_EQ(TLangList::IsLocaleChinese(QLocale(QString::fromLatin1(c.name))), c.chinese) << c.name;
    }
}

} // namespace
} // namespace varnix
