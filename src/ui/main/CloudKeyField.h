// The entry for one provider's API key: a secure field with "Save", and under it either "Key
// saved" or where to get a key. Keys are kept in the keychain under "<provider>ApiKey" and are
// shared by transcription and enhancement with that provider.
#pragma once

#include <QString>
#include <QWidget>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class CloudKeyField : public QWidget {
    Q_OBJECT
public:
    explicit CloudKeyField(const std::string& provider, QWidget* parent = nullptr);

    const std::string& provider() const { return provider_; }
    // Switches to another provider: the field reloads that provider's stored key and unsaved
    // edits are dropped.
    void setProvider(const std::string& provider);

    // The key being edited.
    QString key() const;
    void setKey(const QString& key);
    // Stores the key as typed (the settings trim it; a blank key removes the stored one).
    void save();
    bool saved() const { return saved_; }

    // The key stored for `provider`, "" when there is none.
    static std::string storedKey(const std::string& provider);
    // "<Name> API key"; the provider id itself when it is not one of the five.
    static QString fieldTitle(const std::string& provider);
    // What follows "Get a key at " for the provider; empty for an unknown id.
    static QString keyPage(const std::string& provider);

    // The hint line's text: "Key saved", "Get a key at …", or "" when hidden.
    QString hintText() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void reload();
    void refreshHint();

    std::string provider_;
    bool saved_ = false;
    QLineEdit* input_;
    QPushButton* save_;
    QWidget* hintRow_;
    QLabel* hintIcon_;
    QLabel* hint_;
};
