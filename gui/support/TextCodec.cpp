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

// iconv between two sets; nothing when either is unknown or the bytes do
// not convert whole (invalid, or without a place in `to`).
std::optional<std::string> Iconv(std::string_view bytes, const std::string& from, const std::string& to) {
    iconv_t converter = ::iconv_open(to.c_str(), from.c_str());
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
        if (const auto utf8 = Iconv(bytes, name, "UTF-8")) return QString::fromUtf8(utf8->data(), static_cast<qsizetype>(utf8->size()));
    }
    return FromFileText(bytes);
}

std::optional<std::string> EncodeText(std::string_view utf8, std::string_view charset) {
    const std::string name = AsciiLowerCase(charset);
    if (IsUtf8Name(name) || IsAscii(utf8)) return std::string(utf8);
    if (name.empty()) return std::nullopt;
    return Iconv(utf8, "UTF-8", name);
}

}  // namespace quorvex::gui
