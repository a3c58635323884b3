// Address splitting and recipient-list formatting.
#include "mailmodel/compose/MailAddress.h"

#include "common/ErrorLog.h"
#include "common/TextHelpers.h"
#include "mailmodel/mime/MimeTextRoutines.h"

namespace quorvex::compose {
namespace {

constexpr std::size_t kMaxListItem = 4096;

std::string Bounded(std::string_view text, std::size_t capacity) {
    if (text.size() > capacity) {
        QUORVEX_ERROR_LOG("Buffer overflow");
        text = text.substr(0, capacity);
    }
    return std::string(text);
}

}  // namespace

MailAddress& MailAddress::SplitAddress(std::string_view text) {
    DisplayName.clear();
    Address.clear();
    const std::size_t open = text.find('<');
    if (open == std::string_view::npos) {
        Address = Bounded(text, kCapacity);
    } else {
        DisplayName = Bounded(text.substr(0, open), kCapacity);
        const std::size_t close = text.find('>');
        if (close != std::string_view::npos && close < open) {
            DisplayName.clear();
            return *this;
        }
        // Without a closing '>' the address is the rest of the text.
        const std::string_view inner = text.substr(open + 1, close == std::string_view::npos
                                                                 ? std::string_view::npos
                                                                 : close - open - 1);
        Address = Bounded(inner, kCapacity);
    }
    TrimToken(Address, " ");
    TrimToken(DisplayName, " ");
    TrimToken(DisplayName, "\"");
    return *this;
}

void MailAddress::Set(std::string_view displayName, std::string_view address) {
    DisplayName = Bounded(displayName, kCapacity);
    Address = Bounded(address, kCapacity);
}

std::string MailAddress::Format() const {
    if (DisplayName.empty()) return Address;
    return "\"" + DisplayName + "\" <" + Address + ">";
}

std::vector<std::string_view> SplitAddressItems(std::string_view list) {
    std::vector<std::string_view> items;
    std::size_t itemStart = 0;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        const char c = i < list.size() ? list[i] : '\0';
        if (c == '"' || c == '\'') {
            const std::size_t close = list.find(c, i + 1);
            if (close != std::string_view::npos) {
                i = close;
                continue;
            }
        }
        if (c != ';' && c != ',' && i != list.size()) continue;
        items.push_back(list.substr(itemStart, i - itemStart));
        itemStart = i + 1;
    }
    return items;
}

std::vector<std::string> SplitAddressList(std::string_view list) {
    std::vector<std::string> recipients;
    for (const std::string_view raw : SplitAddressItems(list)) {
        std::string item(raw);
        TrimToken(item, " ");
        if (!item.empty()) recipients.push_back(std::move(item));
    }
    return recipients;
}

AddressListResult FormatAddressList(std::string_view list, std::string& out, std::size_t capacity) {
    out.clear();
    for (const std::string_view raw : SplitAddressItems(list)) {
        if (raw.size() >= kMaxListItem) return AddressListResult::kItemTooLong;
        std::string item(raw);
        TrimToken(item, " ");
        if (item.empty()) continue;
        const std::size_t added = item.size() + (out.empty() ? 0 : 4);
        if (out.size() + added > capacity) return AddressListResult::kOverflow;
        if (!out.empty()) out += ",\r\n\t";
        out += item;
    }
    return AddressListResult::kOk;
}

std::string ExtractBareAddress(std::string_view text, std::size_t capacity) {
    const std::size_t open = text.find('<');
    if (open == std::string_view::npos) return std::string(text.substr(0, capacity > 0 ? capacity - 1 : 0));
    const std::size_t close = text.find('>');
    if (close != std::string_view::npos && close < open) return {};
    const std::string_view inner =
        text.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
    if (inner.size() + 1 > capacity) return {};
    return std::string(inner);
}

}  // namespace quorvex::compose
