// A command-line driver of the MIME library, the stored-message parser and
// the composer, used only by the end-to-end checks against Python's email
// package and munpack. Every text that may hold any byte is printed as hex
// inside a JSON object, so the checks compare bytes, not decodings.
//
//   mime_tool compose OUT BODYFILE [--subject S] [--from F] [--to T] [--cc C]
//             [--attach LIST] [--charset CS] [--original]
//   mime_tool parse FOLDER FILE [--webmail]
//   mime_tool load FILE
//   mime_tool ew-encode LETTER CHARSET HEX
//   mime_tool ew-decode TEXT
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/AtomicFile.h"
#include "mailmodel/compose/MessageGenerator.h"
#include "mailmodel/mime/EncodedWordCoder.h"
#include "mailmodel/mime/MimeMessageParser.h"
#include "mailmodel/mime/Rfc822Message.h"

namespace {

using namespace quorvex;

std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        out += kDigits[static_cast<unsigned char>(c) >> 4];
        out += kDigits[static_cast<unsigned char>(c) & 15];
    }
    return out;
}

std::string FromHex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

std::string Quoted(std::string_view text) { return "\"" + Hex(text) + "\""; }

// "--name value" options after the positional arguments.
std::map<std::string, std::string> Options(int argc, char** argv, int first) {
    std::map<std::string, std::string> options;
    for (int i = first; i < argc; ++i) {
        std::string key = argv[i];
        if (key.rfind("--", 0) != 0) continue;
        key = key.substr(2);
        if (key == "original" || key == "webmail")
            options[key] = "1";
        else if (i + 1 < argc)
            options[key] = argv[++i];
    }
    return options;
}

const char* Get(const std::map<std::string, std::string>& options, const char* key) {
    const auto it = options.find(key);
    return it == options.end() ? nullptr : it->second.c_str();
}

int Compose(int argc, char** argv) {
    if (argc < 4) return 2;
    std::string body;
    if (!ReadWholeFile(argv[3], body)) return 2;
    const auto options = Options(argc, argv, 4);
    const std::string charset = Get(options, "charset") != nullptr ? Get(options, "charset") : "iso-8859-1";
    compose::ComposerEnvironment environment;
    environment.charset = [charset] { return charset; };
    environment.domainName = [] { return std::string("localhost"); };
    compose::CMessageGenerator generator(environment);
    const int result = generator.GenerateMail(argv[2], body.c_str(), Get(options, "subject"), Get(options, "attach"),
                                              "mime_tool", Get(options, "from"), Get(options, "to"), Get(options, "cc"),
                                              nullptr, nullptr, 0, options.count("original") != 0 ? 1 : 0);
    std::printf("{\"result\": %d}\n", result);
    return result == 1 ? 0 : 1;
}

int Parse(int argc, char** argv) {
    if (argc < 4) return 2;
    const auto options = Options(argc, argv, 4);
    mime::MimeMessageParser parser(options.count("webmail") != 0 ? mime::MimeParserLimits::WebMail()
                                                                : mime::MimeParserLimits{});
    const int result = parser.ParseFile(argv[2], argv[3]);
    std::string attachments;
    for (const std::string& path : parser.AttachmentPaths) attachments += (attachments.empty() ? "" : ", ") + Quoted(path);
    std::printf(
        "{\"result\": %d, \"subject\": %s, \"from\": %s, \"to\": %s, \"cc\": %s, \"date\": %s, \"message_id\": %s, "
        "\"body_text\": %s, \"text_path\": %s, \"html_path\": %s, \"attachments\": [%s]}\n",
        result, Quoted(parser.Subject).c_str(), Quoted(parser.From).c_str(), Quoted(parser.To).c_str(),
        Quoted(parser.Cc).c_str(), Quoted(parser.Date).c_str(), Quoted(parser.MessageId).c_str(),
        Quoted(parser.BodyText).c_str(), Quoted(parser.TextBodyPath).c_str(), Quoted(parser.HtmlBodyPath).c_str(),
        attachments.c_str());
    return result;
}

int Load(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string bytes;
    if (!ReadWholeFile(argv[2], bytes)) return 2;
    mime::CRfc822Message message;
    const std::ptrdiff_t result = message.Load(bytes.data(), bytes.size());
    std::vector<mime::CMimeEntity*> leaves;
    message.GetBodyPartList(leaves);
    std::string parts;
    for (const mime::CMimeEntity* leaf : leaves) {
        if (!parts.empty()) parts += ", ";
        parts += "{\"type\": " + Quoted(leaf->GetContentType()) + ", \"name\": " + Quoted(leaf->GetName()) +
                 ", \"filename\": " + Quoted(leaf->GetFilename()) + ", \"content\": " + Quoted(leaf->Content()) + "}";
    }
    const std::string* subject = message.GetFieldValue("Subject");
    std::string subjectCharset;
    for (const auto& field : message.Fields())
        if (field.name == "Subject") subjectCharset = field.charset;
    std::printf("{\"result\": %td, \"subject\": %s, \"subject_charset\": %s, \"parts\": [%s]}\n", result,
                Quoted(subject != nullptr ? *subject : "").c_str(), Quoted(subjectCharset).c_str(), parts.c_str());
    return result > 0 ? 0 : 1;
}

int EncodeWord(int argc, char** argv) {
    if (argc < 5) return 2;
    std::printf("%s\n", mime::EncodeWords(FromHex(argv[4]), argv[2][0], argv[3]).c_str());
    return 0;
}

int DecodeWord(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string charset;
    const std::string bytes = mime::DecodeWords(argv[2], &charset);
    std::printf("{\"bytes\": %s, \"charset\": %s}\n", Quoted(bytes).c_str(), Quoted(charset).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string command = argv[1];
    if (command == "compose") return Compose(argc, argv);
    if (command == "parse") return Parse(argc, argv);
    if (command == "load") return Load(argc, argv);
    if (command == "ew-encode") return EncodeWord(argc, argv);
    if (command == "ew-decode") return DecodeWord(argc, argv);
    std::fprintf(stderr, "unknown command %s\n", command.c_str());
    return 2;
}
