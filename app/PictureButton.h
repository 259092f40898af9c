// SPDX-License-Identifier: MIT

#pragma once

#include <QAbstractButton>

// A two-state check box drawn as a push button: a 32 x 32 picture above a caption that
// wraps onto several lines when it is wider than the button. Shown pressed while checked.
// Screen readers get it as the push button it looks like: its one action presses it, as a
// click or its shortcut does, so that the click handlers run.
class PictureButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit PictureButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
