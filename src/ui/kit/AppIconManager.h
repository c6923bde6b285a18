// Applies the chosen application icon style.
#pragma once

namespace AppIconManager {
// Applies the saved style as the program's and the desktop entry's icon; a missing image
// changes nothing.
void applySaved();
}
