// SHA-256 of a text in base64, as a web page's Content-Security-Policy
// names the inline style and script it admits ('sha256-...').
#ifndef ZUSMS_CLI_TEXT_DIGEST_H_
#define ZUSMS_CLI_TEXT_DIGEST_H_

#include <string>
#include <string_view>

namespace zusms::cli {

std::string Sha256Base64(std::string_view data);

}  // namespace zusms::cli

#endif  // ZUSMS_CLI_TEXT_DIGEST_H_
