#include "gui/support/TextCodec.h"

#include <QStringDecoder>

#include "common/AsciiCase.h"
#include "common/CharsetText.h"

namespace quorvex::gui {

namespace {

bool IsLatin1Name(const std::string& name) {
    return name == "iso-8859-1" || name == "iso8859-1" || name == "latin1" || name == "us-ascii" || name == "ascii";
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
    if (IsAsciiText(bytes)) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const std::string name = AsciiLowerCase(charset);
    if (IsLatin1Name(name)) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (!name.empty() && !IsUtf8CharsetName(name)) {
        if (const auto utf8 = ConvertCharset(bytes, name, "UTF-8")) return QString::fromUtf8(utf8->data(), static_cast<qsizetype>(utf8->size()));
    }
    return FromFileText(bytes);
}

}  // namespace quorvex::gui
