// An on/off switch in the desktop's switch look: a rounded track, blue when on, with a round
// knob. Checkable; clicking flips it and emits toggled(bool). `mini` draws the small variant.
#pragma once

#include <QAbstractButton>

class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(const QString& label = {}, bool mini = false, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QSizeF trackSize() const;
    bool mini_;
};
