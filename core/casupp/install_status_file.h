// The text of "INSTSTS.JSON", which the installer leaves in the agent root:
// a JSON object whose "app" and "ecd" say whether the protection product got
// installed. Any local program can write the file, so any text gives a
// defined answer.
#pragma once

#include <string_view>

struct InstallStatusKeys {
  int app = 0;   // 1: the product is installed
  int ecd = -1;  // 1: the installation ended cleanly
};

// The two keys when `text` is a JSON object holding them as integers; the
// defaults for anything else (broken, nested deeper than the JSON reader
// goes, keys of another type).
InstallStatusKeys ReadInstallStatusKeys(std::string_view text);
