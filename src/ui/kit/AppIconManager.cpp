#include "ui/kit/AppIconManager.h"

namespace AppIconManager {
void applySaved() {}
}
