// The product's registry trees that the uninstall removes, in its order, as the tests expect
// them: the two lists differ on purpose, and the user list names the product key twice.
#pragma once

#include <string>
#include <vector>

inline const std::vector<std::string> kMachineTrees = {
    "SOFTWARE\\Classes\\CLSID\\{C2A97E41-0B6D-4F38-8E15-6D4C2B9A7F03}",
    "SOFTWARE\\Classes\\CLSID\\{5B1E2C90-7D34-4A6F-9C21-3E8D0F6A4B17}",
    "SOFTWARE\\Classes\\TessixTembrin.Document",
    "SOFTWARE\\Classes\\Applications\\TESSIX~1.EXE",
    "SOFTWARE\\Tessix Software\\Tessix Tembrin",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\Programs\\"
    "Tessix Tembrin",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\Tessix Tembrin",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessix Tembrin",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KovraTembrin",
};

inline const std::vector<std::string> kUserTrees = {
    "SOFTWARE\\Classes\\CLSID\\{C2A97E41-0B6D-4F38-8E15-6D4C2B9A7F03}",
    "SOFTWARE\\Classes\\TessixTembrin.Document",
    "SOFTWARE\\Classes\\Applications\\TESSIX~1.EXE",
    "SOFTWARE\\Tessix Software\\Tessix Tembrin",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\Programs\\"
    "Tessix Tembrin",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\Tessix Tembrin",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessix Tembrin",
    "SOFTWARE\\Tessix Software\\Tessix Tembrin",
    "SOFTWARE\\Tessix Software\\Tessix Tembrin Beta",
};
