// SPDX-License-Identifier: MIT

#pragma once

#include <QAbstractButton>

// A two-state check box drawn as a push button: a 32 x 32 picture above a caption that
// wraps onto several lines when it is wider than the button. Shown pressed while checked.
// A "&" in the caption marks its mnemonic (Alt and the letter, underlined); a further key
// may press it too. Screen readers get it as the push button it looks like: its one action
// presses it, as a click or a key does, so that the click handlers run.
class PictureButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit PictureButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // A key that presses the button anywhere in its window, besides the mnemonic.
    void setKey(const QKeySequence& keys);
    QKeySequence key() const { return m_key; }
    // The caption without its mnemonic mark, as it reads.
    QString caption() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QKeySequence m_key;
};
