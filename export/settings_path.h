// Where the programs look for the system-scope settings file
// <folder>/LumoraConnector/Configuration.ini. Qt 5 knows only its built-in folder (/etc/xdg on
// Linux); like Qt 6 and the XDG convention, XDG_CONFIG_DIRS names the folders instead when set.
#pragma once

#include <QString>

// Call once at start-up, before the first QSettings is opened, on the main thread. Looks
// through the absolute entries of XDG_CONFIG_DIRS in order (relative and empty ones are
// ignored, as XDG asks) and takes the first that holds LumoraConnector/Configuration.ini as the
// INI system-scope settings folder, or the first absolute entry when none holds it (so the
// defaults apply); returns that folder. Returns an empty string and leaves Qt's default in
// place when there is no absolute entry.
QString applySettingsPathFromEnvironment();
