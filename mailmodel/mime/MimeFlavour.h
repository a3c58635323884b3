// The two builds of the MIME library: the server's and the web-mail
// component's. They differ only in a few traits, chosen once at start-up
// with SetMimeFlavour before any message is handled, so both deliverables
// link the same code.
#pragma once

#include <string_view>

namespace quorvex::mime {

enum class MimeFlavour { Server, WebMail };

struct MimeFlavourTraits {
    // uuencoded blocks in text bodies and the "uuencode" transfer coder.
    bool uuencode;
    // Prefix of a made-up multipart boundary ("<prefix>%03d_%06d.%06d").
    std::string_view boundaryPrefix;
    // Number of main media types known to GetMediaType (7 drops "uuencode").
    int mediaTypeCount;
};

// Selects the flavour and rebuilds the transfer-coder registry to match.
void SetMimeFlavour(MimeFlavour flavour);
const MimeFlavourTraits& CurrentMimeFlavour();

}  // namespace quorvex::mime
