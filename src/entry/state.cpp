#include "entry/state.h"

int HasAdminRights = 1;
int Is64BitWindows = 0;
PathBuffer InstallDir = {};
PathBuffer DriverEnvironment = {};
PathBuffer DriverDir = {};
