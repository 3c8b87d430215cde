#pragma once

#include <simdjson.h>

#include <cstddef>
#include <string>
#include <string_view>

// The export's JSON strings, mended and decoded: what the parser would refuse in them, and their
// escapes, as the readers of the export meet them.
namespace JsonText {

// Every "\uD800" to "\uDFFF" escape that is not half of a pair becomes "\uFFFD", which is just as
// long: the parser refuses a lone surrogate, and one such character must not cost its conversation.
void repairLoneSurrogates(char* json, size_t size);

// A copy of a short text, such as a conversation's id, with what the parser would refuse mended.
std::string mended(std::string_view raw);

// A JSON string value as written (with its quotes), decoded; anything else gives "".
std::string decoded(std::string_view raw);

// The text of a string value decoded where it stands in `buffer`, which holds the conversation's
// messages and is the reader's own: a text is never longer decoded than escaped, so a long message
// is not held a second time in the parser's buffer. Null, missing and other types read as empty; a
// bad escape throws the parser's STRING_ERROR.
std::string_view decodedInPlace(simdjson::ondemand::value value, char* buffer);

} // namespace JsonText
