// The processor an assembly source selects with its directives (.386, P486N, .586P...),
// read from the text before it is built, so the workbench can show the registers the
// program uses.
#pragma once

#include <string_view>

// The highest processor level (86, 186, 286, 386, 486 or 586) a directive of `source`
// selects; 86 when there is none. Only directives that start a line count: words in
// comments (after ';' or inside a COMMENT block) and in strings are not directives.
int SourceProcessorLevel(std::string_view source);
