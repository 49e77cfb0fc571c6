#pragma once

// The two fixed sequences. A chained step that fails ends its sequence; the results of the other
// steps are ignored.
void RunInstall();
void RunUninstall();

// The install's last two steps.
void WriteRunOnceEntry();
void WriteInstallationRecord();
