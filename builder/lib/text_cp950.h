// UTF-8 text of the patch author (notice, description, names, registry data)
// turned into the code page 950 bytes that the applier hands to Windows.
#pragma once
#include <cstdint>
#include <string>

// Converts one UTF-8 text. False when the text is not valid UTF-8 or holds a
// character code page 950 cannot hold; *badOffset is then the byte offset of
// that character in utf8 and *what describes it.
bool Utf8ToCp950(const std::string& utf8, std::string* out, size_t* badOffset, std::string* what);

// Converts a text file for a ShortString-free text block: a leading byte-order
// mark is dropped, line ends (LF or CR LF) become NUL separators, a final line
// end is dropped. Errors name the file and line: "notice.txt:3: ...".
bool ConvertTextFile(const std::string& utf8, const std::string& label, std::string* out,
                     std::string* error);

// True when a code page 950 name holds a double-byte character whose second
// byte is '\' or '/': the applier splits paths at every such byte.
bool HasSeparatorTrailByte(const std::string& cp950);

// Code page 950 text from a patch (names, texts, registry strings) as UTF-8
// for display and for finding files on a UTF-8 disk. A byte that is no code
// page 950 character is shown as "\xNN" and the result is false, so that a
// lookup knows the name has no exact UTF-8 form.
bool Cp950ToUtf8(const std::string& cp950, std::string* utf8);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(const std::string& text);

// UTF-16LE bytes to UTF-8; false on a lone surrogate.
bool Utf16LeToUtf8(const std::string& utf16, std::string* out);
