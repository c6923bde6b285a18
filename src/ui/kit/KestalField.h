// A labelled text input: the label in the section-heading look above a rounded input whose 1 pt
// border turns blue while it has keyboard focus. Plain or secure (password) entry.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

class KestalField : public QWidget {
    Q_OBJECT
public:
    // What the input holds, for the input method and completion (the desktop's counterpart of
    // a text content type).
    enum class ContentType { none, emailAddress, password, newPassword, url };

    KestalField(const QString& label, bool isSecure, const QString& placeholder = {},
                ContentType contentType = ContentType::none, QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    QString label() const { return label_; }
    bool isSecure() const { return isSecure_; }

    // The colour the input's border is drawn in now: blue while focused, else the border colour.
    QColor borderColor() const;

signals:
    void textChanged(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Frame;
    QString label_;
    bool isSecure_;
    bool focused_ = false;
    QLabel* labelView_;
    Frame* frame_;
    QLineEdit* input_;
};
