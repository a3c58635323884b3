// A MIME entity (RFC 2045/2046): a header, its decoded content and, for a
// multipart, its child entities. Load parses a whole message held in
// memory; Store writes the tree back with every encoding applied again.
// Loading is bounded for hostile input: nesting depth and part count are
// capped, every search stays inside the given length.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mailmodel/mime/EntityHeader.h"

namespace quorvex::mime {

class CRfc822Message;

// Deeper multiparts are kept as undivided content.
inline constexpr int kMaxMimeDepth = 32;
// Parts beyond this many in one message are not loaded.
inline constexpr std::size_t kMaxMimeParts = 10000;

class CMimeEntity : public CEntityHeader {
public:
    explicit CMimeEntity(MimeFlavour flavour = MimeFlavour::Server) : CEntityHeader(flavour) {}
    CMimeEntity(const CMimeEntity&) = delete;
    CMimeEntity& operator=(const CMimeEntity&) = delete;
    ~CMimeEntity() override = default;

    void Clear() override;
    std::size_t GetLength() override;
    std::ptrdiff_t Store(char* buffer, std::size_t capacity) override;
    std::ptrdiff_t Load(const char* text, std::size_t length) override;

    // Replaces the content; length 0 means up to the first NUL.
    std::ptrdiff_t SetText(const char* text, std::size_t length = 0);
    std::ptrdiff_t SetText(std::string_view text);
    std::size_t CopyText(char* buffer, std::size_t n) const;
    std::size_t GetText(std::string& out) const;
    const std::string& Content() const { return content_; }
    std::size_t ContentLength() const { return content_.size(); }

    // Embeds a message as "message/rfc822" content / parses it back (in
    // the flavour `message` was made with).
    bool SetMessage(CRfc822Message& message);
    std::ptrdiff_t GetMessage(CRfc822Message& message) const;

    bool ReadFromFile(const std::string& path);
    bool WriteToFile(const std::string& path) const;

    using PartList = std::vector<std::unique_ptr<CMimeEntity>>;
    const PartList& Parts() const { return parts_; }
    void DeleteAllParts() { parts_.clear(); }
    CMimeEntity* CreatePart(std::string_view mediaType = {}, const CMimeEntity* before = nullptr);
    void ErasePart(const CMimeEntity* part);
    std::size_t GetBodyPartList(std::vector<CMimeEntity*>& list);
    std::size_t GetAttachmentList(std::vector<CMimeEntity*>& list);

    // Stores the whole tree into a string sized by GetLength.
    std::string StoreToString();

private:
    struct LoadBudget {
        std::size_t partsLeft = kMaxMimeParts;
    };
    std::ptrdiff_t LoadWithin(const char* text, std::size_t length, LoadBudget& budget, int depth);

    std::string content_;
    PartList parts_;
};

// The entity factory behind CreatePart: every media type makes a plain
// CMimeEntity (no other entity class exists) of the given flavour.
std::unique_ptr<CMimeEntity> CreateEntity(std::string_view mediaType, MimeFlavour flavour = MimeFlavour::Server);

}  // namespace quorvex::mime
