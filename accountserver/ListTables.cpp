// The per-account tables: remote POP3 boxes, forwarding, filter rules and
// auto-reply.
#include <optional>

#include "accountserver/AccountProtocol.h"
#include "accountserver/Table.h"
#include "common/AccountName.h"
#include "common/TextHelpers.h"
#include "mailmodel/account/EmailForward.h"
#include "mailmodel/account/EmailPOP3Remote.h"
#include "mailmodel/autoreply/EmailAutoReply.h"
#include "servers/filters/EmailFilter.h"

namespace quorvex::accountserver {

namespace {

constexpr std::size_t kTextField = 256;
constexpr std::size_t kBodyField = 4096;

class Pop3InfoTable final : public Table {
public:
    bool Open(const std::string& argument) override { return boxes_.Load(argument); }
    std::optional<bool> AddNew() override { return boxes_.AddMailbox(current_); }
    std::optional<int> GetCount() override { return boxes_.GetCount(); }
    std::optional<bool> Update() override { return boxes_.Save(); }
    std::optional<bool> Delete(int index) override { return boxes_.DeleteMailbox(index); }
    std::optional<bool> Edit(int index) override { return boxes_.SetMailbox(index, current_); }
    std::optional<bool> GetData(int index) override {
        RemotePop3Mailbox box;
        if (!boxes_.GetMailbox(index, box)) return false;
        current_ = box;
        return true;
    }
    std::optional<std::string> GetValue(std::string_view name) override {
        if (SameName(name, "Enable")) return std::to_string(current_.Enable);
        if (SameName(name, "LeaveCopy")) return std::to_string(current_.LeaveCopy);
        if (const auto text = TextField(name)) return **text;
        return std::nullopt;
    }
    bool SetValue(std::string_view name, std::string_view value) override {
        if (SameName(name, "Enable")) current_.Enable = ReadDecimal(value);
        else if (SameName(name, "LeaveCopy")) current_.LeaveCopy = ReadDecimal(value);
        else if (const auto text = TextField(name)) **text = CutText(value, kTextField);
        else return false;
        return true;
    }

private:
    std::optional<std::string*> TextField(std::string_view name) {
        if (SameName(name, "POP3Account")) return &current_.POP3Account;
        if (SameName(name, "POP3Password")) return &current_.POP3Password;
        if (SameName(name, "POP3Server")) return &current_.POP3Server;
        return std::nullopt;
    }

    CEmailPOP3Remote boxes_;
    RemotePop3Mailbox current_;
};

class ForwardInfoTable final : public Table {
public:
    bool Open(const std::string& argument) override { return forward_.Load(argument); }
    std::optional<bool> AddNew() override { return forward_.AddAddress(current_); }
    std::optional<int> GetCount() override { return forward_.GetCount(); }
    std::optional<bool> Update() override { return forward_.Save(); }
    std::optional<bool> Delete(int index) override { return forward_.DeleteAddress(index); }
    std::optional<bool> Edit(int index) override { return forward_.SetAddress(index, current_); }
    std::optional<bool> GetData(int index) override {
        const auto address = forward_.GetAddress(index);
        if (!address) return false;
        current_ = *address;
        return true;
    }
    std::optional<std::string> GetValue(std::string_view name) override {
        if (SameName(name, "Enable")) return std::to_string(forward_.EnableForwardMailAddresses);
        if (SameName(name, "LeaveCopy")) return std::to_string(forward_.LeaveCopyLocal);
        if (SameName(name, "EmailAddress")) return current_;
        return std::nullopt;
    }
    bool SetValue(std::string_view name, std::string_view value) override {
        if (SameName(name, "Enable")) forward_.EnableForwardMailAddresses = ReadDecimal(value);
        else if (SameName(name, "LeaveCopy")) forward_.LeaveCopyLocal = ReadDecimal(value);
        else if (SameName(name, "EmailAddress")) current_ = CutText(value, kTextField);
        else return false;
        return true;
    }

private:
    CEmailForward forward_;
    std::string current_;
};

class FilterInfoTable final : public Table {
public:
    bool Open(const std::string& argument) override { return filter_.Load(argument); }
    std::optional<bool> AddNew() override { return filter_.AddRule(current_); }
    std::optional<int> GetCount() override { return filter_.GetCount(); }
    std::optional<bool> Update() override { return filter_.Save(); }
    std::optional<bool> Delete(int index) override { return filter_.DeleteRule(index); }
    std::optional<bool> Edit(int index) override { return filter_.SetRule(index, current_); }
    std::optional<bool> GetData(int index) override {
        FilterRule rule;
        if (!filter_.GetRule(index, rule)) return false;
        current_ = rule;
        return true;
    }
    std::optional<bool> MoveUp(int index) override { return filter_.MoveRuleUp(index); }
    std::optional<bool> MoveDown(int index) override { return filter_.MoveRuleDown(index); }
    std::optional<std::string> GetValue(std::string_view name) override {
        if (const auto byte = ByteField(name)) return std::to_string(static_cast<int>(**byte));
        if (SameName(name, "From")) return current_.From;
        if (SameName(name, "Subject")) return current_.Subject;
        return std::nullopt;
    }
    bool SetValue(std::string_view name, std::string_view value) override {
        // One-byte fields keep the low eight bits of the number.
        if (const auto byte = ByteField(name)) **byte = static_cast<unsigned char>(ReadDecimal(value) & 0xff);
        else if (SameName(name, "From")) current_.From = CutText(value, kTextField);
        else if (SameName(name, "Subject")) current_.Subject = CutText(value, kTextField);
        else return false;
        return true;
    }

private:
    std::optional<unsigned char*> ByteField(std::string_view name) {
        if (SameName(name, "Enable")) return &current_.Enable;
        if (SameName(name, "EmailDeliver")) return &current_.EmailDeliver;
        if (SameName(name, "FolderDeliverTo")) return &current_.FolderDeliverTo;
        if (SameName(name, "FromCompare")) return &current_.FromCompare;
        if (SameName(name, "SubjectCompare")) return &current_.SubjectCompare;
        return std::nullopt;
    }

    CEmailFilter filter_;
    FilterRule current_;
};

class AutoReplyInfoTable final : public Table {
public:
    bool Open(const std::string& argument) override {
        if (!reply_.Load(argument)) return false;
        return reply_.GetSettings(current_);
    }
    std::optional<bool> Update() override { return reply_.SetSettings(current_) && reply_.Save(); }
    std::optional<std::string> GetValue(std::string_view name) override {
        if (SameName(name, "Enable")) return std::to_string(current_.Enable);
        if (SameName(name, "Subject")) return current_.Subject;
        // Line breaks travel as the four characters backslash r backslash n.
        if (SameName(name, "Body")) return ReplaceAll(current_.Body, kLineBreak, kEscapedLineBreak);
        return std::nullopt;
    }
    bool SetValue(std::string_view name, std::string_view value) override {
        if (SameName(name, "Enable")) current_.Enable = ReadDecimal(value);
        else if (SameName(name, "Subject")) current_.Subject = CutText(value, kTextField);
        else if (SameName(name, "Body")) current_.Body = CutText(ReplaceAll(value, kEscapedLineBreak, kLineBreak), kBodyField);
        else return false;
        return true;
    }

private:
    EmailAutoReply reply_;
    AutoReplySettings current_;
};

}  // namespace

std::unique_ptr<Table> MakePop3InfoTable(const TableLogin&) { return std::make_unique<Pop3InfoTable>(); }
std::unique_ptr<Table> MakeForwardInfoTable(const TableLogin&) { return std::make_unique<ForwardInfoTable>(); }
std::unique_ptr<Table> MakeFilterInfoTable(const TableLogin&) { return std::make_unique<FilterInfoTable>(); }
std::unique_ptr<Table> MakeAutoReplyInfoTable(const TableLogin&) { return std::make_unique<AutoReplyInfoTable>(); }

}  // namespace quorvex::accountserver
