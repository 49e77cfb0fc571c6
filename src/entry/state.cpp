#include "entry/state.h"

int HasAdminRights = 1;
int Is64BitWindows = 0;
int DriverForMachine = 1;
PathBuffer InstallDir = {};
PathBuffer DriverEnvironment = {};
PathBuffer DriverDir = {};
