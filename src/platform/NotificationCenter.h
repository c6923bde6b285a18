// Named app-wide announcements ("wendaro.historyChanged", "wendaro.pttKeyChanged"). A listener
// connects to `posted` with a context object and reacts to the names it cares about; the
// connection ends with the context. A listener on the posting thread runs at once; one on
// another thread gets the announcement through its own event loop.
#pragma once

#include <QObject>

#include <string>

namespace platform {

class NotificationCenter : public QObject {
    Q_OBJECT
public:
    static NotificationCenter& shared();

    void post(const std::string& name) { emit posted(name); }

signals:
    void posted(const std::string& name);
};

}  // namespace platform
