#pragma once

// The two fixed sequences. A chained step that fails ends its sequence; the results of the other
// steps are ignored.
void RunInstall();
void RunUninstall();

// The install's last two steps.
void WriteRunOnceEntry();
void WriteInstallationRecord();
// Takes away the record's claim of a whole printer ("Version" and its siblings; "InstallPath"
// stays).
void DeleteInstallationRecord();
