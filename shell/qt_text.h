// The workbench keeps its fixed texts as UTF-8 string views; Qt wants QString.
#pragma once

#include <QString>
#include <string_view>

inline QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
