// Addresses as the composer and the SMTP server read them: a display name
// and an address split out of a header-style text, formatted back, and a
// user-typed recipient list turned into one header value.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::compose {

struct MailAddress {
    static constexpr std::size_t kCapacity = 1024;

    std::string DisplayName;
    std::string Address;

    MailAddress() = default;
    MailAddress(std::string_view displayName, std::string_view address) { Set(displayName, address); }

    // "Name <addr>", "\"Name\" <addr>" or a bare address. A text whose first
    // '>' stands before its first '<' gives two empty fields.
    MailAddress& SplitAddress(std::string_view text);
    void Set(std::string_view displayName, std::string_view address);
    // "\"name\" <address>" with a display name, else the address alone.
    std::string Format() const;
};

// The items of a recipient list as typed: ';', ',' and the end of the text
// end an item, except between a double quote and the next double quote or
// a single quote and the next single quote (a quote without a partner is
// an ordinary character). Items as they stand, empty ones included.
std::vector<std::string_view> SplitAddressItems(std::string_view list);
// The recipients of a list: its items trimmed of blanks, empty ones left out.
std::vector<std::string> SplitAddressList(std::string_view list);

enum class AddressListResult { kOk, kItemTooLong, kOverflow };

// Items end at ';', ',' or the end (separators inside a quoted string do not
// count); each is trimmed of blanks and joined with ",\r\n\t". An item of
// 4096 characters or more stops the walk (kItemTooLong, the output keeps
// what came before); an output beyond `capacity` bytes gives kOverflow.
AddressListResult FormatAddressList(std::string_view list, std::string& out, std::size_t capacity);

// The address inside angle brackets, or the whole text when it has none;
// empty when '>' comes first or the address is longer than capacity - 1.
std::string ExtractBareAddress(std::string_view text, std::size_t capacity);

}  // namespace quorvex::compose
