// The rules of the editor windows that need no window: the kind of a file by its name,
// untitled captions and their counter, the name Save As gives a file, the code templates of
// the file tree, the text a search proposes and the line Go to line lands on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dos_names.h"

// Chooses the highlighter and the icon of a window, its tab and its tree node.
enum class TFileKind { Plain, Assembly, C, Cpp };

// By the extension of the file name (from its last '.'), without regard to letter case:
// .ASM/.INC assembly, .C/.H C, .CPP/.HPP C++, anything else plain text.
TFileKind FileKindOf(std::string_view path);

// "新文件 - " and the counter's value; the counter is one byte and wraps after 255.
std::string UntitledCaption(std::uint8_t counter);
bool IsUntitledCaption(std::string_view caption);

// Save As: a path with no '.' anywhere (directories included) takes the extension of the
// chosen filter, 1 ".ASM" to 6 ".HPP"; filter 7 ("all files") and any other adds nothing.
std::string SaveAsPath(std::string_view path, int filterNumber);

// The eight code templates under "快捷代码助手": the caption of node i and its text. Nodes 0
// and 1 are whole-file templates put before the text; 2 to 7 are snippets put at the caret.
inline constexpr int kCodeTemplateCount = 8;
std::string_view CodeTemplateCaption(int index);
std::string_view CodeTemplateText(int index);
inline bool IsFileTemplate(int index) { return index == 0 || index == 1; }
// The language of a template's text, which chooses the highlighter of an untitled window.
TFileKind CodeTemplateKind(int index);

// The text a Find or Replace box opens with: the selection when it is one line and not
// empty, otherwise the last search.
std::string ProposedSearchText(std::string_view selection, std::string_view lastFindText);

// The line Go to line moves to: clamped to 1 .. lineCount (lineCount at least 1).
long long ClampedLine(long long requested, long long lineCount);
