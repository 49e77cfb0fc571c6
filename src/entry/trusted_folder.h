// Code is taken only from a folder that administrators alone can change.
#pragma once

// Empties InstallDir unless nobody but SYSTEM, Administrators, TrustedInstaller and the account
// that runs the agent (an administrator, or SYSTEM itself) can change, rename or replace it and
// what the run takes from it: for /Install (`forInstall`) the driver files and the proxy of
// "plugins\creator" and the add-in, for /Uninstall the add-in alone.
void KeepInstallDirIfTrusted(bool forInstall);
