// PLACEHOLDER ONLY: registers nothing yet, so the About box's link class does
// not exist. Whoever adds about.cpp (the About box and its link control)
// defines RegisterHyperlinkClass there and deletes this file and its line in
// launcher/CMakeLists.txt in the same commit.
#include "launcher/launcher.h"

ATOM RegisterHyperlinkClass() { return 0; }
