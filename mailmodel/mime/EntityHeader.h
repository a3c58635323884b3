// The header of a MIME entity: an ordered list of fields (duplicates
// allowed, lookups take the first match case-insensitively) with the
// shorthands for the MIME fields and the media-type tables.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "mailmodel/mime/HeaderField.h"
#include "mailmodel/mime/MimeFlavour.h"

namespace quorvex::mime {

// Index into the main media types; the last known index + 1 means "not listed".
enum MediaTypeIndex : int {
    kMediaText = 0,
    kMediaImage = 1,
    kMediaAudio = 2,
    kMediaVideo = 3,
    kMediaApplication = 4,
    kMediaMultipart = 5,
    kMediaMessage = 6,
    kMediaUuencode = 7,  // the library's own marker for uuencoded blocks
};

// Main type name of an index ("text" ... "uuencode"); empty when unknown
// in that flavour.
std::string_view MediaTypeName(int index, MimeFlavour flavour = MimeFlavour::Server);
// "application/pdf" and so on for a file-name extension; empty when the
// extension is not in the table.
std::string ContentTypeForExtension(std::string_view extension);

class CEntityHeader {
public:
    using FieldList = std::vector<CHeaderField>;

    // The flavour decides the media types known, uuencoded blocks and the
    // made-up boundary of this header (and, for an entity, of its parts).
    explicit CEntityHeader(MimeFlavour flavour = MimeFlavour::Server) : flavour_(flavour) {}
    CEntityHeader(const CEntityHeader&) = default;
    CEntityHeader& operator=(const CEntityHeader&) = default;
    virtual ~CEntityHeader() = default;

    virtual void Clear() { fields_.clear(); }
    virtual std::size_t GetLength();
    virtual std::ptrdiff_t Store(char* buffer, std::size_t capacity);
    virtual std::ptrdiff_t Load(const char* text, std::size_t length);

    MimeFlavour flavour() const { return flavour_; }
    const FieldList& Fields() const { return fields_; }
    FieldList::iterator FindField(std::string_view name);
    FieldList::const_iterator FindField(std::string_view name) const;
    // Value of the first field of that name, null when absent.
    const std::string* GetFieldValue(std::string_view name) const;
    std::string GetFieldParameter(std::string_view name, std::string_view parameter) const;
    void SetFieldValue(std::string_view name, std::string_view value, const char* charset = nullptr);
    void SetField(const CHeaderField& field);
    // Sets a parameter of text for people (a file name) on the first field
    // of that name, in quotes or in the RFC 2231 form
    // (CHeaderField::SetTextParameter); nothing when there is no such field.
    void SetFieldTextParameter(std::string_view name, std::string_view parameter, std::string_view text,
                               std::string_view charset);
    void AppendField(CHeaderField field);

    std::string GetContentType() const { return ValueOrEmpty("Content-Type"); }
    std::string GetTransferEncoding() const { return ValueOrEmpty("Content-Transfer-Encoding"); }
    std::string GetBoundary() const { return GetFieldParameter("Content-Type", "boundary"); }
    std::string GetName() const { return GetFieldParameter("Content-Type", "name"); }
    std::string GetFilename() const { return GetFieldParameter("Content-Disposition", "filename"); }

    int GetMediaType() const;
    std::string GetMediaTypeName() const;
    std::string GetSubType() const;
    bool IsText() const;
    bool IsAttachment() const { return !GetName().empty() || !GetFilename().empty(); }

    void SetContentType(std::string_view value, const char* charset = nullptr) {
        SetFieldValue("Content-Type", value, charset);
    }
    void SetTransferEncoding(std::string_view value) { SetFieldValue("Content-Transfer-Encoding", value); }
    void SetDisposition(std::string_view value, const char* charset = nullptr) {
        SetFieldValue("Content-Disposition", value, charset);
    }
    void SetCharset(std::string_view charset);
    void SetName(std::string_view name);
    // A null boundary is made up ("__=_Part__%03d_%06d.%06d" in the
    // server's flavour).
    void SetBoundary(const char* boundary);

protected:
    std::string ValueOrEmpty(std::string_view name) const;
    const MimeFlavourTraits& Traits() const { return TraitsOf(flavour_); }

    MimeFlavour flavour_;
    FieldList fields_;
};

}  // namespace quorvex::mime
