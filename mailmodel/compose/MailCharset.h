// The charset of the texts people write into the mail the program composes
// (the administrator's mail, auto-replies, web mail) and of the pages it
// exports, and those texts in it. Texts arrive as UTF-8, as the window and
// browsers write them; bytes that are not UTF-8 are taken to be in the
// language's charset, as files of earlier versions hold them. When every
// text has a place in the language's charset they are converted to it and
// it is declared (readers and older mail programs of that language read
// it); otherwise, and always for a stateful charset (ISO-2022-JP, whose
// encoded words could not be cut to decode alone), they stay UTF-8 and
// UTF-8 is declared. Either way the
// declared charset is the one the bytes are in.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::compose {

class MailCharset {
public:
    // Decides from all the texts one message or page carries.
    MailCharset(std::string_view languageCharset, std::initializer_list<std::string_view> texts);
    MailCharset(std::string_view languageCharset, const std::vector<std::string_view>& texts);

    // The charset to declare: the language's (as the language file spells
    // it) or "UTF-8".
    const std::string& Name() const { return name_; }
    // One of the texts it was made from, in that charset.
    std::string Encode(std::string_view text) const;

private:
    std::string language_;
    std::string name_;
    bool toLanguage_ = true;
};

}  // namespace quorvex::compose
