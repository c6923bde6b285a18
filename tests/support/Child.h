// Reaching a window's parts in tests: a descendant widget by its object name. The name must
// pick out exactly one object of the type, so a renamed or duplicated part fails the test
// with a message instead of a null pointer.
#pragma once

#include <QObject>
#include <QString>

#include <stdexcept>
#include <string>

namespace test {

template <class T>
T* child(const QObject* root, const QString& name) {
    if (!root) throw std::logic_error("looking for '" + name.toStdString() + "' under a null object");
    const auto found = root->findChildren<T*>(name);
    if (found.size() != 1) {
        throw std::logic_error(std::string(found.isEmpty() ? "no" : "more than one") + " " +
                               T::staticMetaObject.className() + " named '" + name.toStdString() + "' under " +
                               root->metaObject()->className());
    }
    return found.front();
}

template <class T>
T* child(const QObject& root, const QString& name) {
    return child<T>(&root, name);
}

// The same through an owning or guarding pointer (unique_ptr, QPointer).
template <class T, class Ptr>
    requires requires(const Ptr& p) { p.get(); }
T* child(const Ptr& owner, const QString& name) {
    return child<T>(static_cast<const QObject*>(owner.get()), name);
}

}  // namespace test
