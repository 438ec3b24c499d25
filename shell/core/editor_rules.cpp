#include "editor_rules.h"

#include <algorithm>
#include <array>

#include "workbench_settings.h"

namespace {

struct TCodeTemplate {
  std::string_view caption;
  std::string_view text;
};

// Every blank counts: the comments of the snippets stand in column 25.
constexpr std::array<TCodeTemplate, kCodeTemplateCount> kTemplates{{
    {"经典格式汇编模板",
     "SSTACK  SEGMENT STACK\r\n        DB 64 DUP(?)\r\nSSTACK  ENDS\r\n\r\nDATA    SEGMENT "
     "STACK\r\n"
     "BUF     DB 16 DUP(?)\r\nDATA    ENDS\r\n\r\nCODE    SEGMENT\r\n"
     "        ASSUME CS:CODE,DS:DATA,SS:SSTACK\r\nSTART   PROC NEAR\r\n"
     "        ;这里开始编写代码\r\nSTART   ENDP\r\nCODE    ENDS\r\n        END START"},
    {"新格式汇编模板",
     "        .8086\r\n\r\n        .MODEL SMALL\r\n\r\n        .STACK\r\n        DB 64 "
     "DUP(?)\r\n\r\n"
     "        .DATA\r\nBUF     DB 16 DUP(?)\r\n\r\n        .CODE\r\nSTART:  ;这里开始编写代码\r\n"
     "        END START"},
    {"32位端口读语句",
     "\r\n        MOV DX,8000H    ;可将8000H改成实际读出的地址\r\n        IN EAX,DX\r\n"},
    {"32位端口写语句",
     "\r\n        MOV DX,8000H    ;可将8000H改成实际写入的地址\r\n"
     "        MOV EAX,0       ;可将0改成实际写入的数据\r\n        OUT DX,EAX\r\n"},
    {"16位端口读语句",
     "\r\n        MOV DX,8000H    ;可将8000H改成实际读出的地址\r\n        IN AX,DX\r\n"},
    {"16位端口写语句",
     "\r\n        MOV DX,8000H    ;可将8000H改成实际写入的地址\r\n"
     "        MOV AX,0        ;可将0改成实际写入的数据\r\n        OUT DX,AX\r\n"},
    {" 8位端口读语句",
     "\r\n        MOV DX,8000H    ;可将8000H改成实际读出的地址\r\n        IN AL,DX\r\n"},
    {" 8位端口写语句",
     "\r\n        MOV DX,8000H    ;可将8000H改成实际写入的地址\r\n"
     "        MOV AL,0        ;可将0改成实际写入的数据\r\n        OUT DX,AL\r\n"},
}};

}  // namespace

TFileKind FileKindOf(std::string_view path) {
  const std::string ext = UpperExtension(path);
  if (ext == ".ASM" || ext == ".INC") return TFileKind::Assembly;
  if (ext == ".C" || ext == ".H") return TFileKind::C;
  if (ext == ".CPP" || ext == ".HPP") return TFileKind::Cpp;
  return TFileKind::Plain;
}

std::string UntitledCaption(std::uint8_t counter) {
  return std::string(settings_keys::kUntitledPrefix) + std::to_string(counter);
}

bool IsUntitledCaption(std::string_view caption) {
  return caption.starts_with(settings_keys::kUntitledPrefix);
}

std::string SaveAsPath(std::string_view path, int filterNumber) {
  constexpr std::array<std::string_view, 6> kExtensions = {".ASM", ".INC", ".C",
                                                           ".H",   ".CPP", ".HPP"};
  std::string result(path);
  if (path.find('.') == std::string_view::npos && filterNumber >= 1 &&
      filterNumber <= static_cast<int>(kExtensions.size())) {
    result += kExtensions[filterNumber - 1];
  }
  return result;
}

std::string_view CodeTemplateCaption(int index) {
  if (index < 0 || index >= kCodeTemplateCount) return {};
  return kTemplates[index].caption;
}

std::string_view CodeTemplateText(int index) {
  if (index < 0 || index >= kCodeTemplateCount) return {};
  return kTemplates[index].text;
}

TFileKind CodeTemplateKind(int index) {
  // Every template of the tree is assembly source.
  return index >= 0 && index < kCodeTemplateCount ? TFileKind::Assembly : TFileKind::Plain;
}

std::string ProposedSearchText(std::string_view selection, std::string_view lastFindText) {
  if (!selection.empty() && selection.find_first_of("\r\n") == std::string_view::npos) {
    return std::string(selection);
  }
  return std::string(lastFindText);
}

long long ClampedLine(long long requested, long long lineCount) {
  return std::clamp(requested, 1LL, std::max(1LL, lineCount));
}
