#include "platform/NotificationCenter.h"

namespace platform {

NotificationCenter& NotificationCenter::shared() {
    static NotificationCenter center;
    return center;
}

}  // namespace platform
