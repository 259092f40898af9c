// SPDX-License-Identifier: MIT

#include "app/PictureButton.h"

#include <QAccessibleWidget>
#include <QPainter>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

// Qt takes a checkable button for a check box whose action toggles it without a click, which
// its handlers never see.
class PictureButtonAccessible : public QAccessibleWidget
{
public:
    explicit PictureButtonAccessible(PictureButton* button)
        : QAccessibleWidget(button, QAccessible::Button)
    {
    }

    QString text(QAccessible::Text type) const override
    {
        const auto* button = static_cast<const PictureButton*>(widget());
        if (type == QAccessible::Name && button->accessibleName().isEmpty())
            return button->caption();
        if (type == QAccessible::Accelerator)
            return button->shortcut().toString(QKeySequence::NativeText);
        return QAccessibleWidget::text(type);
    }

    QStringList actionNames() const override
    {
        return widget()->isEnabled() ? QStringList { pressAction() } : QStringList {};
    }

    void doAction(const QString& name) override
    {
        if (name == pressAction() && widget()->isEnabled())
            static_cast<PictureButton*>(widget())->animateClick();
    }

    QStringList keyBindingsForAction(const QString& name) const override
    {
        const auto* button = static_cast<const PictureButton*>(widget());
        QStringList keys;
        if (name != pressAction())
            return keys;
        for (const QKeySequence& sequence : { button->shortcut(), button->key() }) {
            if (!sequence.isEmpty())
                keys << sequence.toString(QKeySequence::NativeText);
        }
        return keys;
    }
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object)
{
    if (className == QLatin1String("PictureButton") && object && object->isWidgetType())
        return new PictureButtonAccessible(static_cast<PictureButton*>(object));
    return nullptr;
}

} // namespace

PictureButton::PictureButton(QWidget* parent)
    : QAbstractButton(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    Q_UNUSED(installed);
    setCheckable(true);
    setIconSize(QSize(32, 32));
}

void PictureButton::setKey(const QKeySequence& keys)
{
    m_key = keys;
    auto* shortcut = new QShortcut(keys, this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, &QAbstractButton::animateClick);
}

QString PictureButton::caption() const
{
    QString out;
    const QString caption = text();
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size())
            ++i; // "&&" is one "&"
        out += caption[i];
    }
    return out;
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
    painter.drawText(textRect,
        Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic, text());
}
