// Source files are stored in code page 936 (GBK) while the editor works in UTF-8. The
// conversion keeps every byte of a file that is opened and saved without edits, including
// bytes that are not valid GBK, so a damaged file is never made worse by looking at it.
#pragma once

#include <string>
#include <string_view>

// Decodes code page 936 bytes to UTF-8. ASCII bytes stay; a lead byte 0x81..0xFE with a trail
// byte 0x40..0xFE (not 0x7F) that maps to a character and maps back to the very same two bytes
// becomes that character. Every other byte (0x80, 0xFF, a lead byte without a valid trail, a
// pair without a round-tripping mapping) becomes the private-use character U+F700 + byte
// (U+F780..U+F7FF), so that the encoder can give it back unchanged. A trail byte below 0x80 of
// such a pair stays the ASCII character it is.
std::string Cp936ToUtf8(std::string_view bytes);

// The text of a line a DOS tool wrote, for showing: decoded as Cp936ToUtf8, except that a
// byte that is no character (a lone high byte, a control byte) reads "<0xNN>" and a tab a
// blank, so nothing unreadable or invisible reaches the screen.
std::string Cp936DisplayText(std::string_view bytes);

// True when `text` is well-formed UTF-8 (every character complete, none overlong).
bool IsWellFormedUtf8(std::string_view text);

// Encodes UTF-8 to code page 936. U+F780..U+F7FF become the raw bytes 0x80..0xFF. A character
// with no code page 936 form, and each byte of malformed UTF-8, becomes '?', and *lossy (when
// given) is set to true; it is left alone otherwise.
std::string Utf8ToCp936(std::string_view text, bool* lossy = nullptr);

// The text an editor shows for a file's bytes: decoded as Cp936ToUtf8; CR LF, LF and CR all
// end a line and become CR LF; exactly one line break at the very end of the file is dropped
// (the editor's last line has no break; saving adds it back).
std::string EditorTextFromFile(std::string_view bytes);

// The bytes written for an editor's text: every line (split at CR LF, LF or CR) followed by
// CR LF, the last line included; an empty text writes nothing. Encoded as Utf8ToCp936.
std::string FileBytesFromEditorText(std::string_view text, bool* lossy = nullptr);
