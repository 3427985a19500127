// How the byte strings of the score files go into the outputs and exports: as UTF-8 the way
// the desktop program shows them, and escaped for each output format.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velotrax::results {

// True when bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Appends the code point c to out in UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// The text as the desktop program shows it, in UTF-8: the bytes themselves when they are valid
// UTF-8, otherwise the bytes read as Windows-1252 (score files made on older systems).
std::string DisplayText(std::string_view bytes);

// The number of characters a UTF-8 text takes on a terminal (code points, one column each).
std::size_t DisplayWidth(std::string_view utf8);

// The text cut to at most characters (at least 4) characters on a character boundary, ending in
// "..." when cut.
std::string CutText(std::string_view utf8, std::size_t characters);

// A CSV field: quoted, with quotes doubled, when it holds a comma, quote, CR or LF.
std::string CsvField(std::string_view utf8);

// A CSV field for a text from another computer: one that begins with =, +, -, @, a tab or a CR
// gets a leading apostrophe and quotes, so that spreadsheets show it as text and never run it as
// a formula.
std::string SpreadsheetCsvField(std::string_view utf8);

// A JSON string literal with its quotes; control characters, quotes and backslashes escaped.
std::string JsonString(std::string_view utf8);

// Character data or an attribute value for XML; characters XML cannot carry become U+FFFD.
std::string XmlText(std::string_view utf8);

// A Markdown table cell: the characters that would end the cell or start markup escaped.
std::string MarkdownCell(std::string_view utf8);

// The text with control characters (line breaks, escape sequences) made visible as blanks, for
// the terminal.
std::string TerminalText(std::string_view utf8);

}  // namespace velotrax::results
