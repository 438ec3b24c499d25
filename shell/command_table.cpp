#include "command_table.h"

#include <algorithm>
#include <array>
#include <string>

namespace {

using enum TCommandGroup;

constexpr std::array kCommands = std::to_array<TCommandSpec>({
    // File
    {"afNew", "新建(&N)", "建立新文件", "Ctrl+N", "new", true, None},
    {"afOpen", "打开(&O)...", "打开已存在的文件", "Ctrl+O", "open", true, None},
    {"afSave", "保存(&S)", "保存当前文件", "Ctrl+S", "save", false, None},
    {"afSaveAs", "另存为(&A)...", "将当前文件以新文件名保存", "", "", false, None},
    {"afSaveAll", "全部保存(&V)", "保存所有已修改的文件", "", "saveall", false, None},
    {"afClose", "关闭(&C)", "关闭当前文件", "", "", false, None},
    {"afCloseAll", "全部关闭(&L)", "关闭所有文件", "", "", false, None},
    {"afExit", "退出(&X)", "退出Corvale集成开发环境", "Alt+F4", "exit", true, None},
    // Edit
    {"aeUndo", "撤消(&U)", "撤消上次的动作", "Ctrl+Z", "undo", false, None},
    {"aeRedo", "重复(&R)", "重复上次撤消的动作", "Ctrl+Shift+Z", "redo", false, None},
    {"aeCut", "剪切(&T)", "剪切选定区并放入剪贴板", "Ctrl+X", "cut", false, None},
    {"aeCopy", "复制(&C)", "复制选定区并放入剪贴板", "Ctrl+C", "copy", false, None},
    {"aePaste", "粘贴(&P)", "插入剪贴板内容", "Ctrl+V", "paste", false, None},
    {"aeDelete", "清除(&E)", "清除选定区内容", "Ctrl+Del", "delete", false, None},
    {"aeSelectAll", "全选(&A)", "选定整个编辑窗口内容", "Ctrl+A", "", false, None},
    {"aeFind", "查找(&F)...", "查找指定的字符串", "Ctrl+F", "find", false, None},
    {"aeFindNext", "查找下一个(&N)", "查找下一个出现的字符串", "F3", "findnext", false, None},
    {"aeReplace", "替换(&R)...", "以新的字符串替换原有的字符串", "Ctrl+H", "replace", false, None},
    {"aeGoto", "转到指定行(&G)...", "转到指定行号", "Ctrl+G", "", false, None},
    // View
    {"avFile", "文件管理窗口(&F)", "显示文件管理窗口", "", "", true, None},
    {"avRegisters", "寄存器窗口(&R)", "显示寄存器窗口", "", "", true, None},
    {"avDisassembly", "反汇编窗口(&D)", "显示反汇编窗口", "", "", true, None},
    {"avCompile", "编译窗口(&C)", "显示编译窗口", "", "", true, None},
    {"avMemory", "内存窗口(&M)", "显示内存窗口", "", "", true, None},
    {"avIO", "I/O读写窗口(&I)", "显示I/O读写窗口", "", "", true, None},
    {"avWatches", "观察窗口(&W)", "显示观察窗口", "", "", true, None},
    {"avBreakpoint", "断点窗口(&B)", "显示断点窗口", "", "", true, None},
    {"avUserScreen", "用户窗口(&U)", "用户程序的人机界面", "", "", true, None},
    {"avStack", "堆栈窗口(&K)", "显示堆栈窗口", "", "", true, None},
    {"avBoard", "实验板(&B)", "显示实验板", "", "", true, None},
    {"avOsc", "示波器窗口(&O)...", "打开示波器窗口", "", "osc", true, None},
    // Compile
    {"apDebug", "编译并调试(&C)", "编译、链接，并进入调试", "Ctrl+F9", "build", true, None},
    {"apTD", "编译并启用DEBUG调试(&D)...", "编译、链接，并启用DEBUG调试", "", "", true, None},
    {"apTDN", "无加载启用DEBUG(&N)...", "无加载启用DEBUG", "", "", true, None},
    // Run
    {"arRun", "全速运行(&R)", "全速运行", "F9", "run", true, None},
    {"arRunIgnoreBreakpoint", "忽略断点全速运行", "忽略断点全速运行", "", "runall", true, None},
    {"arRunToCursor", "全速运行到光标行(&U)", "全速运行到光标行", "F4", "runtocursor", true, None},
    {"arSetIP", "设置IP到光标行(&P)", "设置IP到光标行", "Shift+F4", "setip", true, None},
    {"arToggleBreakpoint", "切换断点(&B)", "切换断点", "Ctrl+F8", "breakpoint", false, None},
    {"arClearAllBreakpoint", "清除所有断点(&C)", "清除所有断点", "", "clearbreakpoints", true,
     None},
    {"arTrace", "单步跟踪(&T)", "单步跟踪，进入过程", "F7", "trace", true, None},
    {"arStep", "单步跨越(&S)", "单步跨越，不进过程", "F8", "step", true, None},
    {"arStepOut", "运行到返回(&O)", "运行到当前过程返回调用者", "Shift+F8", "stepout", true, None},
    {"arStepBack", "单步后退(&K)",
     "撤销最近一步（运行之后每次退回一行）：寄存器、内存和用户屏幕回到这一步之前", "Ctrl+F7",
     "stepback", true, None},
    {"arPause", "程序暂停(&S)", "暂停正在运行的程序", "Esc", "pause", false, None},
    {"arReset", "程序复位(&E)", "程序复位", "Ctrl+F2", "reset", true, None},
    {"arReload", "重新载入程序(&L)", "恢复编译装载时的代码和数据并复位，不重新编译", "", "reload",
     true, None},
    // Setup
    {"asOptions", "设置工作方式(&M)...", "设置工作方式", "", "options", true, None},
    {"asComm", "设置通信端口(&C)...", "设置通信端口", "", "", true, None},
    {"asConnect", "重新联机(&R)", "重新与实验系统联机", "", "connect", true, None},
    {"asfCourierNew", "&Courier New", "Delphi / C++ Builder 风格", "", "", true, EditorFont},
    {"asfFixedsys", "&Fixedsys", "Visual C++ 风格", "", "", true, EditorFont},
    {"assSystem", "系统风格(&S)", "使用 Windows 系统的风格", "", "", true, Skin},
    {"assBlue", "天空蓝(&B)", "使用“天空蓝”界面风格", "", "", true, Skin},
    {"assSilver", "金属银(&G)", "使用“金属银”界面风格", "", "", true, Skin},
    // Window
    {"awCascade", "层叠(&C)", "重叠排列窗口", "", "cascade", false, None},
    {"awHorizontal", "水平平铺(&H)", "水平排列窗口", "", "tilehorizontal", false, None},
    {"awVertical", "垂直平铺(&V)", "垂直排列窗口", "", "tilevertical", false, None},
    {"awMinimizeAll", "全部最小化(&M)", "最小化所有窗口", "", "minimize", false, None},
    {"awArrange", "排列图标(&A)", "排列最小化的窗口", "", "arrange", false, None},
    {"awDebugLayout", "调试布局(&D)", "寄存器、内存、观察、堆栈、断点和用户屏幕同时显示", "", "",
     true, None},
    {"awDefaultLayout", "默认布局(&R)", "各窗口回到默认的位置", "", "", true, None},
    // Help
    {"ahHelp", "查看帮助(&H)...", "打开帮助文件", "F1", "help", true, None},
    {"ahAbout", "关于Corvale(&A)...", "显示版本信息", "", "about", true, None},
    // Hidden: shortcut only
    {"aRefreshIcon", "", "", "Ctrl+Alt+F12", "", true, None},
});

constexpr auto S = kSeparator;

// clang-format off
// One line per group between separators, as the menus show them.
constexpr std::array<std::string_view, 11> kFileEntries = {
    "afNew", "afOpen", "afSave", "afSaveAs", "afSaveAll", S,
    "afClose", "afCloseAll", S,
    kRecentFiles,
    "afExit"};
constexpr std::array<std::string_view, 14> kEditEntries = {
    "aeUndo", "aeRedo", S,
    "aeCut", "aeCopy", "aePaste", "aeDelete", "aeSelectAll", S,
    "aeFind", "aeFindNext", "aeReplace", S,
    "aeGoto"};
constexpr std::array<std::string_view, 15> kViewEntries = {
    "avFile", "avRegisters", S,
    "avDisassembly", S,
    "avCompile", "avMemory", "avIO", "avWatches", "avBreakpoint", "avUserScreen", "avStack",
    "avBoard", S,
    "avOsc"};
constexpr std::array<std::string_view, 4> kCompileEntries = {
    "apDebug", S,
    "apTD", "apTDN"};
constexpr std::array<std::string_view, 16> kRunEntries = {
    "arRun", "arRunIgnoreBreakpoint", "arRunToCursor", "arSetIP", S,
    "arToggleBreakpoint", "arClearAllBreakpoint", S,
    "arTrace", "arStep", "arStepOut", "arStepBack", S,
    "arPause", "arReset", "arReload"};
constexpr std::array<std::string_view, 7> kSetupEntries = {
    "asOptions", S,
    "asComm", "asConnect", S,
    kFontMenu, kSkinMenu};
constexpr std::array<std::string_view, 10> kWindowEntries = {
    "awCascade", "awHorizontal", "awVertical", "awMinimizeAll", "awArrange", S,
    "awDebugLayout", "awDefaultLayout", S,
    kWindowList};
constexpr std::array<std::string_view, 3> kHelpEntries = {"ahHelp", S, "ahAbout"};
constexpr std::array<std::string_view, 2> kFontEntries = {"asfCourierNew", "asfFixedsys"};
constexpr std::array<std::string_view, 3> kSkinEntries = {"assSystem", "assBlue", "assSilver"};
// clang-format on

const std::array<TMenuSpec, 8> kMenus = {{
    {"mnuFile", "文件(&F)", "", kFileEntries},
    {"mnuEdit", "编辑(&E)", "", kEditEntries},
    {"mnuView", "视图(&V)", "", kViewEntries},
    {"mnuCompile", "编译(&C)", "", kCompileEntries},
    {"mnuRun", "运行(&R)", "", kRunEntries},
    {"mnuSetup", "设置(&S)", "", kSetupEntries},
    {"mnuWindow", "窗口(&W)", "", kWindowEntries},
    {"mnuHelp", "帮助(&H)", "", kHelpEntries},
}};
const TMenuSpec kFontMenuSpec = {"mnuEditorFont", "设置编辑器字体(&F)", "设置编辑器字体",
                                 kFontEntries};
const TMenuSpec kSkinMenuSpec = {"mnuSkin", "设置主界面风格(&S)", "设置主界面风格", kSkinEntries};

constexpr std::array kToolbar = std::to_array<TToolbarEntry>({
    {"afNew", ""},
    {"afOpen", ""},
    {"afSave", ""},
    {S, ""},
    {"aeUndo", ""},
    {"aeRedo", ""},
    {S, ""},
    {"aeCut", ""},
    {"aeCopy", ""},
    {"aePaste", ""},
    {S, ""},
    {"aeFind", "查找"},
    {"aeFindNext", ""},
    {"aeReplace", ""},
    {S, ""},
    {"apDebug", "编译"},
    {S, ""},
    {"arReset", ""},
    {"arPause", ""},
    {"arRun", ""},
    {"arRunIgnoreBreakpoint", ""},
    {"arTrace", ""},
    {"arStep", ""},
    {"arStepOut", ""},
    {"arStepBack", ""},
    {"arToggleBreakpoint", ""},
    {"arClearAllBreakpoint", ""},
    {"arRunToCursor", ""},
    {"arSetIP", ""},
    {S, ""},
    {"avOsc", "示波器"},
    {S, ""},
    {"asConnect", "联机"},
    {S, ""},
    {"awCascade", ""},
    {"awHorizontal", ""},
    {"awVertical", ""},
    {"awMinimizeAll", ""},
    {"awArrange", ""},
    {S, ""},
    {"afExit", "退出"},
});

}  // namespace

std::span<const TCommandSpec> Commands() { return kCommands; }

const TCommandSpec* FindCommand(std::string_view name) {
  const auto it = std::ranges::find(kCommands, name, &TCommandSpec::name);
  return it == kCommands.end() ? nullptr : &*it;
}

std::span<const TMenuSpec> MainMenus() { return kMenus; }
const TMenuSpec& FontMenu() { return kFontMenuSpec; }
const TMenuSpec& SkinMenu() { return kSkinMenuSpec; }
std::span<const TToolbarEntry> ToolbarLayout() { return kToolbar; }

std::string ToolTipText(std::string_view hint, std::string_view keys) {
  std::string text(hint);
  if (!keys.empty()) text.append(" (").append(keys).append(")");
  return text;
}
