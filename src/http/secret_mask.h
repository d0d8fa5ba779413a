// Secrets in traffic as people may see it: the values of the "Authorization",
// "Proxy-Authorization" and "partner-token" header lines and the "access_token" of a token answer
// keep at most their last four characters.
#pragma once

#include <string>
#include <string_view>

namespace tessora {

// A secret as it may be shown: "****" and its last four characters (only "****" for a secret of
// four characters or fewer, which would otherwise show whole).
std::string MaskedSecret(std::string_view secret);

// The text with every secret masked, the rest byte for byte. Header lines are found after a line
// end, written as CR LF or LF or as the traffic log renders them ("<EOL>", "<LF>"); their names
// in any letter case. An authorization value keeps its scheme ("Basic ", "Bearer "). The
// "access_token" member (any letter case, double or single quotes) keeps the quotes around its
// masked value.
std::string MaskSecrets(std::string_view text);

}  // namespace tessora
