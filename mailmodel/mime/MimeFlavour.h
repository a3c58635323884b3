// The two builds of the MIME library: the server's and the web-mail
// component's. They differ only in a few traits. Each entity tree carries
// its flavour (given when its root is made, passed on to every part it
// creates), so both deliverables link the same code and one process may
// parse in either flavour.
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

const MimeFlavourTraits& TraitsOf(MimeFlavour flavour);

}  // namespace quorvex::mime
