// SPDX-License-Identifier: MIT

#include "app/PictureButton.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

PictureButton::PictureButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setIconSize(QSize(32, 32));
}

QSize PictureButton::sizeHint() const
{
    return QSize(137, 81);
}

void PictureButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.state |= (isDown() || isChecked()) ? QStyle::State_Sunken : QStyle::State_Raised;
    if (isChecked())
        option.state |= QStyle::State_On;
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);

    // Pressed buttons show their content one pixel down and right, like a push button.
    const int shift = (isDown() || isChecked()) ? 1 : 0;
    const QRect inner = rect().adjusted(4 + shift, 5 + shift, -4 + shift, -3 + shift);
    const QSize picture = iconSize();
    const QRect pictureRect(inner.x() + (inner.width() - picture.width()) / 2, inner.y(),
        picture.width(), picture.height());
    icon().paint(
        &painter, pictureRect, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);

    const QRect textRect = inner.adjusted(0, picture.height() + 2, 0, 0);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text());
}
