// Where the programs look for the system-scope settings file
// <folder>/LumoraConnector/Configuration.ini. Qt 5 knows only its built-in folder (/etc/xdg on
// Linux); like Qt 6 and the XDG convention, XDG_CONFIG_DIRS names the folder instead when set.
#pragma once

#include <QString>

// Call once at start-up, before the first QSettings is opened, on the main thread. Takes the
// first absolute entry of XDG_CONFIG_DIRS (relative and empty entries are ignored, as XDG asks)
// as the INI system-scope settings folder and returns it; returns an empty string and leaves
// Qt's default in place when there is none.
QString applySettingsPathFromEnvironment();
