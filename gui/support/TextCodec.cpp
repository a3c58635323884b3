#include "gui/support/TextCodec.h"

#include <iconv.h>

#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <optional>

#include "common/AsciiCase.h"

namespace quorvex::gui {

namespace {

bool IsAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsUtf8Name(const std::string& name) { return name == "utf-8" || name == "utf8"; }
bool IsLatin1Name(const std::string& name) {
    return name == "iso-8859-1" || name == "iso8859-1" || name == "latin1" || name == "us-ascii" || name == "ascii";
}

// iconv from `charset` to UTF-8; nothing when the set is unknown or the
// bytes are not valid in it.
std::optional<std::string> Iconv(std::string_view bytes, const std::string& charset) {
    iconv_t converter = ::iconv_open("UTF-8", charset.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(bytes.size() * 4 + 16, '\0');
    char* in_ptr = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    char* out_ptr = out.data();
    std::size_t out_left = out.size();
    const std::size_t result = ::iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left);
    ::iconv_close(converter);
    if (result == static_cast<std::size_t>(-1)) return std::nullopt;
    out.resize(out.size() - out_left);
    return out;
}

}  // namespace

QString FromFileText(std::string_view bytes) {
    auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!decoder.hasError()) return text;
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToFileText(const QString& text) { return text.toStdString(); }

QString DecodeText(std::string_view bytes, std::string_view charset) {
    if (IsAscii(bytes)) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const std::string name = AsciiLowerCase(charset);
    if (IsLatin1Name(name)) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (!name.empty() && !IsUtf8Name(name)) {
        if (const auto utf8 = Iconv(bytes, name)) return QString::fromUtf8(utf8->data(), static_cast<qsizetype>(utf8->size()));
    }
    return FromFileText(bytes);
}

}  // namespace quorvex::gui
