// Byte strings from the program's files shown in widgets and given back: UTF-8 when the bytes are
// valid UTF-8, Windows-1252 otherwise; a text the user did not edit goes back byte for byte.
#pragma once

#include <QString>
#include <string>

namespace velotrax {

// The widget text for a byte string of the files.
QString ShowText(const std::string& bytes);

// The byte string for a widget text: original when the text is still what ShowText(original)
// gave, otherwise the text as UTF-8.
std::string TakeText(const QString& shown, const std::string& original);

}  // namespace velotrax
