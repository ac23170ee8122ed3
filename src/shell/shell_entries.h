// The client's entries with the Windows 95 family's shell: its line in the list of removable
// programs, and its help file in the Windows help contents. Neither reports a failure to anyone.
#pragma once

// Points "Qelmora" in the uninstall list at target_dir\RM_QEL.EXE. 0 (and nothing written) when
// that program is not there, or its path does not fit.
int register_uninstall_entry();

// Appends the client's three lines to the Windows directory's Help\Windows.cnt unless it already
// names "qel95f.cnt" (compared with case). A missing or empty contents file is left alone, and
// so is any file when the path does not fit. 1 when the file was examined. The Windows directory
// is the system's unless one is given.
int register_help_contents(const char* windows_dir = nullptr);

// Where the help lines go, and what they are.
constexpr const char* help_contents_marker = "qel95f.cnt";
constexpr const char* help_contents_lines[] = {
    ":Index Qelmora Help=qel95f.hlp\r\n",
    ":Link qel95f.hlp\r\n",
    ":include qel95f.cnt\r\n",
};
