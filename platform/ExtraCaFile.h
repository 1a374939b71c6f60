#pragma once

#include <string>

// The one setting the program takes from its environment: a PEM file of CA
// certificates that HTTPS connections trust in addition to the system's CA
// store, named by WALLPAPERS_EXTRA_CA_FILE. It exists for sites with their
// own CA, such as the demo site served over HTTPS and the tests; "" when the
// variable is not set. Both the page fetch and the picture downloads honour
// it.
std::string ExtraCaFile();
