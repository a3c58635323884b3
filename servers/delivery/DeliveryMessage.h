// A message as local delivery takes it: held in memory while it is small,
// else in a file. The mailbox store takes the text from memory; the steps
// that need a file (the outgoing queue, the filters, the virus scanner, an
// auto-reply) ask for one, and a message held in memory is then written out
// once to a spool file, which holds it from then on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

class DeliveryMessage {
public:
    virtual ~DeliveryMessage() = default;

    // Its length in bytes (0 when its file cannot be examined).
    virtual std::int64_t size() const = 0;
    // The text, while the message is held in memory.
    virtual std::optional<std::string_view> text() const = 0;
    // The file that holds the message, written now when it was held in
    // memory; null when that failed (see error()).
    virtual const std::string* File() = 0;
    // The system error of a failed write of the message (0 when none).
    virtual int error() const { return 0; }
};

// A message in a file that its caller keeps and removes.
class MessageInFile final : public DeliveryMessage {
public:
    explicit MessageInFile(std::string path) : path_(std::move(path)) {}

    std::int64_t size() const override;
    std::optional<std::string_view> text() const override { return std::nullopt; }
    const std::string* File() override { return &path_; }

private:
    std::string path_;
};

}  // namespace quorvex
