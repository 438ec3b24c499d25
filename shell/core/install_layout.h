// Where the workbench's companions lie relative to its executable, in the build tree and in
// an installed tree alike: the programs in <prefix>/lib/corvale (with COMP86 beside them,
// started through links in <prefix>/bin) and the examples in <prefix>/share/corvale. Every
// path is found from the executable's folder, so an installed tree can be moved.
#pragma once

#include <filesystem>

// The examples folder for an executable in `programDir`: "examples" beside it (the build
// tree links it there), else <prefix>/share/corvale/examples for a program in
// <prefix>/lib/corvale or <prefix>/bin. Empty when none of them is a folder.
std::filesystem::path FindExamplesFolder(const std::filesystem::path& programDir);
