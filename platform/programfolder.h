// The program folder and the shipped files.
//
// Two kinds of files sit around a program. What it writes (salvos, the
// editor's database, generated configurations, temporary files) goes to the
// program folder. What ships with it and is only read (the help files) is
// found next to the executable, or in the install's share folder.
//
// A program run from the build tree keeps its own folder for both. An
// installed program (its folder read-only, a system folder under /usr, or laid out as
// <prefix>/bin beside <prefix>/share/exel) writes to a per-user folder,
// $XDG_DATA_HOME/exel (~/.local/share/exel by default), created on first use.
// $EXEL_HOME, when set, is the program folder in every case.
#pragma once

#include <QString>

namespace exel {

// Where the program's data goes (see above). Created when it is the per-user
// folder and does not exist yet.
QString programFolder();

// folder + "/" + name (the design joins with a backslash).
QString inProgramFolder(const QString &name);

// programFolder() for a program in exeDir, with this process's environment.
QString programFolderOf(const QString &exeDir);

// The folder of the running executable.
QString executableFolder();

// True when exeDir looks like an installed program's folder rather than a
// build tree: not writable, one of the system's program folders (/usr/bin,
// /usr/lib/..., /usr/local/bin, ...), or with ../share/exel beside it.
bool isInstalledFolder(const QString &exeDir);

// The rules of programFolder() as a pure function, for tests: exelHome and
// xdgDataHome are the variables' values (empty when unset), home the user's
// home folder. Does not create anything.
QString programFolderFor(
    const QString &exelHome, const QString &exeDir, const QString &xdgDataHome, const QString &home);

// Where read-only shipped files are: <prefix>/share/exel for an installed
// program, else the executable's folder.
QString shippedFolder();
QString shippedFolderFor(const QString &exeDir);

// Path of a shipped read-only file. A copy in dataFolder wins (a folder named
// by $EXEL_HOME may carry its own help), then the executable's folder, then the
// install's share folder. When none has it, the path in dataFolder, so that a
// "file not found" message names the program folder.
QString shippedFile(const QString &name, const QString &dataFolder);
QString shippedFile(const QString &name);

} // namespace exel
