// The form upload parser over request bodies given as bytes: which files a
// body leaves in the destination folder, with which bytes, what the page
// gets back, and that a body it cannot take in whole leaves nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "support/TempFolder.h"
#include "webcom/smtp/FormUpload.h"

namespace quorvex::webcom {
namespace {

using namespace std::string_literals;
using testing::TempFolder;
namespace fs = std::filesystem;

constexpr Status kRequestFailure = FailureStatus(0x80004005u);

// The web server's request object over a byte string: reads of at most
// `chunk` bytes, optionally cut off after `cut_at` bytes or failing.
class BytesRequest final : public IRequest {
public:
    explicit BytesRequest(std::string body, std::size_t chunk = 1 << 20) : body_(std::move(body)), chunk_(chunk) {}
    std::size_t cut_at = std::string::npos;
    bool fail_total = false;
    bool fail_read = false;

    Status TotalBytes(std::int64_t& total) override {
        total = static_cast<std::int64_t>(body_.size());
        return fail_total ? kRequestFailure : kOk;
    }
    Status BinaryRead(void* buffer, std::int64_t& count) override {
        if (fail_read && offset_ > 0) return kRequestFailure;
        const std::size_t end = std::min(body_.size(), cut_at);
        const std::size_t n = std::min({static_cast<std::size_t>(count), chunk_, end - std::min(end, offset_)});
        std::memcpy(buffer, body_.data() + offset_, n);
        offset_ += n;
        count = static_cast<std::int64_t>(n);
        return kOk;
    }

private:
    std::string body_;
    std::size_t chunk_;
    std::size_t offset_ = 0;
};

constexpr const char* kBoundary = "----WebKitFormBoundary7MA4YWxkTrZu0gW";
// A boundary line as it stands in the body.
const std::string kDelimiter = "--"s + kBoundary + "\r\n";

// A form as browsers send it.
class Form {
public:
    explicit Form(std::string boundary = kBoundary) : boundary_(std::move(boundary)) {}
    Form& Field(std::string_view name, std::string_view value) {
        body_ += "--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + std::string(name) + "\"\r\n\r\n" +
                 std::string(value) + "\r\n";
        return *this;
    }
    Form& File(std::string_view name, std::string_view file_name, std::string_view content) {
        body_ += "--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + std::string(name) +
                 "\"; filename=\"" + std::string(file_name) + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
                 std::string(content) + "\r\n";
        return *this;
    }
    Form& Raw(std::string_view bytes) {
        body_ += bytes;
        return *this;
    }
    std::string Open() const { return body_; }
    std::string Closed() const { return body_ + "--" + boundary_ + "--\r\n"; }

private:
    std::string boundary_;
    std::string body_;
};

using Files = std::map<std::string, std::string>;

// What a file holds, short enough to read in a failure message: short
// texts as they are, anything else as its size and a hash.
std::string Summary(const std::string& bytes) {
    if (bytes.size() <= 40 && bytes.find('\0') == std::string::npos) return bytes;
    return std::to_string(bytes.size()) + " bytes #" + std::to_string(std::hash<std::string>{}(bytes));
}

Files Summaries(const Files& files) {
    Files out;
    for (const auto& [path, bytes] : files) out[path] = Summary(bytes);
    return out;
}

// Every file below a folder, by its path relative to it, summarised.
Files FilesBelow(const std::string& folder) {
    Files files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[fs::relative(entry.path(), folder).string()] = Summary(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    return files;
}

std::string Binary(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 7 == 0 ? 0 : random());
    return bytes;
}

class FormUploadTest : public ::testing::Test {
protected:
    void SetUp() override { upload.SetUploadPath(dest()); }
    std::string dest() const { return root.File("alice/form"); }
    CFormUpload::Outcome Parse(BytesRequest request) { return upload.ParseUploadRequest(request); }

    TempFolder root;
    CFormUpload upload;
};

TEST_F(FormUploadTest, BodiesAndTheFilesTheyLeave) {
    const std::string binary = Binary(200000, 1) + std::string(10000, 'L') + "\r\n" + std::string(10000, 'M') + "\n" +
                               "\r\n--not-the-boundary\r\n" + Binary(5000, 2);
    const auto cut = [](const std::string& body, std::size_t bytes) { return body.substr(0, body.size() - bytes); };
    const struct Case {
        const char* name;
        std::string body;
        Status status;
        bool failed;
        Files files;
    } cases[] = {
        {"five-letter value, no line end kept", Form().Field("to", "hello").Closed(), kOk, false, {{"to", "hello"}}},
        {"client path with drive and folders", Form().File("attach", "C:\\Users\\bob\\My Docs\\report.pdf", "PDF").Closed(),
         kOk, false, {{"attach/report.pdf", "PDF"}}},
        {"unix client path", Form().File("attach", "/home/bob/notes.txt", "N").Closed(), kOk, false,
         {{"attach/notes.txt", "N"}}},
        {"no file chosen", Form().File("attach", "", "").Closed(), kOk, false, {{"attach/_", ""}}},
        {"names cleaned", Form().Field("a#b", "1").Field("c:d", "2").Field("a\0b"s, "3").Closed(), kOk, false,
         {{"a_b", "3"}, {"c_d", "2"}}},
        {"hostile names stay inside", Form().Field("../x", "1").Field("..", "2").Field("/etc/passwd", "3")
                                          .File("../../up", "../../../evil.sh", "4").Closed(),
         kOk, false, {{"_._x", "1"}, {"_.", "2"}, {"_etc_passwd", "3"}, {"_.__._up/evil.sh", "4"}}},
        {"a field named like the temporary file", Form().Field("uploadtemp.dat", "v").Field("to", "t").Closed(), kOk,
         false, {{"uploadtemp.dat", "v"}, {"to", "t"}}},
        {"binary content, NULs and 10,000-byte lines unchanged", Form().File("f", "b.bin", binary).Field("to", "x").Closed(),
         kOk, false, {{"f/b.bin", binary}, {"to", "x"}}},
        {"empty values", Form().Field("a", "").Field("b", "\r\n").Closed(), kOk, false, {{"a", ""}, {"b", "\r\n"}}},
        {"a field sent twice keeps the last value", Form().Field("to", "one").Field("to", "two").Closed(), kOk, false,
         {{"to", "two"}}},
        {"part headers beyond the disposition are not content",
         Form().Raw("--B\r\nContent-Disposition: form-data; name=\"a\"\r\nContent-Type: text/plain\r\n"
                    "Content-Transfer-Encoding: 8bit\r\n\r\nvalue\r\n--B--\r\n").Open(),
         kOk, false, {{"a", "value"}}},
        {"header names in any case",
         Form().Raw("--B\r\ncontent-disposition: form-data; name=\"a\"\r\n\r\nv\r\n--B--\r\n").Open(), kOk, false,
         {{"a", "v"}}},
        {"line ends of bare LF", Form().Raw("--B\nContent-Disposition: form-data; name=\"a\"\n\nv1\nv2\n--B--\n").Open(),
         kOk, false, {{"a", "v1\nv2"}}},
        {"the boundary text inside a line is content",
         Form().Raw("--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nx--B y\r\n--B--\r\n").Open(), kOk, false,
         {{"a", "x--B y"}}},
        {"closing boundary ends the parse whatever follows",
         Form().Field("to", "x").Closed() + kDelimiter + "Content-Disposition: form-data; name=\"late\"\r\n\r\nno\r\n",
         kOk, false, {{"to", "x"}}},
        {"a last delimiter without the closing dashes", Form().Field("to", "x").Open() + kDelimiter, kOk, false,
         {{"to", "x"}}},
        {"a part that is not a form field stops the parse",
         Form().Field("to", "x").Raw(kDelimiter + "Content-Type: text/plain\r\n\r\nz\r\n").Field("cc", "y").Closed(),
         kOk, false, {{"to", "x"}}},
        {"a file part without its file name stops the parse",
         Form().Field("to", "x").Raw(kDelimiter + "Content-Disposition: form-data; name=\"f\"; size=3\r\n\r\nabc\r\n")
             .Field("cc", "y").Closed(),
         kOk, false, {{"to", "x"}}},
        {"a header line beyond 4095 characters stops the parse",
         Form().Field("to", "x").Field(std::string(5000, 'n'), "v").Field("cc", "y").Closed(), kOk, false,
         {{"to", "x"}}},
        {"a plain field and a file field of one name: the second part is skipped",
         Form().Field("x", "plain").File("x", "f.txt", "file").Field("to", "t").Closed(), kOk, false,
         {{"x", "plain"}, {"to", "t"}}},
        {"an empty first line is no form", "\r\n" + Form().Field("to", "x").Closed(), kFalse, false, {}},
        {"a body without any line end is no form", std::string(5000, 'x'), kFalse, false, {}},
        {"a body ending inside a value", cut(Form().Field("to", "x").File("f", "a.bin", "12345").Open(), 4), kFalse,
         true, {}},
        {"a missing closing boundary", Form().Field("to", "x").File("f", "a.bin", "12345").Open() + "tail", kFalse,
         true, {}},
        {"a body ending inside the part headers",
         Form().Field("to", "x").Raw(kDelimiter + "Content-Disposition: form-da").Open(), kFalse, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFormUpload fresh;
        fresh.SetUploadPath(dest());
        BytesRequest request(c.body);
        const auto outcome = fresh.ParseUploadRequest(request);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.failed, c.failed);
        EXPECT_EQ(FilesBelow(dest()), Summaries(c.files));
        // Nothing but the form's files: no temporary file is left either.
        for (const auto& entry : fs::directory_iterator(dest())) EXPECT_NE(entry.path().filename().string()[0], '.');
    }
}

TEST_F(FormUploadTest, ReadersFindOnlyStoredNames) {
    std::ofstream(root.File("secret")) << "outside";
    ASSERT_EQ(Parse(BytesRequest(Form().Field("to", "a@x").Field("a#b", "hash").File("f", "r.pdf", "PDF")
                                     .File("none", "", "").Closed()))
                  .status,
              kOk);
    EXPECT_EQ(upload.ReadFieldValue("to"), "a@x");
    EXPECT_EQ(upload.ReadFieldValue("to", 1), "a");
    EXPECT_EQ(upload.ReadFieldValue("a#b"), "");  // stored as "a_b"
    EXPECT_EQ(upload.ReadFieldValue("a_b"), "hash");
    EXPECT_EQ(upload.FindUploadedFile("f"), JoinPath(dest(), "f/r.pdf"));
    EXPECT_EQ(upload.FindUploadedFile("none"), "");  // only "_": no file was chosen
    EXPECT_EQ(upload.FindUploadedFile("to"), "");    // a plain field has no file
    EXPECT_EQ(upload.ReadFieldValue("f"), "");       // a file field has no value
    for (const char* hostile : {"../secret", "../../alice/form/to", "/etc/passwd", "", "f/r.pdf"}) {
        EXPECT_EQ(upload.ReadFieldValue(hostile), "") << hostile;
        EXPECT_EQ(upload.FindUploadedFile(hostile), "") << hostile;
    }
    // A link placed in a field's folder is not an upload.
    fs::remove(JoinPath(dest(), "f/r.pdf"));
    fs::create_symlink(root.File("secret"), JoinPath(dest(), "f/link.pdf"));
    EXPECT_EQ(upload.FindUploadedFile("f"), "");

    CFormUpload unset;
    BytesRequest request(Form().Field("to", "x").Closed());
    EXPECT_TRUE(unset.ParseUploadRequest(request).failed);
    EXPECT_EQ(unset.ReadFieldValue("to"), "");
    EXPECT_EQ(unset.FindUploadedFile("f"), "");
}

TEST_F(FormUploadTest, ANewFormReplacesTheLastOne) {
    ASSERT_EQ(Parse(BytesRequest(Form().Field("to", "old").File("f", "old.pdf", "1").Closed())).status, kOk);
    ASSERT_EQ(Parse(BytesRequest(Form().File("f", "new.pdf", "2").Closed())).status, kOk);
    EXPECT_EQ(FilesBelow(dest()), (Files{{"f/new.pdf", "2"}}));
    // An empty body is no form and leaves the last one as it was.
    EXPECT_EQ(Parse(BytesRequest("")).status, kFalse);
    EXPECT_EQ(upload.FindUploadedFile("f"), JoinPath(dest(), "f/new.pdf"));
}

TEST_F(FormUploadTest, ReadsOfAnySizeGiveTheSameFiles) {
    const std::string body = Form().Field("to", "a@x").File("f", "b.bin", Binary(150000, 3)).Closed();
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{65536}}) {
        SCOPED_TRACE(chunk);
        std::string small = chunk == 1 ? Form().Field("to", "a@x").File("f", "b.bin", Binary(3000, 3)).Closed() : body;
        ASSERT_EQ(Parse(BytesRequest(small, chunk)).status, kOk);
        const auto files = FilesBelow(dest());
        EXPECT_EQ(files.at("to"), "a@x");
        EXPECT_EQ(files.at("f/b.bin"), Summary(chunk == 1 ? Binary(3000, 3) : Binary(150000, 3)));
    }
}

TEST_F(FormUploadTest, ARequestThatFailsLeavesTheLastFormAsItWas) {
    const std::string body = Form().Field("to", "a@x").File("f", "b.bin", Binary(300000, 4)).Closed();
    ASSERT_EQ(Parse(BytesRequest(Form().Field("old", "o").Closed())).status, kOk);
    const Files last{{"old", "o"}};

    BytesRequest cut(body, 65536);
    cut.cut_at = 200000;
    const auto cut_off = upload.ParseUploadRequest(cut);
    EXPECT_EQ(cut_off.status, kFalse);
    EXPECT_TRUE(cut_off.failed);
    EXPECT_EQ(FilesBelow(dest()), last);

    BytesRequest failing(body, 65536);
    failing.fail_read = true;
    const auto failed = upload.ParseUploadRequest(failing);
    EXPECT_EQ(failed.status, kRequestFailure);
    EXPECT_TRUE(failed.failed);
    EXPECT_EQ(FilesBelow(dest()), last);

    BytesRequest no_total(body);
    no_total.fail_total = true;
    EXPECT_EQ(upload.ParseUploadRequest(no_total).status, kRequestFailure);

    upload.SetSizeLimit(static_cast<std::int32_t>(body.size() - 1));
    const auto over = Parse(BytesRequest(body));
    EXPECT_EQ(over.status, kFalse);
    EXPECT_TRUE(over.failed);
    EXPECT_EQ(FilesBelow(dest()), last);
    upload.SetSizeLimit(static_cast<std::int32_t>(body.size()));
    EXPECT_EQ(Parse(BytesRequest(body)).status, kOk);
    upload.SetSizeLimit(0);
    EXPECT_EQ(Parse(BytesRequest(body)).status, kOk);
    EXPECT_EQ(FilesBelow(dest()).size(), 2u);
}

TEST_F(FormUploadTest, AWriteThatFailsLeavesNoPartialFile) {
    // A file size limit of the process makes writes beyond it fail as a
    // full disk does (EFBIG instead of ENOSPC).
    const std::string body = Form().Field("to", "a@x").File("f", "b.bin", Binary(300000, 5)).Closed();
    {
        const rlim_t limit = 100000;
        const auto previous = ::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &small);
        const auto outcome = Parse(BytesRequest(body));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, previous);
        EXPECT_EQ(outcome.status, kFalse);
        EXPECT_TRUE(outcome.failed);
        EXPECT_EQ(FilesBelow(dest()), (Files{}));
    }
}

TEST_F(FormUploadTest, AReadOnlyDestinationIsRefused) {
    // The parse runs in a child that is not root (root writes anywhere).
    fs::permissions(root.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(dest());
    fs::permissions(root.File("alice"), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dest(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && ::setresuid(65534, 65534, 65534) != 0) ::_exit(2);
        BytesRequest request(Form().Field("to", "a@x").Closed());
        const auto outcome = upload.ParseUploadRequest(request);
        ::_exit(outcome.status == kFalse && outcome.failed ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(FilesBelow(dest()), (Files{}));
}

}  // namespace
}  // namespace quorvex::webcom
