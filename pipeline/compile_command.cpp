#include "compile_command.h"

#include <cstdio>

#include "load_commands.h"

namespace {

// The script is written only once the session really starts: a desktop without a terminal
// window runs nothing, and a script left behind would be run by the next build's runner.
void RunDosDebugger(const TBuildRequest& request, const std::string& executable, IBuildHost& host,
                    ICompileTarget& target) {
  target.WhileMinimized([&] {
    WriteScript(request.paths.Tool("AUTOEXEC.INI"),
                ComposeDebuggerScript(host, request.paths, executable));
    RunVirtualDos(host, request.paths, true);
  });
}

}  // namespace

void RunCompileCommand(TCompileCommand command, const TBuildRequest& request,
                       const TCompileSettings& settings, IBuildHost& host, ICompileTarget& target,
                       TBuildState& state, TMemImage& memory, TCPUState& cpu) {
  if (command == TCompileCommand::DosDebuggerOnly) {
    RunDosDebugger(request, {}, host, target);
    return;
  }
  const std::string& source = request.paths.source;
  if (source.empty() || request.paths.kind == TSourceKind::Other) return;
  if (settings.programRunning && !target.ConfirmLoadWhileRunning()) return;

  target.ShowProgress(true);
  target.ClearMessages();
  target.SaveSourceIfModified();
  target.AppendMessage("文件 " + source + " 已准备编译...");
  target.SetProgress(1);
  target.ClearDebuggerState();

  const auto finish = [&] {
    target.ShowProgress(false);
    if (command == TCompileCommand::Debug) target.Reset();
  };
  if (settings.cpuSeries != 0 || !BuildProgram(request, host, target, state, memory, cpu)) {
    target.ShowBuildError();
    finish();
    return;
  }
  if (!state.BuildSucceeded) {
    finish();
    return;
  }

  const std::string& executable = request.paths.executable;
  if (command == TCompileCommand::Debug) {
    target.Reset();
    if (settings.disassembly) target.ShowDisassembly();
    target.AppendMessage("正在装载程序代码...");
    target.SetProgress(2);
    const TLoadInfo& info = state.LoadInfo;
    // A download that does not get through stops there: the rest would only fail again.
    bool trainer = target.RunsOnTrainer();
    const bool downloading = trainer;
    if (trainer && info.CodeLength > 0) {
      trainer = target.WriteToTrainer(TSegmentRegister::CS, 0, info.CodeLength);
    }
    target.SetProgress(3);
    if (trainer && info.DataLength > 0) {
      trainer =
          target.WriteToTrainer(TSegmentRegister::DS, info.DataStart & 0x000F, info.DataLength);
    }
    target.SetProgress(4);
    if (trainer && state.UsesProtectedMode) {
      target.SendProtectedModeParameters(state.ProtectedModeParameters);
    }
    target.AppendMessage(LoadedMessage(LoadedLength(info)));
    if (downloading && !trainer) target.AppendMessage(kDownloadFailedMessage);
    target.SetProgress(5);
    target.ClearUserScreen();
  } else {
    RunDosDebugger(request, executable, host, target);
  }
  if (!settings.saveExeFile) std::remove(executable.c_str());
  finish();
}
