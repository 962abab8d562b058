#pragma once
// Where things are: the executable, the user's folders.
#include <string>

// Full path of the running executable; empty when it cannot be read.
std::string executable_path();
// $HOME, else the password database's home folder.
std::string home_directory();
// The user's Videos folder: XDG_VIDEOS_DIR from user-dirs.dirs, else ~/Videos.
std::string videos_directory();
// $XDG_CONFIG_HOME or ~/.config; $XDG_STATE_HOME or ~/.local/state;
// $XDG_RUNTIME_DIR when it is the user's own and closed to others, else a
// private folder under /tmp or in the home folder; empty when none is.
std::string config_home();
std::string state_home();
std::string runtime_directory();
// True when a new file can be created in the folder.
bool directory_writable(const std::string& path);

// Path pieces on '/' separators.
std::string path_directory(const std::string& path);  // "" when there is none
std::string path_filename(const std::string& path);
std::string path_join(const std::string& dir, const std::string& name);
