// How a text from a log or a path reaches each of the report's readers. Names come from anyone:
// whoever named a PC's folder or wrote into a log. The machine outputs (CSV, JSON) keep the exact
// text, escaped by their own rules; what a person reads (the terminal, the page) shows every
// character that could move the cursor, hide, reorder or split the text as an escape.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

/// UTF-8 of UTF-16 text; a unit that is no valid UTF-16 (a lone surrogate, which Windows allows
/// in names) becomes U+FFFD. Every reader gets its text through this or ValidUtf8.
std::string Utf8(std::u16string_view text);

/// The bytes as UTF-8, each byte that is no part of valid UTF-8 as U+FFFD.
std::string ValidUtf8(std::string_view bytes);

/// A path as the report shows it, in valid UTF-8: Linux's bytes, Windows' UTF-16.
std::string ShownPath(const std::filesystem::path::string_type& path);

/// Valid UTF-8 as a terminal may show it, for the summary and every error line. C0 and C1
/// controls and DEL become `\x1b` and the like, so that no name moves the cursor, rings or starts
/// a line; characters that reorder, hide or split text (bidirectional controls, zero-width and
/// other invisible characters, the line and paragraph separators) become `\u202e` and the like.
std::string TerminalText(std::string_view utf8);

/// Valid UTF-8 as one CSV field of RFC 4180, exact; a text that a spreadsheet would run as a
/// formula (it starts with `=`, `+`, `-`, `@`, a tab or a CR) gets a leading `'`.
std::string CsvField(const std::string& value, bool text);

/// Valid UTF-8 as text of an HTML page: markup characters as entities, and what TerminalText
/// escapes as the same visible escapes. A name from a log or a path also goes inside `<bdi>`
/// (IsolatedHtmlText), so that no direction it holds reaches its neighbours.
std::string HtmlText(std::string_view utf8);
std::string IsolatedHtmlText(std::string_view utf8);

// JSON: nlohmann::json's own escaping of the exact text, one object per line.
