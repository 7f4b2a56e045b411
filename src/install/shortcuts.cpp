// The component's shortcuts in the all-users Start menu and start-up folders.
#include "install/shortcuts.h"

#include "log/error_text.h"

namespace keldran {

struct Shortcuts::Paths {
  std::string product;    // <Programs>\Keldran, shared by every component
  std::string component;  // <product>\<component> Server
  std::string start;
  std::string stop;
  std::string startup;  // <Startup>\<display name>.lnk, shared by components of one name
};

namespace {}  // namespace

// A failed shell call ends the operation: it is thrown where it happens and reported once, here.
HResult Shortcuts::UpdateShortcuts(bool create) {
  const bool creating = create && flags_.RegApp;
  const std::uint32_t failure = creating ? event::kInstallFailed : event::kRemoveFailed;
  try {
    IShell& shell = platform_.shell;
    std::string programs;
    std::string startup;
    throwIfFailed(shell.SpecialFolder("AllUsersPrograms", &programs));
    throwIfFailed(shell.SpecialFolder("AllUsersStartup", &startup));
    const std::string& comp = config_.ServiceComp;
    Paths paths;
    paths.product = programs + "\\Keldran";
    paths.component = paths.product + "\\" + comp + " Server";
    paths.start = paths.component + "\\Start " + comp + " Server.lnk";
    paths.stop = paths.component + "\\Stop " + comp + " Server.lnk";
    paths.startup = startup + "\\" + config_.DisplayName + ".lnk";
    return creating ? Create(paths) : Remove(paths);
  } catch (const UtilError& error) {
    return events_.logError(category::kInstall, failure,
                            comErrorText(platform_.texts, error.code()).c_str());
  } catch (...) {
    return events_.logError(category::kInstall, failure, "Unexpected error");
  }
}

HResult Shortcuts::Remove(const Paths& paths) {
  IShell& shell = platform_.shell;
  if (shell.FileExists(paths.startup)) throwIfFailed(shell.DeleteFile(paths.startup));
  if (!shell.FolderExists(paths.product)) return 0;
  // Only a component folder that exists lets the product folder go with it: the product
  // folder stays while another component's folder (or anything else) is in it.
  if (shell.FolderExists(paths.component)) {
    throwIfFailed(shell.DeleteFolder(paths.component));
    std::uint32_t files = 0;
    std::uint32_t folders = 0;
    throwIfFailed(shell.FolderCounts(paths.product, &files, &folders));
    if (files == 0 && folders == 0) throwIfFailed(shell.DeleteFolder(paths.product));
  }
  return 0;
}

HResult Shortcuts::Create(const Paths& paths) {
  IShell& shell = platform_.shell;
  if (!shell.FolderExists(paths.product)) throwIfFailed(shell.CreateFolder(paths.product));
  if (!shell.FolderExists(paths.component)) throwIfFailed(shell.CreateFolder(paths.component));
  const std::string& comp = config_.ServiceComp;
  const std::string& name = config_.DisplayName;
  if (!Save(paths.start, comp + " /Start", "Start " + name)) return kEFail;
  if (!Save(paths.stop, comp + " /Stop", "Stop " + name)) return kEFail;
  if (shell.FileExists(paths.startup)) throwIfFailed(shell.DeleteFile(paths.startup));
  // A service starts by itself; only an application needs the start-up folder.
  if (config_.AutoStart != 0 && !flags_.RegServ && !Save(paths.startup, comp + " /Start", name)) {
    return kEFail;
  }
  return 1;
}

bool Shortcuts::Save(const std::string& path, const std::string& arguments,
                     const std::string& description) {
  IShell& shell = platform_.shell;
  if (shell.FileExists(path)) throwIfFailed(shell.DeleteFile(path));
  ShortcutDefinition shortcut;
  shortcut.path = path;
  shortcut.arguments = arguments;
  shortcut.description = description;
  shortcut.target = config_.ExePath;
  // The index is always given, so that a comma in the icon's path is not read as one.
  if (!config_.IconFile.empty() && shell.FileExists(config_.IconFile)) {
    shortcut.iconLocation = config_.IconFile + ",0";
  }
  shortcut.windowStyle = 1;
  shortcut.workingDirectory = config_.ExeDir;
  if (const HResult hr = shell.SaveShortcut(shortcut); Failed(hr)) {
    const std::string text = "Cannot create shortcut \"" + path + "\" due to error" +
                             errorText(platform_.texts, static_cast<std::uint32_t>(hr));
    (void)events_.logError(category::kInstall, event::kInstallFailed, text.c_str());
    return false;
  }
  return true;
}

}  // namespace keldran
