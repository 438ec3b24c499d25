// The folders the running workbench works from, found from its own executable.
#pragma once

#include <QString>
#include <string>

// The folder whose COMP86 the builds use, ending in "/". Normally the executable's own
// folder; when its COMP86 cannot take the build script (an installed copy under /usr), a
// private folder of this process that links to the same tools, removed at exit.
std::string BuildProgramDirectory();

// The examples folder (empty when there is none).
QString ExamplesFolder();
